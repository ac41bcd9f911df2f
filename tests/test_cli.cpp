#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <charconv>
#include <thread>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/blur.h"
#include "picture/supersample.h"
#include "render/tracer.h"
#include "scene/camerapath.h"
#include "serial/xmlserial.h"

namespace {

struct Result {
    int status = -1;
    QByteArray out, err;
};

// Runs the command; `searchPath`, when given, is its PATH.
Result runCommand(const QStringList& args, int timeoutMs = 120000, const QString& searchPath = QString())
{
    QProcess p;
    // No display and no platform plugin: the command must not need them.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!searchPath.isEmpty())
        env.insert("PATH", searchPath);
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "none-such");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LUMIVEX_RENDER), args);
    Result r;
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit)
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

QStringList filesIn(const QTemporaryDir& dir, const QString& pattern)
{
    return QDir(dir.path()).entryList({pattern}, QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
}

// Waits until a thread of process `pid` sleeps in the kernel function `where` (opening a pipe:
// wait_for_partner), so that a signal finds it there. Where the kernel does not say, it waits
// a second and hopes.
bool sleepsIn(qint64 pid, const QByteArray& where)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        bool told = false;
        for (const QString& task : QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray wchan = bytesOf(QStringLiteral("/proc/%1/task/%2/wchan").arg(pid).arg(task));
            told = told || (!wchan.isEmpty() && wchan != "0");
            // Kernels name it a little differently: pipe_write, anon_pipe_write.
            if (wchan.contains(where))
                return true;
        }
        if (!told && clock.elapsed() > 1000)
            return true;
        QThread::msleep(20);
    }
    return false;
}

// The processor time process `pid` has used so far, in seconds.
double cpuSeconds(qint64 pid)
{
    const QList<QByteArray> fields = bytesOf(QStringLiteral("/proc/%1/stat").arg(pid)).split(')').last().split(' ');
    return fields.size() > 13 ? (fields[12].toDouble() + fields[13].toDouble()) / sysconf(_SC_CLK_TCK) : 0.0;
}

// The processes whose parent is `pid`.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QList<QByteArray> fields = bytesOf("/proc/" + entry + "/stat").split(')').last().split(' ');
        if (fields.size() > 2 && fields[2].toLongLong() == pid)
            children << entry.toLongLong();
    }
    return children;
}

// The process group of `pid`; 0 when there is no such process.
qint64 groupOf(qint64 pid)
{
    const QList<QByteArray> fields = bytesOf(QStringLiteral("/proc/%1/stat").arg(pid)).split(')').last().split(' ');
    return fields.size() > 3 ? fields[3].toLongLong() : 0;
}

// True while `pid` runs (a process that has ended but was not yet reaped does not).
bool running(qint64 pid)
{
    const QList<QByteArray> fields = bytesOf(QStringLiteral("/proc/%1/stat").arg(pid)).split(')').last().split(' ');
    return fields.size() > 1 && fields[1] != "Z" && fields[1] != "X";
}

// Puts a stand-in for ffmpeg, the shell script `body`, in a folder of its own; the folder is
// to go first on PATH. Beside it a stand-in for ffprobe, the script `probe`, which the
// video's check runs when ffmpeg has ended well.
void fakeFfmpeg(const QTemporaryDir& bin, const QByteArray& body,
                const QByteArray& probe = "echo 'the stand-in ffprobe' >&2; exit 1")
{
    QFile::setPermissions(writeText(bin, "ffmpeg", "#!/bin/sh\n" + body + "\n"), QFile::ExeOwner | QFile::ReadOwner);
    QFile::setPermissions(writeText(bin, "ffprobe", "#!/bin/sh\n" + probe + "\n"), QFile::ExeOwner | QFile::ReadOwner);
}

// Runs the command with its standard error on a terminal of its own (as progress shows only
// there); returns what it wrote there in `err`. `searchPath`, when given, goes first on PATH.
Result runOnTerminal(const QStringList& args, const QString& searchPath = QString())
{
    Result r;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return r;
    const QByteArray terminal = ::ptsname(master);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!searchPath.isEmpty())
        env.insert("PATH", searchPath + ":" + env.value("PATH"));
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([&terminal] {
        const int fd = ::open(terminal.constData(), O_RDWR | O_NOCTTY);
        ::dup2(fd, STDERR_FILENO);
    });
    p.start(QStringLiteral(LUMIVEX_RENDER), args);
    const auto drain = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            r.err.append(buf, n);
    };
    QElapsedTimer clock;
    clock.start();
    while (!p.waitForFinished(50) && clock.elapsed() < 120000)
        drain();
    drain();
    ::close(master);
    if (p.exitStatus() == QProcess::NormalExit && p.state() == QProcess::NotRunning)
        r.status = p.exitCode();
    return r;
}

// The progress lines in what a terminal was sent: each starts by clearing the line. The
// command's own messages, after the last clearing, are not among them.
QStringList progressLines(const QByteArray& err)
{
    QStringList lines;
    for (const QByteArray& part : err.split('\r')) {
        const QString line = QString::fromUtf8(part.mid(3)).trimmed();
        if (part.startsWith("\033[K") && !line.isEmpty() && !line.startsWith("lumivex-render: "))
            lines << line;
    }
    return lines;
}

