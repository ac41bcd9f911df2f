// The real program in a real X server with a window manager, on a 1280 x 800 screen where the
// picture does not fit and scrolls: started, looked at through screenshots, driven by synthetic
// keys and wheel turns, closed. Run under xvfb-run with openbox by CTest.
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <cstring>

#include "picture/blur.h"
#include "render/tracer.h"

namespace {

QByteArray runTool(const QStringList& args, int timeoutMs = 20000)
{
    QProcess p;
    p.start(args.first(), args.mid(1));
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return QByteArray();
    }
    return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
}

// Pixel values only: a screenshot carries colour-space details that a render has not.
bool samePixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return false;
    return true;
}

QImage screenshot(const QString& window)
{
    return QImage::fromData(runTool({"import", "-window", window, "png:-"}), "PNG")
        .convertToFormat(QImage::Format_RGB32);
}

// Where `picture` stands in `shot`, or (-1, -1).
QPoint find(const QImage& shot, const QImage& picture)
{
    const QImage want = picture.convertToFormat(QImage::Format_RGB32);
    for (int oy = 0; oy + want.height() <= shot.height(); ++oy) {
        for (int ox = 0; ox + want.width() <= shot.width(); ++ox) {
            bool same = true;
            for (int y = 0; y < want.height() && same; y += 7)
                for (int x = 0; x < want.width() && same; x += 5)
                    same = shot.pixel(ox + x, oy + y) == want.pixel(x, y);
            if (same && samePixels(shot.copy(ox, oy, want.width(), want.height()), want))
                return QPoint(ox, oy);
        }
    }
    return QPoint(-1, -1);
}

// Takes screenshots until the window shows `picture` at `at`, for up to 20 seconds.
bool shows(const QString& window, const QImage& picture, QPoint at)
{
    const QImage want = picture.convertToFormat(QImage::Format_RGB32);
    for (int tries = 0; tries < 100; ++tries) {
        const QImage shot = screenshot(window);
        if (!shot.isNull() && samePixels(shot.copy(QRect(at, want.size())), want))
            return true;
        QTest::qWait(200);
    }
    return false;
}

// The part of a picture that a 1280 x 800 screen shows of it, from its top left corner.
QImage onScreen(const QImage& picture)
{
    return picture.copy(0, 0, std::min(picture.width(), 700), std::min(picture.height(), 540));
}

// Takes screenshots for `ms` and says whether the picture at `at` stayed `picture` throughout.
bool staysFor(const QString& window, const QImage& picture, QPoint at, int ms)
{
    const QImage want = picture.convertToFormat(QImage::Format_RGB32);
    for (int waited = 0; waited < ms; waited += 200) {
        QTest::qWait(200);
        if (!samePixels(screenshot(window).copy(QRect(at, want.size())), want))
            return false;
    }
    return true;
}

QString xdotool(const QStringList& args)
{
    return QString::fromLatin1(runTool(QStringList{"xdotool"} + args)).trimmed();
}

// The mapped windows whose title matches `name`; with `wait`, waits up to 20 seconds for one.
QString visibleWindow(const QString& name, bool wait = false)
{
    QStringList args{"search"};
    if (wait)
        args << "--sync";
    return xdotool(args << "--onlyvisible" << "--name" << name);
}

} // namespace

