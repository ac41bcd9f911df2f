#pragma once

// Runs a read that must not wait on a pipe. Should it block on `fifo` after all (a reader that
// opened it), the pipe is given a writer and closed again, which ends the read, and the test
// fails instead of hanging.
#include <QTest>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <unistd.h>

template <typename Read>
auto whileNotBlockedOn(const QByteArray& fifo, Read read) -> decltype(read())
{
    auto running = std::async(std::launch::async, read);
    if (running.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        QTest::qFail("the read waited on a pipe", __FILE__, __LINE__);
    }
    return running.get();
}
