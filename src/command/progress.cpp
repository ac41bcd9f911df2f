#include "command/progress.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

Progress::Progress(bool on, Style style, qint64 total) : m_on(on), m_style(style), m_total(std::max<qint64>(1, total))
{
    if (m_on)
        m_thread = std::thread([this] { loop(); });
}

Progress::~Progress()
{
    if (!m_on)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_wake.notify_all();
    m_thread.join();
    std::fputs("\r\033[K", stderr);
}

void Progress::loop()
{
    QElapsedTimer clock;
    clock.start();
    const double total = double(m_total);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_done; })) {
        const double done = std::min(total, state.frames());
        if (m_style == Percent) {
            std::fprintf(stderr, "\r\033[K%3.0f%%", done / total * 100);
        } else {
            // The frame under way, counted from 1: the last once every frame is done.
            const qint64 current = std::min(m_total, state.framesDone + 1);
            if (state.encoding) {
                std::fprintf(stderr, "\r\033[Kframe %lld of %lld, encoding the video", static_cast<long long>(current),
                             static_cast<long long>(m_total));
            } else {
                const double rate = done / (clock.nsecsElapsed() / 1e9);
                std::fprintf(stderr, "\r\033[Kframe %lld of %lld, %.2f frames/s, %.0f s left",
                             static_cast<long long>(current), static_cast<long long>(m_total), rate,
                             rate > 0 ? (total - done) / rate : 0.0);
            }
        }
        std::fflush(stderr);
    }
}
