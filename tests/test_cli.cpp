#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <charconv>
#include <csignal>
#include <sys/resource.h>

#include "picture/blur.h"
#include "render/tracer.h"
#include "scene/camerapath.h"
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

// A small scene file, for quick frames.
QString smallScene(const QTemporaryDir& dir, int wid = 48, int hey = 36)
{
    Scene s = Scene::builtIn();
    s.Wid = wid;
    s.Hey = hey;
    const QString path = dir.filePath(QStringLiteral("small%1.xml").arg(wid));
    XMLS writer;
    saveScene(writer, path, s);
    return path;
}

QString writeText(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return f.fileName();
}

QString floatText(float v)
{
    char buf[64];
    return QString::fromLatin1(buf, int(std::to_chars(buf, buf + sizeof buf, v).ptr - buf));
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void pathInterpolationKnownAnswers()
    {
        CameraPath p;
        QString why;
        QVERIFY(parseCameraPath("0 0 0 0\n10 1 2 -4\n20 2 4 -8\n30 3 6 -12\n", "p", p, &why));
        QCOMPARE(p.cameraAt(5, false), Vector3D(0.5f, 1, -2));
        QCOMPARE(p.cameraAt(10, true), Vector3D(1, 2, -4)); // through the key frames
        // Evenly spaced keys on a line: between inner keys the smooth curve is the line.
        QCOMPARE(p.cameraAt(15, true), p.cameraAt(15, false));
        QVERIFY(parseCameraPath("0 0 0 0\n10 1 0 0\n20 1 1 0\n", "p", p, &why));
        QVERIFY(p.cameraAt(15, true).X > 1.0f); // the smooth curve swings out at the corner
        // Worked out in double and rounded once to float; float arithmetic would give
        // 0.200000018, 0.231250018 and 0.0625000298.
        QVERIFY(parseCameraPath("0 0.1 0 0\n4 0.3 0 0\n8 -0.2 0 0\n", "p", p, &why));
        QCOMPARE(p.cameraAt(2, false), Vector3D(0.2f, 0, 0));
        // The end segments repeat their end key: 0.1 0.1 0.3 -0.2 and 0.1 0.3 -0.2 -0.2, each at
        // half way.
        QCOMPARE(p.cameraAt(2, true), Vector3D(0.231250003f, 0, 0));
        QCOMPARE(p.cameraAt(6, true), Vector3D(0.0625000075f, 0, 0));
        // Frames beyond 32 bits, and a share of the way that int arithmetic would get wrong.
        QVERIFY(parseCameraPath("4294967296 0 0 0\n4294967306 1 0 0\n", "p", p, &why));
        QCOMPARE(p.firstFrame(), 4294967296);
        QCOMPARE(p.cameraAt(4294967301, false), Vector3D(0.5f, 0, 0));
    }

    void pathFilesFromOtherSystemsReadTheSame_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF" "0 0.1 0 -1.5\n9 1 2 -3\n");
        QTest::newRow("CR LF") << QByteArray("0 0.1 0 -1.5\r\n9 1 2 -3\r\n");
        QTest::newRow("both, tabs, no last line end") << QByteArray("\xEF\xBB\xBF" "0\t0.1 0 -1.5\r\n9 1 2 -3");
        QTest::newRow("too small for a float") << QByteArray("0 0.1 1e-50 -1.5\n9 1 2 -3\n");
    }

    void pathFilesFromOtherSystemsReadTheSame()
    {
        QFETCH(QByteArray, text);
        CameraPath plain, other;
        QString why;
        QVERIFY(parseCameraPath("0 0.1 0 -1.5\n9 1 2 -3\n", "p", plain, &why));
        QVERIFY2(parseCameraPath(text, "p", other, &why), qPrintable(why));
        QCOMPARE(other.keys.size(), plain.keys.size());
        for (size_t k = 0; k < plain.keys.size(); ++k) {
            QCOMPARE(other.keys[k].frame, plain.keys[k].frame);
            QCOMPARE(other.keys[k].camera, plain.keys[k].camera);
        }
    }

    void pathFramesEqualSingleRenders()
    {
        QTemporaryDir dir;
        const QString scene = smallScene(dir);
        const QString keys = writeText(dir, "keys.txt", "# three keys\n2 0 0 -1.5\n\n5\t0.4 -0.2 -2 # far\r\n9 -0.3 0.1 -1\n");
        CameraPath path;
        QVERIFY(readCameraPath(keys, path, nullptr));
        for (bool smooth : {false, true}) {
            QStringList args = {"--xml", scene, "--path", keys, "-o", dir.filePath("f-%03d.png"), "--quiet"};
            if (smooth)
                args << "--smooth";
            QCOMPARE(runCommand(args).status, 0);
            for (int f : {2, 3, 5, 8, 9}) {
                const Vector3D c = path.cameraAt(f, smooth);
                const QString single = dir.filePath("single.png");
                QCOMPARE(runCommand({"--xml", scene, "--camera",
                                     floatText(c.X) + "," + floatText(c.Y) + "," + floatText(c.Z), "-o", single})
                             .status,
                         0);
                QCOMPARE(bytesOf(dir.filePath(QStringLiteral("f-%1.png").arg(f, 3, 10, QChar('0')))), bytesOf(single));
            }
        }
        QVERIFY(!QFile::exists(dir.filePath("f-001.png")) && !QFile::exists(dir.filePath("f-010.png")));
        // Split over two runs: the same files.
        QCOMPARE(runCommand({"--xml", scene, "--path", keys, "-o", dir.filePath("g-%d.png"), "--frames", "0:4"}).status, 0);
        QCOMPARE(runCommand({"--xml", scene, "--path", keys, "-o", dir.filePath("g-%d.png"), "--frames", "5:99"}).status, 0);
        QCOMPARE(runCommand({"--xml", scene, "--path", keys, "-o", dir.filePath("h-%d.png")}).status, 0);
        for (int f = 2; f <= 9; ++f)
            QCOMPARE(bytesOf(dir.filePath(QStringLiteral("g-%1.png").arg(f))), bytesOf(dir.filePath(QStringLiteral("h-%1.png").arg(f))));
    }

    void damagedPathsAreRefusedWithTheirLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("said");
        QTest::newRow("three values") << QByteArray("0 0 0 0\n3 1 1\n") << ":2: expected FRAME X Y Z";
        QTest::newRow("not ascending") << QByteArray("5 0 0 0\n# x\n5 1 1 1\n") << ":3: frame 5 comes after frame 5";
        QTest::newRow("not a number") << QByteArray("0 0 0 0\n1 a 1 1\n") << ":2: 'a' is not a number";
        QTest::newRow("decimal comma") << QByteArray("0 0 0 0\n1 1,5 1 1\n") << ":2: '1,5' is not a number";
        QTest::newRow("infinite") << QByteArray("0 inf 0 0\n") << ":1: 'inf' is not a finite number";
        QTest::newRow("beyond a float") << QByteArray("0 1e39 0 0\n") << ":1: '1e39' is out of range";
        QTest::newRow("a NUL inside") << QByteArray("0 1\0 0 0\n", 10) << ":1: '1\\x00' is not a number";
        QTest::newRow("a terminal escape") << QByteArray("0 \x1b]0;x\x07 0 0\n") << ":1: '\\x1b]0;x\\x07' is not a number";
        QTest::newRow("a megabyte token") << QByteArray("0 ") + QByteArray(1 << 20, 'x') + " 0 0\n"
                                          << ":1: '" + QString(60, 'x') + "...' is not a number";
        QTest::newRow("frame beyond 64 bits") << QByteArray("9223372036854775808 0 0 0\n")
                                              << ":1: the frame number '9223372036854775808' is out of range";
        QTest::newRow("negative frame") << QByteArray("-1 0 0 0\n") << ":1: the frame number '-1'";
        QTest::newRow("fractional frame") << QByteArray("1.5 0 0 0\n") << ":1: the frame number '1.5'";
        QTest::newRow("empty") << QByteArray("# nothing\n\n") << ":0: no key frames";
    }

    void damagedPathsAreRefusedWithTheirLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", text);
        const Result r = runCommand({"--path", keys, "-o", dir.filePath("f%d.png")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains((keys + said).toLocal8Bit()), r.err.constData());
        QVERIFY2(r.err.size() < 300 && r.err.count('\n') == 1, r.err.left(300).constData());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keys.txt"}); // nothing rendered
    }

    void interruptedPathLeavesWholeFramesAndResumes()
    {
        QTemporaryDir dir;
        const QString scene = smallScene(dir, 640, 480);
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n400 1 0.5 -3\n");
        const QStringList args = {"--xml", scene, "--path", keys, "-o", dir.filePath("f-%04d.png"), "--threads", "1"};
        QProcess p;
        p.start(QStringLiteral(LUMIVEX_RENDER), args);
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("f-0002.png")), 60000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(p.readAllStandardError().contains("interrupted"));
        // Only whole frames: every file there is a picture, and no temporary file is left.
        const QStringList first = QDir(dir.path()).entryList({"f-*"}, QDir::Files);
        QVERIFY(first.size() >= 3 && first.size() < 401);
        for (const QString& f : first)
            QVERIFY2(!QImage(dir.filePath(f)).isNull() && f.endsWith(".png"), qPrintable(f));
        const QByteArray kept = bytesOf(dir.filePath("f-0001.png"));
        // Resuming renders only what is missing.
        Result r = runCommand(QStringList(args) << "--skip-existing" << "--frames" << "0:20" << "--quiet");
        QCOMPARE(r.status, 0);
        QCOMPARE(bytesOf(dir.filePath("f-0001.png")), kept);
        QVERIFY(QFile::exists(dir.filePath("f-0020.png")));
    }

    void picturesGoToStandardOutputAndDevices()
    {
        QTemporaryDir dir;
        const QString scene = smallScene(dir);
        QCOMPARE(runCommand({"--xml", scene, "-o", dir.filePath("file.png")}).status, 0);
        const QByteArray png = bytesOf(dir.filePath("file.png"));
        for (const char* target : {"-", "/dev/stdout"}) {
            const Result r = runCommand({"--xml", scene, "-o", target});
            QCOMPARE(r.status, 0);
            QCOMPARE(r.out, png);
        }
    }

    void exhaustedMemoryIsOneLineNotACrash_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("limitMb");
        QTest::addColumn<QString>("said");
        QTest::newRow("picture") << QStringList() << 200 << "not enough memory for a 8192 x 8192 picture";
        // Where the limit bites first depends on the machine's threads: any of the three lines.
        QTest::newRow("blur") << QStringList{"--blur"} << 400 << "not enough memory";
        QTest::newRow("plain path") << QStringList{"--reference"} << 400 << "not enough memory";
        QTest::newRow("plain path, camera path") << QStringList{"--reference", "--path", "PATHFILE"} << 400
                                                 << "not enough memory";
    }

    void exhaustedMemoryIsOneLineNotACrash()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves more address space than the limit allows");
#endif
        QFETCH(QStringList, extra);
        QFETCH(int, limitMb);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString scene = smallScene(dir, 8192, 8192);
        for (QString& arg : extra)
            if (arg == "PATHFILE") {
                arg = dir.filePath("one.path");
                QFile f(arg);
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write("0 0 0 -1.5\n") > 0);
            }
        QProcess p;
        p.setChildProcessModifier([limitMb] {
            const rlimit lim{rlim_t(limitMb) << 20, rlim_t(limitMb) << 20};
            setrlimit(RLIMIT_AS, &lim);
        });
        p.start(QStringLiteral(LUMIVEX_RENDER), QStringList{"--xml", scene, "-o", dir.filePath("big.png")} + extra);
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains(said.toLatin1()) && err.count('\n') == 1, err.constData());
        QVERIFY(!QFile::exists(dir.filePath("big.png")));
    }

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
        QTest::newRow("empty scene file name") << QStringList{"--xml", "", "-o", "OUT.png"} << 2 << "needs a non-empty value";
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
