#include "render/threadpool.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>

namespace {

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
    // Set once a body has thrown (memory ran out): the others take no more items, and the
    // caller throws the first exception once every thread is out of the work.
    std::atomic<bool> failed{false};
    std::exception_ptr thrown;
    std::mutex mutex;
    std::condition_variable idle;

    void fail(std::exception_ptr e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!thrown)
            thrown = e;
        failed = true;
    }

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
        for (int i; !failed && (i = take(own, true)) >= 0;)
            (*body)(i, i + 1);
        while (!failed) {
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
        while (!failed) {
            const int lo = next.fetch_add(chunk, std::memory_order_relaxed);
            if (lo >= count)
                return;
            (*body)(lo, std::min(count, lo + chunk));
        }
    }
};

std::atomic<void (*)(bool)> g_shareHook{nullptr};

// One pool thread's share of a job. `leaving` is called once the thread is out of the job's
// work, before the caller may return.
template <typename Leaving>
void runShare(Job& j, Leaving leaving)
{
    const auto hook = g_shareHook.load();
    if (hook)
        hook(true);
    ++j.active;
    if (!j.closed) {
        try {
            j.work(false);
        } catch (...) {
            j.fail(std::current_exception());
        }
    }
    leaving();
    if (--j.active == 0) {
        std::lock_guard<std::mutex> lock(j.mutex);
        j.idle.notify_all();
    }
    if (hook)
        hook(false);
}

// The render pool: threads made as shares need them and kept for the program's lifetime,
// waiting for the next share. Made with pthread_create rather than QThread or QThreadPool: a
// thread that cannot be made (no room for its stack, a limit on processes) is then simply one
// thread fewer, where QThread prints a warning of its own on standard error and QThreadPool
// counts the thread as running for ever. A thread counts as idle from the moment it is out of
// a job's work, so that the next job of one caller finds it and no extra thread is made (which
// under a memory limit might fail or take the memory the picture needs).
class Workers {
public:
    // Queues `shares` shares of `job`, making threads for those no idle thread will take. A
    // share taken after its job has closed finds nothing to do.
    void post(const std::shared_ptr<Job>& job, int shares)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int k = 0; k < shares; ++k)
            m_queue.push_back(job);
        m_most = std::max({m_most, shares, QThread::idealThreadCount()});
        // Shares of jobs that have closed are taken and dropped by the threads there are.
        const int waiting = int(std::count_if(m_queue.begin(), m_queue.end(),
                                              [](const std::shared_ptr<Job>& j) { return !j->closed; }));
        while (waiting > m_idle && m_threads < m_most) {
            pthread_attr_t attr;
            pthread_t thread;
            if (pthread_attr_init(&attr) != 0)
                break;
            size_t stack = 0;
            pthread_attr_getstacksize(&attr, &stack);
            // Under a limit on the address space, the stacks take at most a quarter of it, so
            // that asking for many threads does not leave the pictures without memory.
            rlimit space{};
            if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY &&
                (m_threads + 1) * double(stack) > double(space.rlim_cur) / 4) {
                pthread_attr_destroy(&attr);
                break;
            }
            pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
            const int made = pthread_create(&thread, &attr, &Workers::loop, this);
            pthread_attr_destroy(&attr);
            if (made != 0)
                break; // the threads there are, or the caller alone, do the work
            ++m_threads;
            ++m_idle;
        }
        // With no thread at all the shares would wait for ever: the caller does the work.
        if (m_threads == 0)
            m_queue.clear();
        m_wake.notify_all();
    }

private:
    static void* loop(void* self)
    {
        Workers& w = *static_cast<Workers*>(self);
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock<std::mutex> lock(w.m_mutex);
                w.m_wake.wait(lock, [&] { return !w.m_queue.empty(); });
                job = std::move(w.m_queue.front());
                w.m_queue.pop_front();
                --w.m_idle;
            }
            runShare(*job, [&] {
                std::lock_guard<std::mutex> lock(w.m_mutex);
                ++w.m_idle;
            });
        }
        return nullptr;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<Job>> m_queue;
    // Threads made, those of them waiting for a share, and the most a job has asked for (or
    // every core).
    int m_threads = 0, m_idle = 0, m_most = 0;
};

Workers& workers()
{
    // Never destroyed: its threads wait on it until the program ends.
    static Workers* w = new Workers;
    return *w;
}

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
    workers().post(job, n - 1);
    // The caller works too, so every chunk gets done even when no pool thread comes (none free,
    // or none could be made): fewer threads, never a hang.
    try {
        job->work(true);
    } catch (...) {
        job->fail(std::current_exception());
    }
    // Shares that have not begun will not begin now; wait only for those inside the work.
    job->closed = true;
    std::unique_lock<std::mutex> lock(job->mutex);
    job->idle.wait(lock, [&] { return job->active.load() == 0; });
    // What a body threw reaches the caller as if it had run on its thread alone.
    if (job->thrown)
        std::rethrow_exception(job->thrown);
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
