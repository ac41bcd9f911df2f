#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

// Work of the window that may take minutes (an export, an animation) on a thread of its own,
// so that the window never waits for it, with a box that shows how far it has come and a
// button that stops it. The box is not modal: the window stays usable meanwhile. One piece of
// work at a time.
class LongTask : public QObject {
    Q_OBJECT

public:
    // What the box shows: a line of text and the share done, 0..1 (below 0: not known).
    struct Progress {
        QString text;
        double done = -1;
    };
    struct Plan {
        QString title;        // of the box
        QString stopText;     // its button
        int showAfterMs = 0;  // the box shows only for work that takes longer than this
        // Runs on the worker thread; looks at `stop` and returns soon after it is set.
        std::function<void(const std::atomic<bool>& stop)> work;
        // Read on the window's thread a few times a second.
        std::function<Progress()> progress;
        // Runs on the window's thread once `work` has returned, stopped or not.
        std::function<void()> finish;
    };

    // The box belongs to `window`.
    explicit LongTask(QWidget* window);
    // Asks the work to stop and returns at once; its finish goes nowhere.
    ~LongTask() override;

    // False, doing nothing, while work runs.
    bool start(Plan plan);
    // Asks the work to stop; its finish still comes once it has.
    void stop();
    bool isRunning() const { return m_running; }
    // The box, while it exists (null before the first work).
    QDialog* box() const { return m_box; }

    // Waits up to `ms` for every piece of work started, given-up ones too, to end; false when
    // some still runs. Closing the window waits, so that nothing is left half-done behind it.
    static bool waitForWorkers(int ms);

signals:
    void runningChanged(bool running);

private:
    struct Run;
    struct Mailbox;
    void showProgress();
    void onDone(const std::shared_ptr<Run>& run);

    QWidget* m_window;
    std::shared_ptr<Run> m_run;
    std::shared_ptr<Mailbox> m_mailbox;
    bool m_running = false;
    QTimer* m_poll;
    QDialog* m_box = nullptr;
    QLabel* m_text = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_stop = nullptr;
};