// Starts the window offscreen with HOME and its settings in `dir`, to open the missing file
// `missing`, which it reports once the window is made (after the start's own messages); returns
// what it wrote on standard error by then.
QByteArray startWindowUntilItSays(QProcess& p, QProcessEnvironment env, const QTemporaryDir& dir, const QString& missing)
{
    env.insert("HOME", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(LUMIVEX_PROGRAM), {missing});
    QByteArray err;
    if (!p.waitForStarted())
        return err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains(missing.toLocal8Bit()) && clock.elapsed() < 10000 && p.state() == QProcess::Running) {
        p.waitForReadyRead(100);
        err += p.readAllStandardError();
    }
    return err;
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
        QTest::newRow("not ascending") << QByteArray("5 0 0 0\n# x\n3 1 1 1\n") << ":3: frame 3 comes after frame 5";
        QTest::newRow("repeated") << QByteArray("5 0 0 0\n5 1 1 1\n") << ":2: frame 5 repeats";
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
        QTest::newRow("empty") << QByteArray("# nothing\n\n") << " has no key frames";
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

    void pathFromAPipeIsRefusedAtOnce()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath("keys.txt");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const Result r = runCommand({"--path", fifo, "-o", dir.filePath("f%d.png")}, 10000);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(" is not a regular file"), r.err.constData());
    }

    void framesRunToTheLastNumbers_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("up to the largest 32-bit number")
            << QByteArray("2147483645 0 0 -1.5\n2147483647 0.1 0 -1.5\n") << QStringList()
            << QStringList{"f-2147483645.png", "f-2147483646.png", "f-2147483647.png"};
        QTest::newRow("--frames ending there") << QByteArray("0 0 0 -1.5\n2147483647 0.1 0 -1.5\n")
                                               << QStringList{"--frames", "2147483646:2147483647"}
                                               << QStringList{"f-2147483646.png", "f-2147483647.png"};
        QTest::newRow("up to the largest 64-bit number")
            << QByteArray("9223372036854775806 0 0 -1.5\n9223372036854775807 0.1 0 -1.5\n") << QStringList()
            << QStringList{"f-9223372036854775806.png", "f-9223372036854775807.png"};
        // Frames asked for beyond the path are not made up.
        QTest::newRow("--frames beyond both ends") << QByteArray("2 0 0 -1.5\n5 0.1 0 -1.5\n")
                                                   << QStringList{"--frames", "0:20"}
                                                   << QStringList{"f-2.png", "f-3.png", "f-4.png", "f-5.png"};
        QTest::newRow("--frames beyond the end") << QByteArray("2 0 0 -1.5\n5 0.1 0 -1.5\n")
                                                 << QStringList{"--frames", "4:9223372036854775807"}
                                                 << QStringList{"f-4.png", "f-5.png"};
    }

    void framesRunToTheLastNumbers()
    {
        QFETCH(QByteArray, keys);
        QFETCH(QStringList, extra);
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        const QString scene = smallScene(dir, 4, 3);
        const QString path = writeText(dir, "keys.txt", keys);
        const Result r = runCommand(QStringList{"--xml", scene, "--path", path, "-o", dir.filePath("f-%d.png")} + extra, 30000);
        QCOMPARE(r.status, 0);
        QCOMPARE(filesIn(dir, "f-*"), files);
    }

    void framesOutsideThePathAreRefused()
    {
        QTemporaryDir dir;
        const QString path = writeText(dir, "keys.txt", "2 0 0 -1.5\n5 0.1 0 -1.5\n");
        const Result r = runCommand({"--path", path, "-o", dir.filePath("f-%d.png"), "--frames", "6:9"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("--frames 6:9 lies outside the path's frames 2 to 5"), r.err.constData());
        QCOMPARE(filesIn(dir, "f-*"), QStringList());
    }

    void signalsEndEveryStage_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<int>("signal");
        for (int sig : {SIGTERM, SIGINT}) {
            const char* name = sig == SIGTERM ? "SIGTERM" : "SIGINT";
            QTest::newRow(qPrintable(QString("%1 opening a pipe with no reader").arg(name))) << "open" << sig;
            QTest::newRow(qPrintable(QString("%1 writing a pipe nobody reads").arg(name))) << "write" << sig;
            QTest::newRow(qPrintable(QString("%1 saving a scene into a pipe").arg(name))) << "save" << sig;
            QTest::newRow(qPrintable(QString("%1 rendering").arg(name))) << "render" << sig;
            QTest::newRow(qPrintable(QString("%1 rendering on the plain tracer").arg(name))) << "plain" << sig;
        }
    }

    void signalsEndEveryStage()
    {
        QFETCH(QString, stage);
        QFETCH(int, signal);
        QTemporaryDir dir;
        const QString fifo = dir.filePath(stage == "write" ? "pipe.ppm" : "pipe.png");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        // A reader that opens the pipe and never reads: the picture fills it and the writer waits.
        const int reader = stage == "write" ? ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK) : -1;
        const auto closeReader = qScopeGuard([reader] {
            if (reader >= 0)
                ::close(reader);
        });
        const QString out = dir.filePath("out.png");
        QStringList args;
        if (stage == "open" || stage == "write")
            args = QStringList{"-o", fifo};
        else if (stage == "save")
            args = QStringList{"--save-xml", fifo};
        else if (stage == "render")
            args = QStringList{"--xml", smallScene(dir, 6144, 4608), "--threads", "1", "-o", out};
        else
            args = QStringList{"--xml", smallScene(dir, 2048, 1536), "--reference", "-o", out};
        QProcess p;
        p.start(QStringLiteral(LUMIVEX_RENDER), args);
        QVERIFY(p.waitForStarted());
        if (stage == "render" || stage == "plain") {
            QElapsedTimer clock;
            clock.start();
            while (cpuSeconds(p.processId()) < 0.4 && clock.elapsed() < 20000)
                QThread::msleep(20);
        } else if (stage == "write") {
            int queued = 0;
            QElapsedTimer clock;
            clock.start();
            while ((::ioctl(reader, FIONREAD, &queued) != 0 || queued < 4096) && clock.elapsed() < 20000)
                QThread::msleep(20);
            QVERIFY(sleepsIn(p.processId(), "pipe_write"));
        } else {
            QVERIFY(sleepsIn(p.processId(), "wait_for_partner"));
        }
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000));
        // Ended by the signal, as the shell expects (130 or 143), after saying so.
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), signal);
        QVERIFY(p.readAllStandardError().contains("interrupted"));
        QVERIFY(!QFile::exists(out));
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QCOMPARE(filesIn(dir, "*").size(), stage == "render" || stage == "plain" ? 2 : 1); // no temporary file left
    }

    void skipExistingRendersBrokenFramesAgain_data()
    {
        QTest::addColumn<QString>("suffix");
        for (const char* suffix : {"png", "jpg", "bmp", "ppm"})
            QTest::newRow(suffix) << suffix;
    }

    void skipExistingRendersBrokenFramesAgain()
    {
        QFETCH(QString, suffix);
        QTemporaryDir dir;
        const QString scene = smallScene(dir), other = smallScene(dir, 40, 30);
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n5 0.5 0 -2\n");
        const QString frames = dir.filePath("f-%d." + suffix), fresh = dir.filePath("g-%d." + suffix);
        QCOMPARE(runCommand({"--xml", scene, "--path", keys, "-o", fresh, "--quiet"}).status, 0);
        QCOMPARE(runCommand({"--xml", other, "--path", keys, "-o", frames, "--frames", "4:4", "--quiet"}).status, 0);
        const auto frame = [&](const QString& pattern, int f) { return pattern.arg(f); };
        const QString f = dir.filePath("f-%1." + suffix), g = dir.filePath("g-%1." + suffix);
        QVERIFY(QFile::copy(frame(g, 0), frame(f, 0)));
        const QByteArray whole = bytesOf(frame(g, 1));
        writeText(dir, QFileInfo(frame(f, 1)).fileName(), QByteArray());                // empty
        writeText(dir, QFileInfo(frame(f, 2)).fileName(), whole.left(whole.size() - 20)); // cut short
        writeText(dir, QFileInfo(frame(f, 3)).fileName(), "not a picture\n");
        // Frame 4 is a whole picture of another size, frame 5 is missing.
        const QDateTime kept = QFileInfo(frame(f, 0)).lastModified();
        const Result r = runCommand({"--xml", scene, "--path", keys, "-o", frames, "--skip-existing", "--quiet"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains("4 frames were there but not whole pictures of 48 x 36; rendered again"), r.err.constData());
        QCOMPARE(QFileInfo(frame(f, 0)).lastModified(), kept); // a whole frame is left alone
        for (int n = 0; n <= 5; ++n)
            QCOMPARE(bytesOf(frame(f, n)), bytesOf(frame(g, n)));
        // A folder where a frame should go cannot become one.
        QVERIFY(QFile::remove(frame(f, 2)) && QDir(dir.path()).mkdir(QFileInfo(frame(f, 2)).fileName()));
        const Result folder = runCommand({"--xml", scene, "--path", keys, "-o", frames, "--skip-existing", "--quiet"});
        QCOMPARE(folder.status, 1);
        QVERIFY2(folder.err.contains(" is a folder, not a picture") && folder.err.count('\n') == 1, folder.err.constData());
    }

    void windowStartsWhenItsSettingsAreAPipe()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("config/Lumivex"));
        const QString settings = dir.filePath("config/Lumivex/Lumivex.conf");
        QVERIFY(::mkfifo(QFile::encodeName(settings).constData(), 0600) == 0);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString missing = dir.filePath("missing.xml");
        const QByteArray err = startWindowUntilItSays(p, env, dir, missing);
        QVERIFY2(err.contains(missing.toLocal8Bit()), err.constData());
        QVERIFY2(err.contains(settings.toLocal8Bit() + " is not a regular file; settings are not read or kept\n"),
                 err.constData());
        QCOMPARE(p.state(), QProcess::Running);
        p.kill();
        p.waitForFinished();
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(settings).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    }

    // Qt's warnings while the window starts (here QStandardPaths' about an unset
    // XDG_RUNTIME_DIR, as under xvfb-run) stay out of the terminal; asked for, they show.
    void startUpWarningsStayQuiet_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("shown");
        QTest::newRow("by default") << QString() << false;
        QTest::newRow("QT_LOGGING_RULES set") << QStringLiteral("qt.qpa.*=false") << true;
    }
    void startUpWarningsStayQuiet()
    {
        QFETCH(QString, rules);
        QFETCH(bool, shown);
        QTemporaryDir dir;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");
        env.remove("QT_LOGGING_RULES");
        env.remove("QT_DEBUG_PLUGINS");
        if (!rules.isEmpty())
            env.insert("QT_LOGGING_RULES", rules);
        const QString missing = dir.filePath("missing.xml");
        const QByteArray err = startWindowUntilItSays(p, env, dir, missing);
        p.kill();
        p.waitForFinished();
        const QByteArray before = err.left(err.indexOf("lumivex: "));
        QVERIFY2(err.contains(missing.toLocal8Bit()), err.constData());
        QVERIFY2(before.contains("XDG_RUNTIME_DIR") == shown, err.constData());
        if (!shown)
            QVERIFY2(before.isEmpty(), err.constData());
    }

    // A termination request, hangup or Ctrl+C ends the window in order (its work stopped, its
    // unfinished files removed as it is destroyed) and then by that signal, as the shell expects.
    void windowEndsBySignal_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("TERM") << int(SIGTERM);
        QTest::newRow("HUP") << int(SIGHUP);
        QTest::newRow("INT") << int(SIGINT);
    }
    void windowEndsBySignal()
    {
        QFETCH(int, sig);
        QTemporaryDir dir;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LUMIVEX_PROGRAM), QStringList());
        QVERIFY(p.waitForStarted());
        // Sent once the program catches it, so that the test does not pass by the default action.
        const auto catches = [&] {
            QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
            if (!status.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("SigCgt:"))
                    return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1) != 0;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catches(), 20000);
        QCOMPARE(::kill(pid_t(p.processId()), sig), 0);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), sig);
    }

    // Qt's own lines about the display it could not reach are not shown beside the window's.
    void unreachableDisplayIsOneLine()
    {
        QTemporaryDir dir;
        int display = 7391;
        while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)))
            ++display;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("WAYLAND_DISPLAY");
        env.insert("DISPLAY", QStringLiteral(":%1").arg(display));
        env.insert("XAUTHORITY", dir.filePath("none"));
        env.insert("HOME", dir.path());
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LUMIVEX_PROGRAM), QStringList());
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.startsWith("lumivex: cannot open a window") && err.count('\n') == 1, err.constData());
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
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), SIGINT);
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
        // PNG and PPM pictures are rendered and written a band at a time; BMP needs the whole.
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
        p.start(QStringLiteral(LUMIVEX_RENDER), QStringList{"--xml", scene, "-o", dir.filePath("big.bmp")} + extra);
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains(said.toLatin1()) && err.count('\n') == 1, err.constData());
        QVERIFY(!QFile::exists(dir.filePath("big.bmp")));
    }

    void picturesRenderedInBandsAreWhole()
    {
        // Three bands of rows: the same pixels as a picture rendered whole (--repeat renders
        // whole), PPM to the byte.
        QTemporaryDir dir;
        const QString scene = smallScene(dir, 3000, 1500);
        const QString banded = dir.filePath("banded.ppm"), whole = dir.filePath("whole.ppm");
        QCOMPARE(runCommand({"--xml", scene, "-o", banded}).status, 0);
        QCOMPARE(runCommand({"--xml", scene, "-o", whole, "--repeat", "1"}).status, 0);
        QVERIFY(!bytesOf(whole).isEmpty());
        QCOMPARE(bytesOf(banded), bytesOf(whole));
        const QString png = dir.filePath("banded.png");
        QCOMPARE(runCommand({"--xml", scene, "-o", png}).status, 0);
        QCOMPARE(QImage(png).convertToFormat(QImage::Format_RGB32), readPpm(whole));
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
        // --size comes after the file.
        QCOMPARE(runCommand({"--xml", xml, "--size", "20x10", "-o", fromXml}).status, 0);
        QCOMPARE(QImage(fromXml).size(), QSize(20, 10));
    }

    void missingFoldersAreMade_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("pictures");
        QTest::newRow("picture") << QStringList{"-o", "a/b/c.png"} << 0 << QStringList{"a/b/c.png"};
        QTest::newRow("frames, a folder each") << QStringList{"--path", "KEYS", "-o", "f/%02d/x.ppm", "--quiet"} << 0
                                               << QStringList{"f/00/x.ppm", "f/01/x.ppm", "f/02/x.ppm"};
        QTest::newRow("folder is a file") << QStringList{"-o", "plain/c.png"} << 1 << QStringList();
        QTest::newRow("frames' folder is a file") << QStringList{"--path", "KEYS", "-o", "plain/f%d.png"} << 1
                                                  << QStringList();
        QTest::newRow("picture is a folder") << QStringList{"-o", "taken.png"} << 1 << QStringList();
    }

    void missingFoldersAreMade()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, pictures);
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n2 1 0.5 -3\n");
        writeText(dir, "plain", "not a folder");
        QVERIFY(QDir(dir.path()).mkdir("taken.png"));
        for (QString& a : args)
            a = a == "KEYS" ? keys : (a.startsWith('-') ? a : dir.filePath(a));
        const Result r = runCommand(QStringList{"--xml", smallScene(dir)} + args);
        QCOMPARE(r.status, status);
        QCOMPARE(r.err.count('\n'), status == 0 ? 0 : 1);
        for (const QString& p : pictures)
            QVERIFY2(!QImage(dir.filePath(p)).isNull(), qPrintable(p));
        if (status != 0)
            QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                     (QStringList{"keys.txt", "plain", "small48.xml", "taken.png"}));
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
        QTest::newRow("camera not a number") << QStringList{"--camera", "1,x,2", "-o", "OUT.png"} << 2
                                             << "--camera X,Y,Z: the Y value 'x' is not a number";
        QTest::newRow("camera beyond a float") << QStringList{"--camera", "1e39,0,-1.5", "-o", "OUT.png"} << 2
                                               << "the X value '1e39' is out of range";
        QTest::newRow("camera not finite") << QStringList{"--camera", "0,0,-inf", "-o", "OUT.png"} << 2
                                           << "the Z value '-inf' is not a finite number";
        QTest::newRow("camera value missing") << QStringList{"--camera", "0,,-1.5", "-o", "OUT.png"} << 2
                                              << "the Y value is empty";
        // Whole numbers in options are digits only.
        QTest::newRow("supersample with a blank") << QStringList{"--supersample", " 2", "-o", "OUT.png"} << 2
                                                  << "--supersample";
        QTest::newRow("supersample with a sign") << QStringList{"--supersample", "+2", "-o", "OUT.png"} << 2
                                                 << "--supersample";
        QTest::newRow("size with a blank") << QStringList{"--size", " 10x10", "-o", "OUT.png"} << 2 << "--size";
        QTest::newRow("frames with a sign") << QStringList{"--path", "DIR/keys.txt", "--frames", "+0:1", "-o", "DIR/f%d.png"}
                                            << 2 << "--frames";
        QTest::newRow("frames into one file") << QStringList{"--path", "DIR/keys.txt", "-o", "OUT.png"} << 2
                                              << "needs %d or %04d for the frame number";
        QTest::newRow("threads 0") << QStringList{"--threads", "0", "-o", "OUT.png"} << 2 << "--threads";
        QTest::newRow("repeat too many") << QStringList{"--repeat", "100001", "-o", "OUT.png"} << 2 << "--repeat";
        QTest::newRow("supersample 9") << QStringList{"--supersample", "9", "-o", "OUT.png"} << 2 << "--supersample";
        QTest::newRow("size too wide") << QStringList{"--size", "8193x2", "-o", "OUT.png"} << 2 << "--size";
        QTest::newRow("size without height") << QStringList{"--size", "64", "-o", "OUT.png"} << 2 << "--size";
        QTest::newRow("video of one picture") << QStringList{"--video", "DIR/v.mp4", "-o", "OUT.png"} << 2
                                              << "--video goes with --path";
        QTest::newRow("fps without video") << QStringList{"--fps", "30", "-o", "OUT.png"} << 2 << "--fps goes with";
        QTest::newRow("video format") << QStringList{"--path", "DIR/short.bin", "--video", "DIR/v.gif"} << 2
                                      << "use .mp4, .mkv or .mov";
        QTest::newRow("both loads") << QStringList{"--xml", "a", "--bin", "b", "-o", "OUT.png"} << 2 << "either";
        QTest::newRow("missing scene") << QStringList{"--xml", "DIR/none.xml", "-o", "OUT.png"} << 1 << "cannot open";
        QTest::newRow("incomplete scene") << QStringList{"--bin", "DIR/short.bin", "-o", "OUT.png"} << 1 << "ends before";
        QTest::newRow("not a scene file") << QStringList{"--xml", "DIR/short.bin", "-o", "OUT.png"} << 1
                                          << "short.bin is not an XML scene file";
        QTest::newRow("a terminal escape in an option") << QStringList{"--fast\x1b[2J", "-o", "OUT.png"} << 2
                                                        << "unknown option '--fast\\x1b[2J'";
        QTest::newRow("a long option value") << QStringList{"--threads", QString(100000, '9'), "-o", "OUT.png"} << 2
                                             << "not '" + QString(60, '9') + "...'";
        QTest::newRow("output below a file") << QStringList{"-o", "DIR/short.bin/OUT.png"} << 1 << "cannot open";
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
        writeText(dir, "keys.txt", "0 0 0 -1.5\n1 0 0 -2\n");
        const QString out = dir.filePath("OUT.png");
        for (QString& a : args)
            a.replace("DIR", dir.path()).replace(QRegularExpression("^OUT"), out);
        const Result r = runCommand(args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.startsWith("lumivex-render: ") && r.err.count('\n') == 1, r.err.constData());
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        QVERIFY(!QFile::exists(out));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // only the fixtures remain
    }

    void supersampleAndSizeOnTheCommandLine()
    {
        QTemporaryDir dir;
        const QString plain = dir.filePath("plain.png"), once = dir.filePath("once.png"), fine = dir.filePath("fine.png");
        QCOMPARE(runCommand({"-o", plain}).status, 0);
        QCOMPARE(runCommand({"--supersample", "1", "-o", once}).status, 0);
        QCOMPARE(bytesOf(once), bytesOf(plain));
        QCOMPARE(runCommand({"--camera", "0.5,0,-2", "--size", "41x30", "--supersample", "3", "--blur", "-o", fine}).status, 0);
        Scene s = Scene::builtIn();
        s.CamPos = Vector3D(0.5f, 0, -2);
        s.Wid = 41;
        s.Hey = 30;
        QImage expected;
        QCOMPARE(makePicture(s, PictureSettings{3, true}, RenderOptions(), expected), PictureResult::Whole);
        QCOMPARE(rgb(QImage(fine)), expected);
    }

    // An option, a path file and a scene file read the same text as the same number: a number
    // too small for a float is 0, hexadecimal is taken.
    void numbersReadAlikeEverywhere()
    {
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0x1p-1 1e-50 -2\n");
        const QString scene = smallScene(dir, 16, 12);
        QByteArray xml = bytesOf(scene);
        const QByteArray camera = "<Vector Name = \"Position\"> 0.000000 0.000000 -1.500000 </Vector>";
        QVERIFY(xml.contains(camera));
        writeText(dir, "moved.xml", xml.replace(camera, "<Vector Name = \"Position\"> 0x1p-1 1e-50 -2 </Vector>"));
        const QStringList small = {"--xml", scene};
        QCOMPARE(runCommand(small + QStringList{"--camera", "0.5,0,-2", "-o", dir.filePath("plain.ppm")}).status, 0);
        QCOMPARE(runCommand(small + QStringList{"--camera", "0x1p-1,1e-50,-2", "-o", dir.filePath("option.ppm")}).status, 0);
        QCOMPARE(runCommand(small + QStringList{"--path", keys, "-o", dir.filePath("path%d.ppm")}).status, 0);
        QCOMPARE(runCommand({"--xml", dir.filePath("moved.xml"), "-o", dir.filePath("file.ppm")}).status, 0);
        const QByteArray plain = bytesOf(dir.filePath("plain.ppm"));
        QVERIFY(!plain.isEmpty());
        for (const char* other : {"option.ppm", "path0.ppm", "file.ppm"})
            QVERIFY2(bytesOf(dir.filePath(other)) == plain, other);
    }

    void videoHoldsEveryFrame()
    {
        if (QStandardPaths::findExecutable("ffprobe").isEmpty())
            QSKIP("ffprobe is missing: install the ffmpeg package");
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n10 1 0.5 -3\n");
        const QString video = dir.filePath("v.mp4");
        QCOMPARE(runCommand({"--path", keys, "--size", "33x21", "--supersample", "2", "--fps", "12", "--video", video,
                             "-o", dir.filePath("f-%02d.png"), "--quiet"})
                     .status,
                 0);
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames", "-of",
                                "default=noprint_wrappers=1", video});
        QVERIFY(probe.waitForFinished(60000));
        const QByteArray said = probe.readAllStandardOutput();
        // H.264 in yuv420p wants even sides: one black column and row are added.
        for (const char* line : {"codec_name=h264\n", "width=34\n", "height=22\n", "pix_fmt=yuv420p\n",
                                 "r_frame_rate=12/1\n", "nb_read_frames=11\n"})
            QVERIFY2(said.contains(line), said.constData());
        // Every frame also as a picture, the one the camera gives; nothing else left behind.
        CameraPath path;
        QVERIFY(readCameraPath(keys, path, nullptr));
        const Vector3D c = path.cameraAt(7, false);
        const QString single = dir.filePath("single.png");
        QCOMPARE(runCommand({"--camera", floatText(c.X) + "," + floatText(c.Y) + "," + floatText(c.Z), "--size", "33x21",
                             "--supersample", "2", "-o", single})
                     .status,
                 0);
        QCOMPARE(bytesOf(dir.filePath("f-07.png")), bytesOf(single));
        QFile::remove(single);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2 + 11);
    }

    // ffmpeg missing, or failing at its start, part way or at the end: one line, status 1, and
    // the video that was there before is still there.
    void videoFailuresLeaveTheOldVideo_data()
    {
        QTest::addColumn<QByteArray>("script"); // ffmpeg's stand-in; empty: none on PATH
        QTest::addColumn<QString>("said");
        QTest::newRow("missing") << QByteArray() << "the ffmpeg program is not on PATH";
        QTest::newRow("refuses") << QByteArray("echo 'Unknown encoder' >&2; exit 1")
                                 << "could not make DIR/v.mp4: Unknown encoder";
        QTest::newRow("stops part way") << QByteArray("/usr/bin/head -c 1000 >\"$0.in\"; echo broken >&2; exit 1")
                                        << "could not make DIR/v.mp4: broken";
        QTest::newRow("fails at the end") << QByteArray("/bin/cat >\"$0.in\"; echo 'disk full' >&2; exit 1")
                                          << "could not make DIR/v.mp4: disk full";
        // Ending well is not enough: there must be a video.
        QTest::newRow("writes no video") << QByteArray("/bin/cat >\"$0.in\"; exit 0")
                                         << "could not make DIR/v.mp4: it wrote no video";
        QTest::newRow("reads nothing") << QByteArray("exit 0") << "could not make DIR/v.mp4: it stopped reading frames";
    }

    void videoFailuresLeaveTheOldVideo()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, said);
        QTemporaryDir dir, bin;
        if (!script.isEmpty())
            fakeFfmpeg(bin, script);
        said.replace("DIR", dir.path());
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n30 1 0.5 -3\n");
        const QString video = writeText(dir, "v.mp4", "an old video");
        const Result r = runCommand({"--path", keys, "--size", "64x48", "--video", video}, 120000, bin.path());
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.startsWith("lumivex-render: ") && r.err.count('\n') == 1 && r.err.contains(said.toUtf8()),
                 r.err.constData());
        QCOMPARE(bytesOf(video), QByteArray("an old video"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void interruptedVideoLeavesNone()
    {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n1000 1 0.5 -3\n");
        QProcess p;
        p.start(QStringLiteral(LUMIVEX_RENDER), {"--path", keys, "--size", "160x120", "--video", dir.filePath("v.mp4"),
                                                 "-o", dir.filePath("f%d.bmp"), "--threads", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("f40.bmp")), 60000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QVERIFY(p.readAllStandardError().contains("interrupted"));
        QCOMPARE(QDir(dir.path()).entryList({"*.mp4*", ".*.mp4"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // Whatever ffmpeg does (takes no frames, waits for a reader of its video, never finishes)
    // and wherever the program is, a signal ends it by that signal: ffmpeg is killed and
    // neither the video nor its temporary file is left. A terminal's Ctrl+C goes to the whole
    // process group: ffmpeg, in a group of its own, does not get it, and is stopped all the same.
    void signalsStopTheVideoWhateverFfmpegDoes_data()
    {
        QTest::addColumn<QByteArray>("script"); // ffmpeg's stand-in; empty: the real ffmpeg
        QTest::addColumn<QString>("video");     // "pipe.mkv" is a pipe no one reads
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("when"); // "idle": once the program waits; "busy": while it renders
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("wholeGroup");
        const QStringList big = {"--size", "640x480"};
        QTest::newRow("ffmpeg takes no frames") << QByteArray("exec sleep 600") << "v.mp4" << big << "idle" << SIGTERM
                                                << false;
        QTest::newRow("ffmpeg waits for a reader of its video") << QByteArray() << "pipe.mkv" << big << "idle"
                                                                << SIGTERM << false;
        QTest::newRow("ffmpeg never finishes")
            << QByteArray("/bin/cat >\"$0.in\"; exec sleep 600") << "v.mp4"
            << QStringList{"--size", "64x48", "--frames", "0:1"} << "idle" << SIGTERM << false;
        // The plain tracer cannot be stopped part way: the signal ends the program on the spot.
        QTest::newRow("rendering on the plain tracer") << QByteArray() << "v.mp4" << QStringList{"--reference"} << "busy"
                                                       << SIGTERM << false;
        QTest::newRow("Ctrl+C at a terminal") << QByteArray() << "v.mp4"
                                              << QStringList{"--size", "160x120", "--threads", "1"} << "busy" << SIGINT
                                              << true;
    }

    void signalsStopTheVideoWhateverFfmpegDoes()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, video);
        QFETCH(QStringList, extra);
        QFETCH(QString, when);
        QFETCH(int, signal);
        QFETCH(bool, wholeGroup);
        QTemporaryDir dir, bin;
        if (script.isEmpty() && QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        if (!script.isEmpty())
            fakeFfmpeg(bin, script);
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n1000 1 0.5 -3\n");
        const QString target = dir.filePath(video);
        if (video == "pipe.mkv")
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", bin.path() + ":" + env.value("PATH"));
        p.setProcessEnvironment(env);
        if (wholeGroup)
            p.setChildProcessModifier([] { ::setpgid(0, 0); }); // as a shell's job
        p.start(QStringLiteral(LUMIVEX_RENDER), QStringList{"--path", keys, "--video", target, "--quiet"} + extra);
        QVERIFY(p.waitForStarted());
        const qint64 pid = p.processId();
        QTRY_VERIFY_WITH_TIMEOUT(!childrenOf(pid).isEmpty(), 20000);
        QElapsedTimer clock;
        clock.start();
        if (when == "busy") {
            while (cpuSeconds(pid) < 0.4 && clock.elapsed() < 20000)
                QThread::msleep(20);
        } else {
            // Waiting: no processor time used for half a second.
            for (double was = -1, now = cpuSeconds(pid); now != was && clock.elapsed() < 20000; was = now) {
                QThread::msleep(500);
                now = cpuSeconds(pid);
            }
        }
        const QList<qint64> ffmpeg = childrenOf(pid);
        QCOMPARE(ffmpeg.size(), 1);
        const auto leaveNoneBehind = qScopeGuard([&] { // should the test fail
            if (running(ffmpeg[0]))
                ::kill(pid_t(groupOf(ffmpeg[0]) == ffmpeg[0] ? -ffmpeg[0] : ffmpeg[0]), SIGKILL);
        });
        QVERIFY(groupOf(ffmpeg[0]) != groupOf(pid));
        ::kill(pid_t(wholeGroup ? -pid : pid), signal);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), signal);
        QVERIFY(p.readAllStandardError().contains("interrupted"));
        QTRY_VERIFY_WITH_TIMEOUT(!running(ffmpeg[0]), 5000);
        QCOMPARE(filesIn(dir, "*"), QStringList({"keys.txt"}) + (video == "pipe.mkv" ? QStringList{"pipe.mkv"} : QStringList()));
    }

    // The video goes where it is asked to, under a name as long as a picture's may be, into
    // folders made for it.
    void videoGoesWhereAsked_data()
    {
        QTest::addColumn<QString>("video");
        QTest::newRow("a name of 255 bytes") << QString(251, 'v') + ".mp4";
        QTest::newRow("folders to make") << "new/sub/v.mp4";
    }

    void videoGoesWhereAsked()
    {
        QFETCH(QString, video);
        QTemporaryDir dir, bin;
        // The frames as they come; read back, three frames.
        fakeFfmpeg(bin, "for video; do :; done; /bin/cat >\"${video#file:}\"", "echo 3");
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n2 1 0.5 -3\n");
        const Result r = runCommand({"--path", keys, "--size", "8x6", "--video", dir.filePath(video)}, 60000,
                                    bin.path() + ":" + qEnvironmentVariable("PATH"));
        QVERIFY2(r.status == 0, r.err.constData());
        QCOMPARE(QFileInfo(dir.filePath(video)).size(), 3 * 8 * 6 * 3);
        QStringList left; // no temporary file either
        for (QDirIterator it(dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            left << QDir(dir.path()).relativeFilePath(it.next());
        left.sort();
        QCOMPARE(left, (QStringList{"keys.txt", video}));
    }

    // An option's value may come after '=' (--size=200x150), and reads as the value after a
    // blank does: the same picture, to the byte.
    void valuesAfterAnEqualsSignReadTheSame_data()
    {
        QTest::addColumn<QStringList>("spaced");
        QTest::addColumn<QStringList>("joined");
        QTest::newRow("size and output") << QStringList{"--size", "200x150", "-o", "DIR/OUT"}
                                         << QStringList{"--size=200x150", "-o", "DIR/OUT"};
        QTest::newRow("every form of output") << QStringList{"--size", "20x15", "--output", "DIR/OUT"}
                                              << QStringList{"--size=20x15", "-o=DIR/OUT"};
        QTest::newRow("numbers") << QStringList{"--camera", "0.5,0,-2", "--supersample", "2", "--threads", "1", "--size",
                                                "30x20", "-o", "DIR/OUT"}
                                 << QStringList{"--camera=0.5,0,-2", "--supersample=2", "--threads=1", "--size=30x20",
                                                "--output=DIR/OUT"};
        QTest::newRow("a value holding '='") << QStringList{"--size", "16x12", "-o", "DIR/a=b/OUT"}
                                             << QStringList{"--size=16x12", "--output=DIR/a=b/OUT"};
    }

    void valuesAfterAnEqualsSignReadTheSame()
    {
        QFETCH(QStringList, spaced);
        QFETCH(QStringList, joined);
        QTemporaryDir dir;
        // OUT: the picture's name, in DIR or a folder of it.
        const auto named = [&](QStringList args, const QString& name) {
            for (QString& a : args)
                a.replace("DIR", dir.path()).replace("OUT", name);
            return args;
        };
        const Result spacedRun = runCommand(named(spaced, "spaced.ppm")), joinedRun = runCommand(named(joined, "joined.ppm"));
        QVERIFY2(spacedRun.status == 0 && spacedRun.err.isEmpty(), spacedRun.err.constData());
        QVERIFY2(joinedRun.status == 0 && joinedRun.err.isEmpty(), joinedRun.err.constData());
        const QString a = named(spaced, "spaced.ppm").last(), b = QString(a).replace("spaced.ppm", "joined.ppm");
        QVERIFY2(!bytesOf(a).isEmpty(), qPrintable(a));
        QCOMPARE(bytesOf(b), bytesOf(a));
    }

    // Options refused with their value after '=', and --skip-existing without the pictures it
    // looks for; checked as failures() checks its rows.
    void refusedOptionsWithEqualsSigns_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("a switch with a value") << QStringList{"--blur=yes", "-o", "OUT.png"} << 2
                                               << "option '--blur' takes no value";
        QTest::newRow("unknown, with a value") << QStringList{"--fast=1", "-o", "OUT.png"} << 2
                                               << "unknown option '--fast' (see --help)";
        QTest::newRow("empty after '='") << QStringList{"--xml=", "-o", "OUT.png"} << 2 << "needs a non-empty value";
        QTest::newRow("threads 0 after '='") << QStringList{"--threads=0", "-o", "OUT.png"} << 2
                                             << "--threads takes a whole number from 1 to 1024, not '0'";
        QTest::newRow("size after '=', too wide") << QStringList{"--size=8193x2", "-o", "OUT.png"} << 2 << "--size";
        QTest::newRow("the last option without its value") << QStringList{"-o", "OUT.png", "--threads"} << 2
                                                           << "option '--threads' needs a value";
        QTest::newRow("a file name alone") << QStringList{"-o", "OUT.png", "DIR/keys.txt"} << 2 << "unknown option";
        QTest::newRow("--skip-existing without -o")
            << QStringList{"--path", "DIR/keys.txt", "--skip-existing", "--video", "DIR/v.mp4"} << 2
            << "--skip-existing needs -o";
    }

    void refusedOptionsWithEqualsSigns()
    {
        failures();
    }

    // Every signal that ends a program unless caught ends the command as Ctrl+C does, while it
    // renders the frames of a video: ffmpeg is stopped, no video or temporary file is left, the
    // frames said to be written are the whole ones there, and it ends by that signal. SIGPIPE
    // only without a video: with one, a pipe ffmpeg closed is its failure.
    void everyEndingSignalStopsTheRun_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("video");
        QTest::newRow("SIGHUP, a closed terminal") << SIGHUP << true;
        QTest::newRow("SIGQUIT") << SIGQUIT << true;
        QTest::newRow("SIGUSR1") << SIGUSR1 << true;
        QTest::newRow("SIGUSR2") << SIGUSR2 << true;
        QTest::newRow("SIGALRM") << SIGALRM << true;
        QTest::newRow("SIGTERM") << SIGTERM << true;
        QTest::newRow("SIGPIPE from another process") << SIGPIPE << false;
    }

    void everyEndingSignalStopsTheRun()
    {
        QFETCH(int, signal);
        QFETCH(bool, video);
        if (video && QStandardPaths::findExecutable("ffmpeg").isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n1000 1 0.5 -3\n");
        QStringList args = {"--path", keys, "--size", "160x120", "--threads", "1", "-o", dir.filePath("f%d.bmp"), "--quiet"};
        if (video)
            args << "--video" << dir.filePath("v.mp4");
        QProcess p;
        p.setChildProcessModifier([] {
            // As a shell starts it: SIGPIPE as it is by default (this test ignores it), and no
            // core file for SIGQUIT.
            ::signal(SIGPIPE, SIG_DFL);
            const rlimit none{0, 0};
            setrlimit(RLIMIT_CORE, &none);
        });
        p.start(QStringLiteral(LUMIVEX_RENDER), args);
        QVERIFY(p.waitForStarted());
        const qint64 pid = p.processId();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("f2.bmp")), 60000);
        const QList<qint64> ffmpeg = childrenOf(pid);
        QCOMPARE(ffmpeg.size(), video ? 1 : 0);
        ::kill(pid_t(pid), signal);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), signal);
        const QByteArray err = p.readAllStandardError();
        const QRegularExpressionMatch said =
            QRegularExpression(QStringLiteral("^lumivex-render: interrupted: (\\d+) frames written, every one whole%1\n$")
                                   .arg(video ? "; no video" : ""))
                .match(QString::fromUtf8(err));
        QVERIFY2(said.hasMatch(), err.constData());
        if (video)
            QTRY_VERIFY_WITH_TIMEOUT(!running(ffmpeg[0]), 5000);
        const QStringList frames = filesIn(dir, "f*.bmp");
        QCOMPARE(filesIn(dir, "*").size(), frames.size() + 1); // and keys.txt: no video, no temporary file
        QCOMPARE(frames.size(), said.captured(1).toInt());
        for (const QString& f : frames)
            QCOMPARE(QImage(dir.filePath(f)).size(), QSize(160, 120));
    }

    // A picture into a pipe whose reader has gone (`-o - | head -c 10`) ends the command by
    // SIGPIPE, quietly, as programs end in a pipeline: that signal is no request to stop.
    void closedPipeEndsItQuietly()
    {
        int ends[2];
        QVERIFY(::pipe(ends) == 0);
        ::close(ends[0]); // the reader has gone
        QProcess p;
        p.setChildProcessModifier([&ends] {
            ::signal(SIGPIPE, SIG_DFL);
            ::dup2(ends[1], STDOUT_FILENO);
        });
        p.start(QStringLiteral(LUMIVEX_RENDER), {"--size", "64x48", "-o", "-"});
        QVERIFY(p.waitForStarted());
        ::close(ends[1]);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.exitCode(), SIGPIPE);
        QCOMPARE(p.readAllStandardError(), QByteArray());
    }

    // A signal ignored when the command starts (under nohup, a hangup) stays ignored.
    void ignoredHangupIsLeftIgnored()
    {
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n11 1 0.5 -3\n");
        QProcess p;
        p.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
        p.start(QStringLiteral(LUMIVEX_RENDER),
                {"--path", keys, "--size", "160x120", "--threads", "1", "-o", dir.filePath("f%d.bmp"), "--quiet"});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("f0.bmp")), 60000);
        ::kill(pid_t(p.processId()), SIGHUP);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(filesIn(dir, "f*.bmp").size(), 12);
    }

    // A second signal while the first is being honoured ends the command at once, by that
    // signal. Both come while the command is held stopped, so that neither finds the work
    // already ended; which of the two its threads take first is not known.
    void aSecondSignalEndsAtOnce_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::newRow("Ctrl+C, then a termination request") << SIGINT << SIGTERM;
        QTest::newRow("a hangup, then Ctrl+C") << SIGHUP << SIGINT;
    }

    void aSecondSignalEndsAtOnce()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QTemporaryDir dir;
        const QString out = dir.filePath("out.png");
        QProcess p;
        p.start(QStringLiteral(LUMIVEX_RENDER), {"--xml", smallScene(dir, 6144, 4608), "--threads", "1", "-o", out});
        QVERIFY(p.waitForStarted());
        const pid_t pid = pid_t(p.processId());
        QElapsedTimer clock;
        clock.start();
        while (cpuSeconds(pid) < 0.4 && clock.elapsed() < 20000)
            QThread::msleep(20);
        ::kill(pid, SIGSTOP);
        ::kill(pid, first);
        ::kill(pid, second);
        ::kill(pid, SIGCONT);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QVERIFY2(p.exitCode() == first || p.exitCode() == second, qPrintable(QString::number(p.exitCode())));
        // At once: not after stopping the work in order, which says what it left.
        QCOMPARE(p.readAllStandardError(), QByteArray("lumivex-render: interrupted\n"));
        QCOMPARE(filesIn(dir, "*").size(), 1);
    }

    // Frames that --skip-existing finds damaged are rendered again, and the one line that says
    // so is all that standard error shows: not the image library's own complaints.
    void damagedFramesAreRedoneWithOneLine_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("mark"); // the damage goes just after it
        QTest::newRow("PNG, a byte of its pixels") << "png" << QByteArray("IDAT");
        QTest::newRow("PNG, its width") << "png" << QByteArray("IHDR");
        QTest::newRow("JPEG, a byte of its pixels") << "jpg" << QByteArray("\xff\xda");
    }

    void damagedFramesAreRedoneWithOneLine()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, mark);
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n2 0.5 0 -2\n");
        const QStringList args = {"--xml", smallScene(dir), "--path", keys, "-o", dir.filePath("f%d." + suffix)};
        QCOMPARE(runCommand(args).status, 0);
        const QString damaged = dir.filePath("f1." + suffix);
        const QByteArray whole = bytesOf(damaged);
        QByteArray bytes = whole;
        const qsizetype at = bytes.indexOf(mark) + mark.size() + 2;
        QVERIFY(at > mark.size() + 1 && at < bytes.size() - 20);
        bytes[at] = char(bytes[at] ^ 0x5a);
        writeText(dir, QFileInfo(damaged).fileName(), bytes);
        const Result r = runCommand(QStringList(args) << "--skip-existing");
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QByteArray("lumivex-render: 1 frame was there but not a whole picture of 48 x 36; rendered again\n"));
        QCOMPARE(bytesOf(damaged), whole);
    }

    // Threads that cannot start for want of memory leave the picture as it is, and Qt's lines
    // about them do not reach standard error.
    void threadsThatCannotStartSayNothing()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves more address space than the limit allows");
