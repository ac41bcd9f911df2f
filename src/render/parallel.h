#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

// Number of threads to use for `requested` (0: every core).
inline int workerCount(int requested)
{
    if (requested > 0)
        return requested;
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

// Runs body(lo, hi) over [0, count) in chunks handed out to `threads` threads (0: every core).
// Chunks are small enough to balance uneven work and large enough to keep hand-outs cheap.
template <typename Body>
void parallelFor(int count, int threads, Body body, int chunk = 0)
{
    const int n = std::min(workerCount(threads), std::max(count, 1));
    if (chunk <= 0)
        chunk = std::max(1, count / (n * 16));
    if (n <= 1) {
        body(0, count);
        return;
    }
    std::atomic<int> next{0};
    auto worker = [&]() {
        for (;;) {
            const int lo = next.fetch_add(chunk);
            if (lo >= count)
                return;
            body(lo, std::min(count, lo + chunk));
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(n - 1);
    for (int t = 1; t < n; ++t)
        pool.emplace_back(worker);
    worker();
    for (auto& th : pool)
        th.join();
}
