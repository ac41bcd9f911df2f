#include "render/threadpool.h"

#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

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

// What the threads of one parallelFor share. Pool threads hold it too, so that a share that
// starts only after the call has returned (late, or never: a thread that could not be created)
// finds it closed and touches nothing of the caller's.
struct Job {
    const std::function<void(int, int)>* body = nullptr;
    int count = 0, chunk = 1;
    std::atomic<int> next{0};
    std::atomic<int> active{0};
    std::atomic<bool> closed{false};
    std::mutex mutex;
    std::condition_variable idle;

    void work()
    {
        for (;;) {
            const int lo = next.fetch_add(chunk, std::memory_order_relaxed);
            if (lo >= count)
                return;
            (*body)(lo, std::min(count, lo + chunk));
        }
    }
};

class Share : public QRunnable {
public:
    explicit Share(std::shared_ptr<Job> job) : m_job(std::move(job)) {}
    void run() override
    {
        Job& j = *m_job;
        ++j.active;
        if (!j.closed)
            j.work();
        if (--j.active == 0) {
            std::lock_guard<std::mutex> lock(j.mutex);
            j.idle.notify_all();
        }
    }

private:
    std::shared_ptr<Job> m_job;
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
    auto job = std::make_shared<Job>();
    job->body = &body;
    job->count = count;
    job->chunk = chunk;
    QThreadPool& pool = renderPool();
    if (pool.maxThreadCount() < n - 1)
        pool.setMaxThreadCount(n - 1);
    for (int t = 1; t < n; ++t)
        pool.start(new Share(job));
    // The caller works too, so every chunk gets done even when no pool thread comes (none free,
    // or none could be created): fewer threads, never a hang.
    job->work();
    // Shares that have not begun will not begin now; wait only for those inside the work.
    job->closed = true;
    std::unique_lock<std::mutex> lock(job->mutex);
    job->idle.wait(lock, [&] { return job->active.load() == 0; });
}