#endif
        QTemporaryDir dir;
        const QString out = dir.filePath("out.ppm");
        QProcess p;
        p.setChildProcessModifier([] {
            const rlimit lim{rlim_t(400) << 20, rlim_t(400) << 20};
            setrlimit(RLIMIT_AS, &lim);
        });
        // The whole picture: enough pieces of work for many threads.
        p.start(QStringLiteral(LUMIVEX_RENDER), {"--threads", "1024", "-o", out});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(p.exitCode() == 0 && err.isEmpty(), err.left(300).constData());
        QCOMPARE(readPpm(out), rgb(render(Scene::builtIn())));
    }

    // --repeat shows its progress over all its renders: it never goes back.
    void repeatProgressOnlyGoesForward()
    {
        QTemporaryDir dir;
        // Progress is drawn a few times a second: more renders on a faster machine, until the
        // lines span several renders.
        Result r;
        QStringList lines;
        for (int repeat = 6; repeat <= 96 && lines.size() < 4; repeat *= 2) {
            r = runOnTerminal({"--xml", smallScene(dir, 640, 480), "--supersample", "2", "--threads", "1", "--repeat",
                               QString::number(repeat), "-o", dir.filePath("out.ppm")});
            QCOMPARE(r.status, 0);
            lines = progressLines(r.err);
        }
        QVERIFY2(lines.size() >= 4, r.err.constData());
        int was = 0;
        for (const QString& line : lines) {
            const QRegularExpressionMatch m = QRegularExpression("^ *(\\d+)%$").match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            QVERIFY2(m.captured(1).toInt() >= was && m.captured(1).toInt() <= 100, qPrintable(lines.join(" | ")));
            was = m.captured(1).toInt();
        }
    }

    // With a video, the frame count stops at the last frame, and while ffmpeg finishes the line
    // says so.
    void videoProgressStopsAtTheLastFrame()
    {
        QTemporaryDir dir, bin;
        // An ffmpeg that takes a while to finish, and then fails: what the line says meanwhile
        // is what counts here.
        fakeFfmpeg(bin, "/bin/cat >\"$0.in\"; sleep 2; exit 1");
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n2 1 0.5 -3\n");
        const Result r = runOnTerminal({"--path", keys, "--size", "64x48", "--video", dir.filePath("v.mp4")}, bin.path());
        QCOMPARE(r.status, 1);
        const QStringList lines = progressLines(r.err);
        QVERIFY2(!lines.isEmpty() && lines.last() == "frame 3 of 3, encoding the video", r.err.constData());
        for (const QString& line : lines)
            QVERIFY2(QRegularExpression("^frame [123] of 3, (encoding the video|[0-9.]+ frames/s, \\d+ s left)$")
                         .match(line)
                         .hasMatch(),
                     qPrintable(line));
    }

    // Under any limit on its address space the command either finishes, saying nothing, or
    // says "not enough memory ..." in one line with status 1; no format, supersampling, video
    // or thread count aborts (std::bad_alloc, status 134), and the pool says nothing of threads
    // it could not make. The 1024 threads row is the blur row above made certain: its second
    // line came from a pool thread that could not be made.
    void memoryLimitsGiveAPictureOrOneLine_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("limitMb");
        QTest::addColumn<bool>("finishes"); // on every machine, not only perhaps
        QTest::newRow("PNG held whole") << QStringList{"--repeat", "1", "-o", "OUT.png"} << 400 << false;
        QTest::newRow("PPM held whole") << QStringList{"--repeat", "1", "-o", "OUT.ppm"} << 400 << false;
        QTest::newRow("BMP") << QStringList{"-o", "OUT.bmp"} << 400 << false;
        QTest::newRow("JPEG") << QStringList{"-o", "OUT.jpg"} << 400 << false;
        QTest::newRow("supersampled PNG") << QStringList{"--supersample", "2", "-o", "OUT.png"} << 300 << false;
        QTest::newRow("video") << QStringList{"--path", "PATHFILE", "--video", "DIR/v.mp4"} << 400 << false;
        QTest::newRow("blur on 1024 threads") << QStringList{"--threads", "1024", "--blur", "-o", "OUT.png"} << 400
                                              << false;
        QTest::newRow("a small picture on 1024 threads")
            << QStringList{"--size", "1500x1500", "--threads", "1024", "--blur", "-o", "OUT.png"} << 400 << true;
    }

    void memoryLimitsGiveAPictureOrOneLine()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves more address space than the limit allows");
