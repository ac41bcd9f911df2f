// Times the window's responsiveness: from a key press to the new picture on screen, and how long
// an event posted to the window waits while a large picture is being rendered.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/mainwindow.h"
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
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainWindow w;
    w.show();

    // Key press to picture: the key is handled, the render runs in the background and the
    // picture is swapped in.
    std::vector<double> keyToPicture;
    for (int n = 0; n < 20; ++n) {
        QElapsedTimer t;
        t.start();
        QKeyEvent press(QEvent::KeyPress, n % 2 ? Qt::Key_A : Qt::Key_D, Qt::NoModifier);
        QApplication::sendEvent(&w, &press);
        waitIdle(w);
        keyToPicture.push_back(t.nsecsElapsed() / 1e6);
    }

    // A 4096 x 3072 picture: events posted while it renders are handled within a few ms.
    QTemporaryDir dir;
    const QString path = dir.filePath("big.xml");
    Scene big = Scene::builtIn();
    big.Wid = 4096;
    big.Hey = 3072;
    XMLS writer;
    saveScene(writer, path, big);
    w.setFileNameAsker([&](bool) { return path; });
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    closer.start(5);
    w.LoadFromXml();
    closer.stop();
    QElapsedTimer render;
    render.start();
    std::vector<double> waits;
    while (w.isRendering()) {
        QElapsedTimer posted;
        posted.start();
        bool handled = false;
        QTimer::singleShot(0, &w, [&] { handled = true; });
        while (!handled)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        waits.push_back(posted.nsecsElapsed() / 1e6);
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const double renderMs = render.nsecsElapsed() / 1e6;

    std::printf("Lumivex window benchmark (%s platform)\n", qPrintable(QGuiApplication::platformName()));
    std::printf("key press to new picture, 1024 x 768: median %.1f ms, worst %.1f ms (20 keys)\n",
                median(keyToPicture), *std::max_element(keyToPicture.begin(), keyToPicture.end()));
    std::printf("posted event during a 4096 x 3072 render (%.0f ms): median wait %.2f ms, worst %.2f ms, %zu events\n",
                renderMs, waits.empty() ? 0.0 : median(waits),
                waits.empty() ? 0.0 : *std::max_element(waits.begin(), waits.end()), waits.size());
    return 0;
}