class TestE2E : public QObject {
    Q_OBJECT

private slots:
    void realWindow()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display: run under xvfb-run");
        for (const char* tool : {"xdotool", "import", "openbox"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(LUMIVEX_PROGRAM), QStringList());
        QVERIFY(program.waitForStarted());
        // Only a mapped window: Qt's hidden 1 x 1 group leader carries the same name and may
        // be the only match while the program still starts.
        const QString window =
            QString::fromLatin1(runTool({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Lumivex$"}))
                .section('\n', 0, 0);
        QVERIFY2(!window.isEmpty(), "no window titled Lumivex");

        // The built-in picture, somewhere inside the window: the part the screen has room for.
        const QImage start = onScreen(render(Scene::builtIn()));
        QPoint at(-1, -1);
        for (int tries = 0; tries < 50 && at.x() < 0; ++tries) {
            at = find(screenshot(window), start);
            if (at.x() < 0)
                QTest::qWait(200);
        }
        QVERIFY2(at.x() >= 0, "the window does not show the built-in picture");
        const auto picture = [](float x, float z) {
            Scene s = Scene::builtIn();
            s.CamPos.X = x;
            s.CamPos.Z = z;
            return onScreen(render(s));
        };
        const float right = float(0.0 + 0.1);

        // D moves the camera by 0.1 along X; Q blurs what is shown.
        runTool({"xdotool", "windowfocus", "--sync", window});
        runTool({"xdotool", "key", "d"});
        const QImage movedPicture = render([&] {
            Scene s = Scene::builtIn();
            s.CamPos.X = right;
            return s;
        }());
        QVERIFY2(shows(window, onScreen(movedPicture), at), "D did not show the moved camera's picture");
        runTool({"xdotool", "key", "q"});
        QVERIFY2(shows(window, onScreen(blurReference(movedPicture)), at), "Q did not show the blurred picture");
        QCOMPARE(xdotool({"getwindowname", window}), QStringLiteral("Lumivex"));

        // Ctrl alone is no camera key: the blurred picture stays (a render would replace it
        // within a fraction of a second). Ctrl+Z then undoes the move.
        runTool({"xdotool", "key", "ctrl"});
        QVERIFY2(staysFor(window, onScreen(blurReference(movedPicture)), at, 800), "Ctrl alone changed the picture");
        runTool({"xdotool", "key", "ctrl+z"});
        QVERIFY2(shows(window, start, at), "Ctrl+Z did not bring back the first camera's picture");

        // The wheel over the picture, which is larger than the screen, moves the camera every
        // turn and scrolls nothing: three turns towards the user bring it three steps nearer.
        const QString geometry = xdotool({"getwindowgeometry", "--shell", window});
        const int wx = geometry.section("X=", 1).section('\n', 0, 0).toInt();
        const int wy = geometry.section("Y=", 1).section('\n', 0, 0).toInt();
        runTool({"xdotool", "mousemove", QString::number(wx + at.x() + 300), QString::number(wy + at.y() + 300)});
        for (int k = 0; k < 3; ++k)
            runTool({"xdotool", "click", "5"});
        const float nearer = float(float(float(-1.5 + 0.1) + 0.1) + 0.1);
        QVERIFY2(shows(window, picture(0, nearer), at), "three wheel turns over the picture did not move the camera three steps");

        // Alt alone, then Escape: the menu bar lets go, and A moves the camera.
        runTool({"xdotool", "key", "alt"});
        QTest::qWait(300);
        runTool({"xdotool", "key", "Escape"});
        QTest::qWait(300);
        QCOMPARE(program.state(), QProcess::Running);
        runTool({"xdotool", "key", "a"});
        const float left = float(0.0 - 0.1);
        QVERIFY2(shows(window, picture(left, nearer), at), "A after Alt and Escape did not move the camera");

        // The wheel over the scene panel scrolls it and leaves the camera.
        runTool({"xdotool", "key", "ctrl+p"});
        QTest::qWait(1000);
        const QString wide = xdotool({"getwindowgeometry", "--shell", window});
        const int width = wide.section("WIDTH=", 1).section('\n', 0, 0).toInt();
        runTool({"xdotool", "mousemove", QString::number(wx + width - 100), QString::number(wy + 300)});
        for (int k = 0; k < 4; ++k)
            runTool({"xdotool", "click", k < 2 ? "5" : "4"});
        QVERIFY2(staysFor(window, picture(left, nearer), at, 1000), "the wheel over the scene panel changed the picture");

        // After a dialog closes the keys are the camera's again.
        // Each key waits for the dialog it is meant for: on a busy machine an Escape sent before
        // the dialog is up would reach the window and close it.
        runTool({"xdotool", "key", "ctrl+e"});
        QVERIFY2(!visibleWindow("^Export Picture$", true).isEmpty(), "Ctrl+E showed no Export dialog");
        runTool({"xdotool", "key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindow("^Export Picture$").isEmpty(), 20000);
        runTool({"xdotool", "key", "d"});
        QVERIFY2(shows(window, picture(float(left + 0.1), nearer), at), "D after the Export dialog did not move the camera");

        // Unsaved key frames: Escape asks, and Escape in the question keeps the window. Undone,
        // nothing is unsaved and Escape closes as ever.
        runTool({"xdotool", "key", "ctrl+k"});
        QTest::qWait(500);
        runTool({"xdotool", "key", "Escape"});
        QVERIFY2(!visibleWindow("^Key Frames$", true).isEmpty(), "no question about the unsaved key frames");
        runTool({"xdotool", "key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindow("^Key Frames$").isEmpty(), 20000);
        QCOMPARE(program.state(), QProcess::Running);
        runTool({"xdotool", "windowfocus", "--sync", window});
        runTool({"xdotool", "key", "ctrl+z"});
        QTest::qWait(300);

        runTool({"xdotool", "key", "Escape"});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestE2E)
#include "test_e2e.moc"
