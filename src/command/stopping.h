#pragma once

// How lumivex-render stops. A signal that would end it (Ctrl+C, a termination request, a
// closed terminal's hangup, and the others whose default is to end a program) sets g_stop: the
// work stops at its next stage, leaving no partial file, and the program then ends by that
// signal, as the shell expects (130 for Ctrl+C, 143 for a termination request). A second
// signal ends it at once.

#include <QString>
#include <atomic>

extern std::atomic<bool> g_stop;
// The first signal that asked for the stop; 0: none.
extern std::atomic<int> g_signal;

// Catches every signal that would end the program and was not ignored when it started (a
// command started under nohup keeps running when its terminal closes).
void catchSignals();

// The status of a run stopped by a signal, after saying on one line what it left; main then
// ends the program by that signal.
int interrupted(const QString& what);

// Ends the program by the signal that stopped it, if one did; returns otherwise.
void endBySignalIfStopped();

// Marks a stretch of work in which a signal ends the program at once: while it may wait for
// ever for another process (opening or writing a pipe, a device or standard output) or works
// on what cannot be stopped part way (the plain tracer). Nothing of ours is half-written then:
// such output is written in place, not through a temporary file, and a render writes no file;
// a video under way is given up on the spot.
class EndAtOnce {
public:
    explicit EndAtOnce(bool on);
    ~EndAtOnce();
    EndAtOnce(const EndAtOnce&) = delete;
    EndAtOnce& operator=(const EndAtOnce&) = delete;

private:
    bool m_on;
};
