#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <atomic>
#include <memory>

#include "scene/scene.h"

// One piece of picture work for BackgroundRenderer: render `scene` (unless `source` is given),
// then blur the result if `blur`. `tag` is the caller's, handed back with the picture.
struct PictureJob {
    Scene scene;
    QImage source;
    bool blur = false;
    quint64 tag = 0;
};

// Renders and blurs pictures on worker threads, one job at a time, newest request first: a new
// request replaces one still waiting, and cancels the running job unless `keepRunning` says
// the running one is still wanted. The finished picture arrives in the thread that owns this
// object. Destroying it cancels the running job and waits for it.
class BackgroundRenderer : public QObject {
    Q_OBJECT

public:
    explicit BackgroundRenderer(QObject* parent = nullptr);
    ~BackgroundRenderer() override;

    void submit(const PictureJob& job, bool keepRunning = false);
    // Cancels the running job and drops a waiting one; returns once no job runs.
    void stopAll();
    // True while a job runs or waits.
    bool busy() const { return m_running || m_waiting; }
    // The tag of the running job, and how far it has come (0..1) and how long it has run.
    quint64 runningTag() const { return m_current ? m_current->job.tag : 0; }
    double progress() const;
    qint64 runningMs() const { return m_running ? m_clock.elapsed() : 0; }

signals:
    // A job's picture (null when it could not be allocated), and the same pixels in the 32-bit
    // RGB format that a pixmap takes over without a copy, so that showing even a large picture
    // costs the receiving thread next to nothing; `seconds` is how long the job took.
    void finished(quint64 tag, const QImage& picture, const QImage& display, double seconds);

private:
    struct Run {
        PictureJob job;
        std::atomic<bool> cancel{false};
        std::atomic<int> columnsDone{0};
        std::atomic<bool> done{false};
    };
    void start();
    void onDone(const std::shared_ptr<Run>& run, const QImage& picture, const QImage& display, bool complete,
                double seconds);

    std::shared_ptr<Run> m_current;
    std::unique_ptr<PictureJob> m_next;
    bool m_running = false;
    bool m_waiting = false;
    QElapsedTimer m_clock;
};
