// Times the window's responsiveness: from a key press to the new picture on screen, how long the
// window's thread is held by loading and showing a large picture, and how long an event posted
// to the window waits while a large picture is being rendered.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "window/mainwindow.h"
#include "jobs/background.h"
#include "serial/xmlserial.h"

namespace {

void waitIdle(MainWindow& w)
{
    while (w.isRendering())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double worst(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

double ms(const QElapsedTimer& t)
{
    return t.nsecsElapsed() / 1e6;
}

// Posts events to `w` one after another until `done` says so, and returns how long each waited
// before the window's thread took it.
std::vector<double> postedWaits(MainWindow& w, const std::function<bool()>& done)
{
    std::vector<double> waits;
    while (!done()) {
        QElapsedTimer posted;
        posted.start();
        bool handled = false;
        QTimer::singleShot(0, &w, [&] { handled = true; });
        while (!handled)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        waits.push_back(ms(posted));
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return waits;
}

QString sceneFile(const QTemporaryDir& dir, const char* name, int wid, int hey)
{
    const QString path = dir.filePath(name);
    Scene s = Scene::builtIn();
    s.Wid = wid;
    s.Hey = hey;
    XMLS writer;
    saveScene(writer, path, s);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("Lumivex window benchmark: %d threads (%s platform)\n", QThread::idealThreadCount(),
                qPrintable(QGuiApplication::platformName()));

    {
        // Key press to picture: the key is handled, the render runs in the background and the
        // picture is swapped in.
        MainWindow w;
        w.show();
        std::vector<double> keyToPicture;
        for (int n = 0; n < 20; ++n) {
            QElapsedTimer t;
            t.start();
            QKeyEvent press(QEvent::KeyPress, n % 2 ? Qt::Key_A : Qt::Key_D, Qt::NoModifier);
            QApplication::sendEvent(&w, &press);
            waitIdle(w);
            keyToPicture.push_back(ms(t));
        }
        std::printf("key press to new picture, 1024 x 768: median %.1f ms, worst %.1f ms (20 keys)\n",
                    median(keyToPicture), worst(keyToPicture));

        // Opening a 4096 x 3072 scene: the window's thread returns at once; events posted while
        // the picture is rendered are handled within a few ms.
        const QString big = sceneFile(dir, "big.xml", 4096, 3072);
        QElapsedTimer open;
        open.start();
        w.openFile(big);
        const double openMs = ms(open);
        const std::vector<double> waits = postedWaits(w, [&] { return !w.isRendering(); });
        std::printf("open a 4096 x 3072 scene: window's thread busy %.1f ms; picture after %.0f ms; posted events "
                    "wait median %.2f ms, worst %.2f ms (%zu events)\n",
                    openMs, ms(open), median(waits), worst(waits), waits.size());
    }

    {
        // Starting with an 8192 x 8192 scene file, as `lumivex FILE` does: the window shows at
        // once, a coarse picture first, the full one when it is done.
        const QString huge = sceneFile(dir, "huge.xml", 8192, 8192);
        QElapsedTimer start;
        start.start();
        QString why;
        MainWindow w(huge, &why);
        w.show();
        const double shownMs = ms(start);
        double coarseMs = -1;
        const std::vector<double> waits = postedWaits(w, [&] {
            if (coarseMs < 0 && !w.shownPicture().isNull() && w.shownPicture().width() < 8192)
                coarseMs = ms(start);
            return !w.isRendering();
        });
        const double fullMs = ms(start);
        std::printf("start with an 8192 x 8192 scene: window shown after %.1f ms, coarse picture after %.0f ms, full "
                    "after %.0f ms; posted events wait median %.2f ms, worst %.2f ms (%zu events)\n",
                    shownMs, coarseMs, fullMs, median(waits), worst(waits), waits.size());

        // Closing while that picture is being rendered again: the window's thread is free at once.
        Scene moved = w.scene();
        moved.CamPos.X += 0.5f;
        w.applyScene(moved);
        QElapsedTimer closing;
        closing.start();
        w.close();
        std::printf("close during an 8192 x 8192 render: %.2f ms\n", ms(closing));
    }
    BackgroundRenderer::waitForWorkers();
    return 0;
}
