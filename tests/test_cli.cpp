#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "picture/blur.h"
#include "render/tracer.h"
#include "serial/xmlserial.h"

namespace {

struct Result {
    int status = -1;
    QByteArray out, err;
};

Result runCommand(const QStringList& args)
{
    QProcess p;
    // No display and no platform plugin: the command must not need them.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "none-such");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LUMIVEX_RENDER), args);
    Result r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.status = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QImage readPpm(const QString& path)
{
    QImage img(path, "ppm");
    return img.convertToFormat(QImage::Format_RGB32);
}

QImage rgb(const QImage& img)
{
    return img.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void builtInPictureEqualsTheWindowsRender()
    {
        QTemporaryDir dir;
        const QString png = dir.filePath("out.png"), ppm = dir.filePath("out.ppm");
        QCOMPARE(runCommand({"-o", png}).status, 0);
        const QImage expected = rgb(render(Scene::builtIn()));
        QCOMPARE(rgb(QImage(png)), expected);
        QCOMPARE(runCommand({"--output", ppm, "--threads", "1", "--repeat", "2"}).status, 0);
        QCOMPARE(readPpm(ppm), expected);
    }

    void cameraBlurAndReference()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath("a.png"), b = dir.filePath("b.png");
        QCOMPARE(runCommand({"--camera", "0.5,-0.25,-2", "--blur", "-o", a}).status, 0);
        Scene s = Scene::builtIn();
        s.CamPos = Vector3D(0.5f, -0.25f, -2);
        QCOMPARE(rgb(QImage(a)), blurReference(render(s)));
        QCOMPARE(runCommand({"--camera", "0.5,-0.25,-2", "--blur", "--reference", "-o", b}).status, 0);
        QCOMPARE(QImage(b), QImage(a));
    }

    void saveLoadAndRenderRoundTrip()
    {
        QTemporaryDir dir;
        const QString xml = dir.filePath("s.xml"), bin = dir.filePath("s.bin");
        const QString fromXml = dir.filePath("x.png"), fromBin = dir.filePath("b.png");
        QCOMPARE(runCommand({"--camera", "1,0.5,-3", "--save-xml", xml, "--save-bin", bin}).status, 0);
        QFile f(xml);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("<Vector Name = \"Position\"> 1.000000 0.500000 -3.000000 </Vector>"));
        QCOMPARE(runCommand({"--xml", xml, "-o", fromXml}).status, 0);
        QCOMPARE(runCommand({"--bin", bin, "-o", fromBin}).status, 0);
        Scene s = Scene::builtIn();
        s.CamPos = Vector3D(1, 0.5f, -3);
        QCOMPARE(rgb(QImage(fromXml)), rgb(render(s)));
        QCOMPARE(QImage(fromBin), QImage(fromXml));
        // A loaded picture size sets the output size.
        Scene small = Scene::builtIn();
        small.Wid = 33;
        small.Hey = 21;
        XMLS w;
        QVERIFY(saveScene(w, xml, small));
        QCOMPARE(runCommand({"--xml", xml, "-o", fromXml}).status, 0);
        QCOMPARE(QImage(fromXml).size(), QSize(33, 21));
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option") << QStringList{"--fast", "-o", "OUT.png"} << 2 << "unknown option '--fast'";
        QTest::newRow("missing value") << QStringList{"-o"} << 2 << "needs a value";
        QTest::newRow("nothing to do") << QStringList{"--blur"} << 2 << "nothing to write";
        QTest::newRow("bad extension") << QStringList{"-o", "OUT.gif"} << 2 << "use .png, .jpg, .bmp or .ppm";
        QTest::newRow("bad camera") << QStringList{"--camera", "1,2", "-o", "OUT.png"} << 2 << "--camera";
        QTest::newRow("camera not a number") << QStringList{"--camera", "1,x,2", "-o", "OUT.png"} << 2 << "--camera";
        QTest::newRow("threads 0") << QStringList{"--threads", "0", "-o", "OUT.png"} << 2 << "--threads";
        QTest::newRow("repeat too many") << QStringList{"--repeat", "100001", "-o", "OUT.png"} << 2 << "--repeat";
        QTest::newRow("both loads") << QStringList{"--xml", "a", "--bin", "b", "-o", "OUT.png"} << 2 << "either";
        QTest::newRow("missing scene") << QStringList{"--xml", "DIR/none.xml", "-o", "OUT.png"} << 1 << "cannot open";
        QTest::newRow("incomplete scene") << QStringList{"--bin", "DIR/short.bin", "-o", "OUT.png"} << 1 << "ends before";
        QTest::newRow("unwritable output") << QStringList{"-o", "DIR/no/such/OUT.png"} << 1 << "cannot open";
        QTest::newRow("unwritable scene") << QStringList{"--save-xml", "DIR/no/such.xml", "-o", "OUT.png"} << 1
                                          << "cannot open";
    }

    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTemporaryDir dir;
        {
            QFile f(dir.filePath("short.bin"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<Screen>\nchar* Scre\nint 10\n");
        }
        const QString out = dir.filePath("OUT.png");
        for (QString& a : args)
            a.replace("DIR", dir.path()).replace(QRegularExpression("^OUT"), out);
        const Result r = runCommand(args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.startsWith("lumivex-render: ") && r.err.count('\n') == 1, r.err.constData());
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        QVERIFY(!QFile::exists(out));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // only the fixture remains
    }

    void helpAndVersion()
    {
        const Result help = runCommand({"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains("--save-bin"));
        const Result version = runCommand({"--version"});
        QCOMPARE(version.status, 0);
        QVERIFY(version.out.startsWith("lumivex-render "));
    }
};

QTEST_APPLESS_MAIN(TestCli)
#include "test_cli.moc"
