#include "command/stopping.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "command/report.h"
#include "picture/videowriter.h"

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};

namespace {

// Every signal whose default ends the program. SIGPIPE among them only while it is not ignored:
// once ffmpeg runs, a pipe it closed is its failure, reported as such.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE};

// True while a signal is to end the program at once (see EndAtOnce).
std::atomic<bool> g_endAtOnce{false};

// Ends the program by `sig` now, giving up any video under way (ffmpeg would otherwise finish
// it from what it has). Safe in a handler; `say` false: silently.
[[noreturn]] void endNow(int sig, bool say)
{
    static const char said[] = "lumivex-render: interrupted\n";
    if (say) {
        [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, said, sizeof said - 1);
    }
    VideoWriter::abandonAllAndEndBy(sig);
}

extern "C" void onSignal(int sig, siginfo_t* info, void*)
{
    // A pipe whose reader has gone, met by our own write (standard output into `head`, say):
    // the program ends by it at once and quietly, as a program that does not catch it would.
    // Nothing is half-written: output into a pipe is written in place.
    if (sig == SIGPIPE && info && info->si_code == SI_USER && info->si_pid == getpid())
        endNow(sig, false);
    int none = 0;
    const bool again = !g_signal.compare_exchange_strong(none, sig);
    g_stop = true;
    // A second signal ends the program at once too, whatever it waits for.
    if (g_endAtOnce || again)
        endNow(sig, true);
}

} // namespace

void catchSignals()
{
    struct sigaction action = {};
    action.sa_sigaction = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    for (const int sig : kEndingSignals) {
        struct sigaction was = {};
        if (sigaction(sig, nullptr, &was) == 0 && !(was.sa_flags & SA_SIGINFO) && was.sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &action, nullptr);
    }
}

int interrupted(const QString& what)
{
    return fail(128 + g_signal, QStringLiteral("interrupted: %1").arg(what));
}

void endBySignalIfStopped()
{
    if (const int sig = g_signal) {
        std::fflush(nullptr);
        endNow(sig, false);
    }
}

EndAtOnce::EndAtOnce(bool on) : m_on(on)
{
    if (!m_on)
        return;
    g_endAtOnce = true;
    // A signal that came just before is honoured now.
    if (const int sig = g_signal)
        endNow(sig, true);
}

EndAtOnce::~EndAtOnce()
{
    if (m_on)
        g_endAtOnce = false;
}
