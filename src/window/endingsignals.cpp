#include "window/endingsignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "picture/videowriter.h"

namespace {

constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM};

// The handler only writes a byte here; the window's thread reads it.
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_caught = 0;

extern "C" void onEndingSignal(int sig)
{
    if (g_caught) {
        // Asked twice: nothing more is waited for.
        VideoWriter::abandonAllAndEndBy(sig);
    }
    g_caught = sig;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
}

} // namespace

EndingSignals::EndingSignals(QObject* parent) : QObject(parent)
{
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        emit caught(g_caught);
    });
    struct sigaction action = {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : kEndingSignals) {
        struct sigaction was = {};
        if (sigaction(sig, nullptr, &was) == 0 && !(was.sa_flags & SA_SIGINFO) && was.sa_handler == SIG_IGN)
            continue; // started under nohup, say
        sigaction(sig, &action, nullptr);
    }
}

EndingSignals::~EndingSignals()
{
    // A signal from now on ends the program as it would have without us.
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (const int sig : kEndingSignals) {
        struct sigaction was = {};
        if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler == onEndingSignal)
            sigaction(sig, &byDefault, nullptr);
    }
}

int EndingSignals::caughtSignal()
{
    return g_caught;
}

void EndingSignals::endBySignalIfCaught()
{
    if (const int sig = g_caught)
        VideoWriter::abandonAllAndEndBy(sig);
}
