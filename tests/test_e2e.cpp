// The real program in a real X server: started, looked at through screenshots, driven by
// synthetic keys, closed. Run under xvfb-run by CTest.
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

} // namespace

class TestE2E : public QObject {
    Q_OBJECT

private slots:
    void realWindow()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display: run under xvfb-run");
        for (const char* tool : {"xdotool", "import"})
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

        // The built-in picture, somewhere inside the window.
        const QImage start = render(Scene::builtIn());
        QPoint at(-1, -1);
        for (int tries = 0; tries < 50 && at.x() < 0; ++tries) {
            at = find(screenshot(window), start);
            if (at.x() < 0)
                QTest::qWait(200);
        }
        QVERIFY2(at.x() >= 0, "the window does not show the built-in picture");

        // D moves the camera by 0.1 along X; Q blurs what is shown.
        runTool({"xdotool", "windowfocus", "--sync", window});
        runTool({"xdotool", "key", "d"});
        Scene moved = Scene::builtIn();
        moved.CamPos.X = float(0.0 + 0.1);
        const QImage movedPicture = render(moved);
        QVERIFY2(shows(window, movedPicture, at), "D did not show the moved camera's picture");
        runTool({"xdotool", "key", "q"});
        QVERIFY2(shows(window, blurReference(movedPicture), at), "Q did not show the blurred picture");
        QCOMPARE(QString::fromLatin1(runTool({"xdotool", "getwindowname", window})).trimmed(), QStringLiteral("Lumivex"));

        // Ctrl alone is no camera key: the blurred picture stays (a render would replace it
        // within a fraction of a second). Ctrl+Z then undoes the move.
        runTool({"xdotool", "key", "ctrl"});
        QTest::qWait(800);
        QVERIFY2(samePixels(screenshot(window).copy(QRect(at, start.size())), blurReference(movedPicture)),
                 "Ctrl alone changed the picture");
        runTool({"xdotool", "key", "ctrl+z"});
        QVERIFY2(shows(window, start, at), "Ctrl+Z did not bring back the first camera's picture");

        runTool({"xdotool", "key", "Escape"});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestE2E)
#include "test_e2e.moc"