#endif
        QFETCH(QStringList, extra);
        QFETCH(int, limitMb);
        QFETCH(bool, finishes);
        QTemporaryDir dir;
        const QString scene = smallScene(dir, 8192, 8192);
        QString output;
        for (QString& arg : extra) {
            if (arg == "PATHFILE")
                arg = writeText(dir, "one.path", "0 0 0 -1.5\n");
            if (arg.startsWith("OUT."))
                output = arg = dir.filePath("big" + arg.mid(3));
            if (arg.startsWith("DIR/"))
                output = arg = dir.filePath(arg.mid(4));
        }
        QProcess p;
        p.setChildProcessModifier([limitMb] {
            const rlimit lim{rlim_t(limitMb) << 20, rlim_t(limitMb) << 20};
            setrlimit(RLIMIT_AS, &lim);
        });
        p.start(QStringLiteral(LUMIVEX_RENDER), QStringList{"--xml", scene, "--quiet"} + extra);
        QVERIFY(p.waitForFinished(300000));
        QByteArray err = p.readAllStandardError();
        QVERIFY2(p.exitStatus() == QProcess::NormalExit, err.constData());
        if (p.exitCode() == 0) {
            // --repeat's timing is the one line a picture held whole comes with.
            if (extra.contains("--repeat") && err.startsWith("lumivex-render: 1 renders, ") && err.count('\n') == 1)
                err.clear();
            QVERIFY2(err.isEmpty(), err.constData());
            QVERIFY(QFileInfo(output).size() > 0);
        } else {
            QVERIFY2(!finishes && p.exitCode() == 1 && err.startsWith("lumivex-render: not enough memory") &&
                         err.count('\n') == 1,
                     err.constData());
            QVERIFY(!QFile::exists(output));
        }
        QCOMPARE(filesIn(dir, ".*"), QStringList()); // no temporary file left
    }

    // Relative names that ffmpeg would take for a protocol, an option or its standard output
    // reach it as files; a pipe gets the video (standard output got it, and the command ended
    // well).
    void videoNamesFfmpegCannotMisread_data()
    {
        QTest::addColumn<QString>("video");
        QTest::newRow("a folder named like a time") << "12:30/v.mp4";
        QTest::newRow("a folder named like an option") << "-d/v.mkv";
        QTest::newRow("a folder named like standard output") << "pipe:1/v.mov";
        QTest::newRow("a pipe named like standard output") << "pipe:1.mkv";
    }

    void videoNamesFfmpegCannotMisread()
    {
        QFETCH(QString, video);
        QVERIFY2(!QStandardPaths::findExecutable("ffprobe").isEmpty(), "ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        writeText(dir, "keys.txt", "0 0 0 -1.5\n2 1 0.5 -3\n");
        const QString target = dir.filePath(video);
        const bool pipe = !video.contains('/');
        QByteArray received;
        std::thread reader;
        if (pipe) {
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
            reader = std::thread([&] {
                QFile f(target);
                if (f.open(QIODevice::ReadOnly))
                    received = f.readAll();
            });
        }
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(LUMIVEX_RENDER), {"--path", "keys.txt", "--size", "32x24", "--video", video, "--quiet"});
        const bool finished = p.waitForFinished(120000);
        if (pipe) {
            // A reader still waiting for a writer is let go.
            const int unblock = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_NONBLOCK);
            if (unblock >= 0)
                ::close(unblock);
            reader.join();
        }
        QVERIFY(finished);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, err.constData());
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        if (pipe) {
            QVERIFY2(received.startsWith("\x1a\x45\xdf\xa3"), received.left(16).toHex().constData()); // Matroska
            return;
        }
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-count_packets", "-show_entries", "stream=nb_read_packets", "-of",
                                "csv=p=0", "file:" + target});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("3"));
        QCOMPARE(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(target).fileName()});
    }

    // What ffmpeg made is read back before it counts: a video ffprobe cannot read, or one with
    // fewer frames than were sent, is a failure that leaves the old video; and an ffmpeg that
    // prints without end does not make the command grow (it kept every byte, and aborted under
    // the limit).
    void videoIsReadBackBeforeItCounts_data()
    {
        QTest::addColumn<QByteArray>("script"); // ffmpeg's stand-in; FFMPEG is the real one
        QTest::addColumn<int>("limitMb");       // 0: none
        QTest::addColumn<QString>("said");
        QTest::newRow("no video in it") << QByteArray("for out; do :; done; /bin/cat >\"${out#file:}\"") << 0
                                        << "could not make DIR/v.mp4: ffprobe cannot read the video (";
        QTest::newRow("fewer frames") << QByteArray("for out; do :; done; /usr/bin/head -c 144 >\"$0.one\"; "
                                                    "/bin/cat >\"$0.rest\"; exec FFMPEG -v error -f rawvideo "
                                                    "-pix_fmt rgb24 -s 8x6 -i \"$0.one\" -c:v libx264 "
                                                    "-pix_fmt yuv420p -y \"$out\"")
                                      << 0 << "could not make DIR/v.mp4: the video holds 1 of the 3 frames sent";
        QTest::newRow("prints without end")
            << QByteArray("/bin/cat >\"$0.in\"; /usr/bin/yes 'ffmpeg says this again' | /usr/bin/head -n 4000000 >&2; "
                          "echo 'and ends so' >&2; exit 1")
            << 150 << "could not make DIR/v.mp4: and ends so";
    }

    void videoIsReadBackBeforeItCounts()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, limitMb);
        QFETCH(QString, said);
