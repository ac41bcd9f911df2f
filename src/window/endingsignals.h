#pragma once

#include <QObject>

class QSocketNotifier;

// The signals that would end the window program (a termination request, a closed terminal's
// hangup, Ctrl+C in its terminal, and the others whose default is to end a program), turned
// into an orderly end: `caught` comes on the window's thread, so that the window can stop an
// export or an animation under way, and with it ffmpeg, and remove their unfinished files
// before the program ends by that signal. A second signal ends the program at once, giving
// up any video under way. A signal that was ignored when the program started stays ignored.
class EndingSignals : public QObject {
    Q_OBJECT

public:
    explicit EndingSignals(QObject* parent = nullptr);
    ~EndingSignals() override;

    // The first signal caught; 0: none.
    static int caughtSignal();
    // Ends the program by the signal caught, if one was; returns otherwise.
    static void endBySignalIfCaught();

signals:
    void caught(int signal);

private:
    QSocketNotifier* m_notifier = nullptr;
};
