// Checks, for every float, the two shortcuts the fast tracer takes: pow8 against the library's
// pow(x, 8), and the float square root against the double root rounded to float. Runs on every
// core; exits non-zero and prints the first mismatches if there are any.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "render/pow8.h"

int main(int argc, char** argv)
{
    // Optional stride to sample instead of checking all 2^32 bit patterns.
    const std::uint64_t stride = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    const unsigned n = std::max(1u, std::thread::hardware_concurrency());
    std::atomic<std::uint64_t> mismatches{0}, checked{0};
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < n; ++t) {
        pool.emplace_back([&, t] {
            std::uint64_t local = 0, bad = 0;
            for (std::uint64_t b = t * stride; b < (std::uint64_t(1) << 32); b += n * stride) {
                const std::uint32_t bits = static_cast<std::uint32_t>(b);
                float x;
                std::memcpy(&x, &bits, sizeof x);
                const double want = std::pow(static_cast<double>(x), 8.0);
                const double got = pow8(x);
                ++local;
                if (std::memcmp(&want, &got, sizeof want) != 0 && !(std::isnan(want) && std::isnan(got))) {
                    if (++bad <= 5)
                        std::printf("mismatch at %a: pow %a, pow8 %a\n", double(x), want, got);
                }
                const float rootWant = static_cast<float>(std::sqrt(static_cast<double>(x)));
                const float rootGot = std::sqrt(x);
                if (std::memcmp(&rootWant, &rootGot, sizeof rootWant) != 0 && !(std::isnan(rootWant) && std::isnan(rootGot))) {
                    if (++bad <= 5)
                        std::printf("mismatch at %a: double root %a, float root %a\n", double(x), double(rootWant),
                                    double(rootGot));
                }
            }
            checked += local;
            mismatches += bad;
        });
    }
    for (auto& th : pool)
        th.join();
    std::printf("%llu floats checked, %llu mismatches\n", static_cast<unsigned long long>(checked.load()),
                static_cast<unsigned long long>(mismatches.load()));
    return mismatches.load() == 0 ? 0 : 1;
}
