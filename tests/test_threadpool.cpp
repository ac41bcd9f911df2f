#include <QDir>
#include <QSemaphore>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "render/threadpool.h"

namespace {

// Pool shares wait here until the test lets them go.
QSemaphore g_gate;
std::atomic<int> g_started{0}, g_finished{0};

void holdBack(bool starting)
{
    if (!starting) {
        ++g_finished;
        return;
    }
    ++g_started;
    g_gate.acquire();
}

// The threads of this process.
int threadsNow()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

bool waitFor(const std::atomic<int>& count, int n)
{
    QElapsedTimer clock;
    clock.start();
    while (count < n && clock.elapsed() < 10000)
        QThread::msleep(5);
    return count >= n;
}

} // namespace

class TestThreadPool : public QObject {
    Q_OBJECT

private slots:
    // A pool thread still on its way out of one job (here held in the hook) is there for the
    // same caller's next: one caller on two threads never makes a second pool thread, which
    // under a memory limit might fail or take the picture's memory. First, while the pool is
    // still empty.
    void oneCallerNeedsOnePoolThread()
    {
        const int before = threadsNow();
        setShareHookForTests([](bool starting) {
            if (!starting)
                QThread::msleep(30);
        });
        const auto noHook = qScopeGuard([] { setShareHookForTests(nullptr); });
        std::atomic<int> done{0};
        for (int call = 0; call < 6; ++call)
            parallelFor(64, 2, [&](int lo, int hi) { done += hi - lo; });
        QCOMPARE(done.load(), 6 * 64);
        QCOMPARE(threadsNow(), before + 1);
    }

    // A body that throws (memory ran out) stops the work on every thread, and the call throws
    // it once no thread is in a body any more: never an abort, never a body running after.
    void whatABodyThrowsReachesTheCaller_data()
    {
        QTest::addColumn<bool>("stretches");
        QTest::addColumn<int>("item"); // the item that throws
        QTest::newRow("chunks, the first item") << false << 0;
        QTest::newRow("chunks, an item in the middle") << false << 500;
        QTest::newRow("stretches, the first item") << true << 0;
        QTest::newRow("stretches, the last item") << true << 999;
    }

    void whatABodyThrowsReachesTheCaller()
    {
        QFETCH(bool, stretches);
        QFETCH(int, item);
        std::atomic<int> inside{0}, after{0};
        std::atomic<bool> returned{false};
        const std::function<void(int, int)> body = [&](int lo, int hi) {
            ++inside;
            if (returned)
                ++after;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            const bool fails = lo <= item && item < hi;
            --inside;
            if (fails)
                throw std::bad_alloc();
        };
        bool thrown = false;
        try {
            if (stretches)
                parallelForRuns(1000, 4, body);
            else
                parallelFor(1000, 4, body, 1);
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
        returned = true;
        QVERIFY(thrown);
        QCOMPARE(inside.load(), 0);
        QThread::msleep(50);
        QCOMPARE(after.load(), 0);
    }

    void sharesThatStartLateTouchNothing_data()
    {
        QTest::addColumn<bool>("stretches");
        QTest::newRow("chunks handed out in turn") << false;
        QTest::newRow("stretches of neighbours") << true;
    }

    void sharesThatStartLateTouchNothing()
    {
        QFETCH(bool, stretches);
        constexpr int kItems = 1000, kThreads = 4;
        g_started = 0;
        g_finished = 0;
        setShareHookForTests(holdBack);
        const auto noHook = qScopeGuard([] { setShareHookForTests(nullptr); });
        // Shared with the calling thread, which is left behind should the call never return.
        struct Call {
            std::vector<std::atomic<int>> done = std::vector<std::atomic<int>>(kItems);
            std::atomic<bool> returned{false};
            std::atomic<int> afterReturn{0}, calls{0};
        };
        const auto call = std::make_shared<Call>();
        std::thread([call, stretches] {
            // Outlives the call, so that a share that wrongly runs it late is counted.
            const std::function<void(int, int)> body = [&](int lo, int hi) {
                if (call->returned)
                    ++call->afterReturn;
                for (int i = lo; i < hi; ++i)
                    ++call->done[size_t(i)];
            };
            if (stretches)
                parallelForRuns(kItems, kThreads, body);
            else
                parallelFor(kItems, kThreads, body);
            call->returned = true;
            ++call->calls;
            // The shares may still come: the body must stay until they are gone.
            waitFor(g_finished, kThreads - 1);
        }).detach();
        // Every share has started and is held back: the caller alone does the work and returns.
        const bool started = waitFor(g_started, kThreads - 1);
        const bool returned = waitFor(call->calls, 1);
        g_gate.release(kThreads - 1); // lets the shares go
        QVERIFY(started);
        QVERIFY(returned);
        // The late shares come and go without touching the finished call's work.
        QVERIFY(waitFor(g_finished, kThreads - 1));
        QCOMPARE(call->afterReturn.load(), 0);
        for (const std::atomic<int>& d : call->done)
            QCOMPARE(d.load(), 1);
    }
};

QTEST_APPLESS_MAIN(TestThreadPool)
#include "test_threadpool.moc"
