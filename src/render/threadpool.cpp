#include "render/threadpool.h"

#include <QRunnable>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace {

QThreadPool& renderPool()
{
    // Created on first use and kept for the program's lifetime; its threads expire when idle.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        p->setExpiryTimeout(60000);
        return p;
    }();
    return *pool;
}

// One share of a parallelFor: takes chunks until none is left, then signals.
class Share : public QRunnable {
public:
    Share(const std::function<void()>& work, QSemaphore& done) : m_work(work), m_done(done)
    {
        setAutoDelete(false);
    }
    void run() override
    {
        m_work();
        m_done.release();
    }

private:
    const std::function<void()>& m_work;
    QSemaphore& m_done;
};

} // namespace

int workerCount(int requested)
{
    if (requested > 0)
        return requested;
    return std::max(1, QThread::idealThreadCount());
}

void parallelFor(int count, int threads, const std::function<void(int, int)>& body, int chunk)
{
    const int n = std::min(workerCount(threads), std::max(count, 1));
    if (chunk <= 0)
        // Small chunks: columns differ a lot in cost, and a chunk costs one atomic increment.
        chunk = std::max(1, count / (n * 64));
    if (n <= 1) {
        // The same chunks as with more threads, so that a body may stop between them.
        for (int lo = 0; lo < count; lo += chunk)
            body(lo, std::min(count, lo + chunk));
        return;
    }
    std::atomic<int> next{0};
    const std::function<void()> work = [&] {
        for (;;) {
            const int lo = next.fetch_add(chunk, std::memory_order_relaxed);
            if (lo >= count)
                return;
            body(lo, std::min(count, lo + chunk));
        }
    };
    QThreadPool& pool = renderPool();
    if (pool.maxThreadCount() < n - 1)
        pool.setMaxThreadCount(n - 1);
    QSemaphore done;
    std::vector<std::unique_ptr<Share>> shares;
    shares.reserve(n - 1);
    for (int t = 1; t < n; ++t) {
        shares.push_back(std::make_unique<Share>(work, done));
        pool.start(shares.back().get());
    }
    work();
    // Shares that no pool thread has picked up yet are not needed any more: every chunk has
    // been taken. Taking them back also keeps a caller that is itself a pool thread from
    // waiting on work queued behind it.
    int waiting = 0;
    for (auto& s : shares)
        if (!pool.tryTake(s.get()))
            ++waiting;
    done.acquire(waiting);
}
