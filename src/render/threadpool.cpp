#include "render/threadpool.h"

#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
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
    std::atomic<int> arrived{0};
    std::atomic<bool> closed{false};
    std::mutex mutex;
    std::condition_variable idle;

    // With stretches (parallelForRuns): thread t owns the t-th of `threads` equal stretches of
    // items and takes them from its front; a thread whose stretch is done takes items from the
    // back of the one with most left. Each stretch has a memory line of its own, as its ends
    // move all the time.
    struct alignas(64) Stretch {
        std::atomic<std::uint64_t> span{0}; // front in the low half, back (one past) in the high
    };
    int threads = 0;
    std::unique_ptr<Stretch[]> stretches;

    static std::uint64_t pack(std::uint32_t front, std::uint32_t back) { return std::uint64_t(back) << 32 | front; }

    void divide(int n)
    {
        threads = n;
        stretches.reset(new Stretch[size_t(n)]);
        for (int t = 0; t < n; ++t)
            stretches[size_t(t)].span = pack(std::uint32_t(std::int64_t(count) * t / n),
                                             std::uint32_t(std::int64_t(count) * (t + 1) / n));
    }

    // Takes one item of stretch t, from its front or back; -1 when it has none left.
    int take(int t, bool front)
    {
        std::atomic<std::uint64_t>& span = stretches[size_t(t)].span;
        std::uint64_t s = span.load(std::memory_order_relaxed);
        for (;;) {
            const std::uint32_t lo = std::uint32_t(s), hi = std::uint32_t(s >> 32);
            if (lo >= hi)
                return -1;
            const std::uint64_t taken = front ? pack(lo + 1, hi) : pack(lo, hi - 1);
            if (span.compare_exchange_weak(s, taken, std::memory_order_relaxed))
                return int(front ? lo : hi - 1);
        }
    }

    void workRuns(int own)
    {
        for (int i; (i = take(own, true)) >= 0;)
            (*body)(i, i + 1);
        for (;;) {
            int most = -1;
            std::uint32_t left = 0;
            for (int t = 0; t < threads; ++t) {
                const std::uint64_t s = stretches[size_t(t)].span.load(std::memory_order_relaxed);
                const std::uint32_t lo = std::uint32_t(s), hi = std::uint32_t(s >> 32);
                if (lo < hi && hi - lo > left) {
                    left = hi - lo;
                    most = t;
                }
            }
            if (most < 0)
                return;
            const int i = take(most, false);
            if (i >= 0)
                (*body)(i, i + 1);
        }
    }

    // `caller`: the thread that called parallelFor, which always takes the first stretch, so
    // that a picture rendered again is shared out as it was the last time.
    void work(bool caller)
    {
        if (stretches) {
            workRuns(caller ? 0 : 1 + arrived.fetch_add(1, std::memory_order_relaxed) % (threads - 1));
            return;
        }
        for (;;) {
            const int lo = next.fetch_add(chunk, std::memory_order_relaxed);
            if (lo >= count)
                return;
            (*body)(lo, std::min(count, lo + chunk));
        }
    }
};

std::atomic<void (*)(bool)> g_shareHook{nullptr};

class Share : public QRunnable {
public:
    explicit Share(std::shared_ptr<Job> job) : m_job(std::move(job)) {}
    void run() override
    {
        const auto hook = g_shareHook.load();
        if (hook)
            hook(true);
        Job& j = *m_job;
        ++j.active;
        if (!j.closed)
            j.work(false);
        if (--j.active == 0) {
            std::lock_guard<std::mutex> lock(j.mutex);
            j.idle.notify_all();
        }
        if (hook)
            hook(false);
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

namespace {

void runJob(int count, int threads, const std::function<void(int, int)>& body, int chunk, bool stretches)
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
    if (stretches)
        job->divide(n);
    QThreadPool& pool = renderPool();
    if (pool.maxThreadCount() < n - 1)
        pool.setMaxThreadCount(n - 1);
    for (int t = 1; t < n; ++t)
        pool.start(new Share(job));
    // The caller works too, so every chunk gets done even when no pool thread comes (none free,
    // or none could be created): fewer threads, never a hang.
    job->work(true);
    // Shares that have not begun will not begin now; wait only for those inside the work.
    job->closed = true;
    std::unique_lock<std::mutex> lock(job->mutex);
    job->idle.wait(lock, [&] { return job->active.load() == 0; });
}

} // namespace

void parallelFor(int count, int threads, const std::function<void(int, int)>& body, int chunk)
{
    runJob(count, threads, body, chunk, false);
}

void parallelForRuns(int count, int threads, const std::function<void(int, int)>& body)
{
    runJob(count, threads, body, 1, true);
}

void setShareHookForTests(void (*hook)(bool starting))
{
    g_shareHook = hook;
}