#if defined(__SANITIZE_ADDRESS__)
        if (limitMb > 0)
            QSKIP("the address sanitizer reserves more address space than the limit allows");
#endif
        const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg"), ffprobe = QStandardPaths::findExecutable("ffprobe");
        QVERIFY2(!ffmpeg.isEmpty() && !ffprobe.isEmpty(), "ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir, bin;
        fakeFfmpeg(bin, script.replace("FFMPEG", QFile::encodeName(ffmpeg)), "exec " + QFile::encodeName(ffprobe) + " \"$@\"");
        said.replace("DIR", dir.path());
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n2 1 0.5 -3\n");
        const QString video = writeText(dir, "v.mp4", "an old video");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", bin.path() + ":" + env.value("PATH"));
        p.setProcessEnvironment(env);
        if (limitMb > 0)
            p.setChildProcessModifier([limitMb] {
                const rlimit lim{rlim_t(limitMb) << 20, rlim_t(limitMb) << 20};
                setrlimit(RLIMIT_AS, &lim);
            });
        p.start(QStringLiteral(LUMIVEX_RENDER), {"--path", keys, "--size", "8x6", "--video", video});
        QVERIFY(p.waitForFinished(120000));
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 1, err.constData());
        QVERIFY2(err.startsWith("lumivex-render: ") && err.count('\n') == 1 && err.contains(said.toUtf8()), err.constData());
        QCOMPARE(bytesOf(video), QByteArray("an old video"));
        QCOMPARE(filesIn(dir, "*"), (QStringList{"keys.txt", "v.mp4"}));
    }

    // Killed outright (SIGKILL, which no handler sees), the command takes ffmpeg with it: ffmpeg
    // does not go on to finish the hidden video from the frames it has.
    void ffmpegEndsWithTheCommandEvenWhenKilled()
    {
        QVERIFY2(!QStandardPaths::findExecutable("ffprobe").isEmpty(), "ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        const QString keys = writeText(dir, "keys.txt", "0 0 0 -1.5\n1000 1 0.5 -3\n");
        QProcess p;
        p.start(QStringLiteral(LUMIVEX_RENDER), {"--path", keys, "--size", "64x48", "--video", dir.filePath("v.mp4"),
                                                 "-o", dir.filePath("f%d.bmp"), "--threads", "1"});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("f20.bmp")), 60000);
        const QList<qint64> ffmpeg = childrenOf(p.processId());
        QCOMPARE(ffmpeg.size(), 1);
        const auto leaveNoneBehind = qScopeGuard([&] { // should the test fail
            if (running(ffmpeg[0]))
                ::kill(pid_t(ffmpeg[0]), SIGKILL);
        });
        p.kill();
        QVERIFY(p.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!running(ffmpeg[0]), 10000);
        QVERIFY(!QFile::exists(dir.filePath("v.mp4")));
        // Whatever is left under the temporary name is no video.
        for (const QString& part : filesIn(dir, ".lumivex-*")) {
            QProcess probe;
            probe.start("ffprobe", {"-v", "error", "-count_packets", "-show_entries", "stream=nb_read_packets", "-of",
                                    "csv=p=0", "file:" + dir.filePath(part)});
            QVERIFY(probe.waitForFinished(60000));
            QVERIFY2(probe.exitCode() != 0, probe.readAllStandardOutput().constData());
        }
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
