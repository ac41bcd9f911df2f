#include "picture/videowriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/prctl.h>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <pthread.h>
#include <unistd.h>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"

namespace {

// Frame bytes handed to the pipe at once, and how many may wait in it: a large frame never
// sits in memory a second time.
constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kPending = 4 << 20;
// How often a wait for ffmpeg looks whether a stop has been asked for and reads what it said,
// in milliseconds.
constexpr int kLookMs = 25;
// What is kept of ffmpeg's and ffprobe's output: its end, for the message of a failure.
constexpr qsizetype kTail = 4096;

// The name a helper program is given for `path`: absolute, through the file protocol, so that
// no name is taken for an option ("-d/v.mp4"), another protocol ("12:30/v.mp4") or standard
// output ("pipe:1.mkv").
QString fileArgument(const QString& path)
{
    return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

// A video under way as a signal handler sees it: plain memory and lock-free atomics only.
struct Underway {
    std::atomic<bool> taken{false};
    std::atomic<pid_t> pid{0}; // ffmpeg's, whose process group it leads; 0 once it has ended
    std::atomic<bool> hasTemporary{false};
    char temporary[PATH_MAX] = {};
};
// More videos at once than any caller makes; one beyond them is only not cleaned up by a signal.
Underway g_underway[8];

int takeUnderway(pid_t pid, const QString& temporary)
{
    const QByteArray name = QFile::encodeName(QFileInfo(temporary).absoluteFilePath());
    for (int k = 0; k < int(std::size(g_underway)); ++k) {
        Underway& u = g_underway[k];
        bool free = false;
        if (!u.taken.compare_exchange_strong(free, true))
            continue;
        const bool fits = !temporary.isEmpty() && name.size() < qsizetype(sizeof u.temporary);
        if (fits)
            std::memcpy(u.temporary, name.constData(), size_t(name.size()) + 1);
        u.hasTemporary = fits;
        u.pid = pid;
        return k;
    }
    return -1;
}

} // namespace

// ffmpeg or ffprobe at work on a video. It runs in a process group of its own, so that Ctrl+C
// at the terminal stops this program, which then stops it, rather than ffmpeg finishing a
// video on its own; and it is killed when this program ends in any way, even by SIGKILL. Its
// standard output and error go to a pipe that is read as it comes, keeping only its end.
struct VideoWriter::Tool {
    QProcess process;
    int output = -1; // the pipe's end to read
    QByteArray tail;

    Tool() = default;
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;
    ~Tool()
    {
        kill();
        if (output >= 0)
            ::close(output);
    }

    bool start(const QString& program, const QStringList& args, QString& why)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            why = QStringLiteral("cannot run %1: %2").arg(printableName(program), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        output = ends[0];
        ::fcntl(output, F_SETFL, O_NONBLOCK);
        const int into = ends[1];
        const pid_t parent = ::getpid();
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.setChildProcessModifier([into, parent] {
            ::setpgid(0, 0);
            // SIGKILL, not SIGTERM, on which ffmpeg would finish the video from what it has.
            // The signal comes when the thread that started it ends: the one using the writer,
            // which lives as long as the video. Should this program have ended before the
            // request took hold, the child goes at once.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            ::dup2(into, STDOUT_FILENO);
            ::dup2(into, STDERR_FILENO);
        });
        process.start(program, args);
        ::close(into);
        if (!process.waitForStarted(-1)) {
            why = QStringLiteral("cannot run %1: %2").arg(printableName(program), process.errorString());
            return false;
        }
        return true;
    }

    bool running() const { return process.state() != QProcess::NotRunning; }

    // Reads what it has said since the last look, a bounded amount at a time, and tells
    // whether there was any: a program that keeps printing is read again at once, and only
    // its end is kept.
    bool readOutput()
    {
        char buffer[1 << 16];
        bool any = false;
        for (int k = 0; k < 64 && output >= 0; ++k) {
            const ssize_t n = ::read(output, buffer, sizeof buffer);
            if (n <= 0)
                break;
            any = true;
            tail.append(buffer, n);
            if (tail.size() > 2 * kTail)
                tail.remove(0, tail.size() - kTail);
        }
        return any;
    }

    // How long to wait for it before looking at its output again.
    int lookMs(bool printing) const { return printing ? 1 : kLookMs; }

    // The last line it printed, trimmed; empty if none.
    QByteArray lastLine()
    {
        readOutput();
        QByteArray said;
        for (const QByteArray& line : tail.right(kTail).split('\n'))
            if (!line.trimmed().isEmpty())
                said = line.trimmed();
        return said;
    }

    void kill()
    {
        if (!running())
            return;
        // Its whole group: whatever it started goes with it.
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.kill();
        process.waitForFinished(-1);
    }
};

VideoWriter::VideoWriter() = default;

VideoWriter::~VideoWriter()
{
    abort();
}

QString VideoWriter::ffmpegProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QString VideoWriter::ffprobeProgram()
{
    // The one that came with ffmpeg, else any.
    const QString ffmpeg = ffmpegProgram();
    const QString beside = ffmpeg.isEmpty() ? QString()
                                            : QStandardPaths::findExecutable(QStringLiteral("ffprobe"),
                                                                             {QFileInfo(ffmpeg).absolutePath()});
    return beside.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("ffprobe")) : beside;
}

QStringList VideoWriter::ffmpegArguments(QSize size, int fps, const QString& target)
{
    QStringList args = {"-hide_banner", "-loglevel", "error", "-nostats", "-y",
                        "-f", "rawvideo", "-pix_fmt", "rgb24",
                        "-s", QStringLiteral("%1x%2").arg(size.width()).arg(size.height()),
                        "-framerate", QString::number(fps), "-i", "pipe:0"};
    if (size.width() % 2 != 0 || size.height() % 2 != 0)
        args << "-vf" << QStringLiteral("pad=%1:%2").arg(size.width() + size.width() % 2).arg(size.height() + size.height() % 2);
    args << "-c:v" << "libx264" << "-pix_fmt" << "yuv420p" << "-an" << fileArgument(target);
    return args;
}

bool VideoWriter::isOpen() const
{
    return m_ffmpeg != nullptr;
}

bool VideoWriter::open(const QString& fileName, QSize size, int fps, QString& why, const std::atomic<bool>* stop)
{
    abort();
    m_stop = stop;
    const QString program = ffmpegProgram();
    if (program.isEmpty()) {
        why = QStringLiteral("cannot make the video %1: the ffmpeg program is not on PATH (Debian package ffmpeg)")
                  .arg(printableName(fileName));
        return false;
    }
    if (size.isEmpty() || fps < 1) {
        why = QStringLiteral("cannot make a video of %1 x %2 pixels at %3 frames a second")
                  .arg(size.width())
                  .arg(size.height())
                  .arg(fps);
        return false;
    }
    if (QFileInfo(fileName).isDir()) {
        why = QStringLiteral("%1 is a folder, not a video").arg(printableName(fileName));
        return false;
    }
    m_target = fileName;
    m_temporary.clear();
    m_ffprobe.clear();
    m_frames = 0;
    if (!isSpecialFile(fileName)) {
        // A video in a file is read back before it takes its place (one in a pipe or on a
        // device cannot be).
        m_ffprobe = ffprobeProgram();
        if (m_ffprobe.isEmpty()) {
            why = QStringLiteral("cannot make the video %1: the ffprobe program is not on PATH (Debian package ffmpeg)")
                      .arg(printableName(fileName));
            return false;
        }
        // A new name beside the video, keeping its suffix so that ffmpeg picks the same
        // container; made here so that a folder that cannot be written says so before any
        // frame is rendered. Short and of fixed length, so that it fits wherever the video's
        // own name fits, however long that is.
        const QFileInfo info(fileName);
        QFile reserved;
        for (int attempt = 0; attempt < 100 && !reserved.isOpen(); ++attempt) {
            reserved.setFileName(info.dir().filePath(QStringLiteral(".lumivex-%1.part.%2")
                                                         .arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'))
                                                         .arg(info.suffix())));
            if (reserved.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                break;
            if (reserved.error() != QFileDevice::OpenError || !QFileInfo::exists(reserved.fileName()))
                break;
        }
        if (!reserved.isOpen()) {
            why = QStringLiteral("cannot open %1 for writing: %2").arg(printableName(fileName), reserved.errorString());
            return false;
        }
        reserved.close();
        m_temporary = reserved.fileName();
    }
    m_size = size;
    m_ffmpeg = std::make_unique<Tool>();
    if (!m_ffmpeg->start(program, ffmpegArguments(size, fps, m_temporary.isEmpty() ? fileName : m_temporary), why)) {
        abort();
        return false;
    }
    m_underway = takeUnderway(pid_t(m_ffmpeg->process.processId()), m_temporary);
    return true;
}

bool VideoWriter::drain(qint64 keep)
{
    bool printing = false;
    while (m_ffmpeg->process.bytesToWrite() > keep) {
        if (stopAsked())
            return false;
        const bool wrote = m_ffmpeg->process.waitForBytesWritten(m_ffmpeg->lookMs(printing));
        printing = m_ffmpeg->readOutput();
        if (!wrote && !printing && !takesFrames())
            return false;
    }
    return takesFrames() && !stopAsked();
}

bool VideoWriter::takesFrames() const
{
    // A write that failed shows before ffmpeg's end does.
    return m_ffmpeg->running() && m_ffmpeg->process.error() != QProcess::WriteError;
}

bool VideoWriter::waitForEnd(Tool& tool, int ms)
{
    QElapsedTimer clock;
    clock.start();
    bool printing = false;
    while (tool.running()) {
        if (stopAsked() || (ms >= 0 && clock.elapsed() >= ms))
            return false;
        tool.process.waitForFinished(tool.lookMs(printing));
        printing = tool.readOutput();
    }
    return true;
}

bool VideoWriter::addFrame(const QImage& frame, QString& why)
{
    if (!m_ffmpeg) {
        why = QStringLiteral("no video is open");
        return false;
    }
    if (frame.size() != m_size) {
        why = QStringLiteral("a frame of %1 x %2 pixels does not fit a video of %3 x %4")
                  .arg(frame.width())
                  .arg(frame.height())
                  .arg(m_size.width())
                  .arg(m_size.height());
        abort();
        return false;
    }
    const auto noMemory = [&] {
        why = QStringLiteral("not enough memory to make the video %1").arg(printableName(m_target));
        abort();
        return false;
    };
    const QImage img = frame.depth() == 32 ? frame : frame.convertToFormat(QImage::Format_RGB32);
    if (img.isNull())
        return noMemory();
    const int wid = m_size.width(), rowsAtOnce = int(std::max<qint64>(1, kChunk / (qint64(wid) * 3)));
    bool ok = true;
    try {
        QByteArray chunk;
        for (int y0 = 0; y0 < m_size.height() && ok; y0 += rowsAtOnce) {
            const int rows = std::min(rowsAtOnce, m_size.height() - y0);
            chunk.resize(qsizetype(wid) * 3 * rows);
            char* out = chunk.data();
            for (int y = y0; y < y0 + rows; ++y) {
                const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
                for (int x = 0; x < wid; ++x) {
                    *out++ = char(qRed(line[x]));
                    *out++ = char(qGreen(line[x]));
                    *out++ = char(qBlue(line[x]));
                }
            }
            ok = m_ffmpeg->process.write(chunk) == chunk.size() && drain(kPending);
        }
    } catch (const std::bad_alloc&) {
        return noMemory();
    }
    if (!ok) {
        why = failure(true);
        abort();
        return false;
    }
    ++m_frames;
    return true;
}

bool VideoWriter::finish(QString& why)
{
    if (!m_ffmpeg) {
        why = QStringLiteral("no video is open");
        return false;
    }
    const bool fed = drain(0);
    m_ffmpeg->process.closeWriteChannel();
    // With its input ended, ffmpeg finishes the video and ends.
    const bool ended = fed && waitForEnd(*m_ffmpeg, -1);
    if (!ended || m_ffmpeg->process.exitStatus() != QProcess::NormalExit || m_ffmpeg->process.exitCode() != 0) {
        why = failure(!fed);
        abort();
        return false;
    }
    forgetProcess();
    // An ffmpeg that ends well but leaves nothing, or a video that does not hold every frame,
    // is no success.
    if (!m_temporary.isEmpty() && QFileInfo(m_temporary).size() <= 0) {
        why = QStringLiteral("ffmpeg could not make %1: it wrote no video").arg(printableName(m_target));
        abort();
        return false;
    }
    if (!m_temporary.isEmpty() && !readBack(why)) {
        abort();
        return false;
    }
    if (!m_temporary.isEmpty() && std::rename(QFile::encodeName(m_temporary).constData(),
                                              QFile::encodeName(m_target).constData()) != 0) {
        why = QStringLiteral("cannot write %1: %2").arg(printableName(m_target), QString::fromLocal8Bit(std::strerror(errno)));
        abort();
        return false;
    }
    m_temporary.clear();
    m_ffmpeg.reset();
    leaveUnderway();
    return true;
}

bool VideoWriter::readBack(QString& why)
{
    const QString failed = QStringLiteral("ffmpeg could not make %1: ").arg(printableName(m_target));
    Tool probe;
    // Packets are counted without decoding them: one a frame.
    if (!probe.start(m_ffprobe,
                     {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                      "stream=nb_read_packets", "-of", "csv=p=0", fileArgument(m_temporary)},
                     why))
        return false;
    probe.process.closeWriteChannel();
    if (!waitForEnd(probe, -1)) {
        why = failed + QStringLiteral("stopped while ffprobe read the video");
        return false;
    }
    const QByteArray said = probe.lastLine();
    bool counted = false;
    const qint64 frames = said.toLongLong(&counted);
    if (probe.process.exitStatus() != QProcess::NormalExit || probe.process.exitCode() != 0 || !counted) {
        why = failed + QStringLiteral("ffprobe cannot read the video") +
              (said.isEmpty() || counted ? QString() : QStringLiteral(" (%1)").arg(printable(said, 200)));
        return false;
    }
    if (frames != m_frames) {
        why = failed + QStringLiteral("the video holds %1 of the %2 frames sent").arg(frames).arg(m_frames);
        return false;
    }
    return true;
}

void VideoWriter::abort()
{
    if (m_ffmpeg) {
        m_ffmpeg->kill();
        m_ffmpeg.reset();
    }
    forgetProcess();
    if (!m_temporary.isEmpty())
        QFile::remove(m_temporary);
    m_temporary.clear();
    leaveUnderway();
}

void VideoWriter::forgetProcess()
{
    // Once ffmpeg has been waited for, its number may soon be another process's.
    if (m_underway >= 0)
        g_underway[m_underway].pid = 0;
}

void VideoWriter::leaveUnderway()
{
    if (m_underway < 0)
        return;
    Underway& u = g_underway[m_underway];
    u.pid = 0;
    u.hasTemporary = false;
    u.taken = false;
    m_underway = -1;
}

void VideoWriter::abandonAllNow()
{
    for (Underway& u : g_underway) {
        if (!u.taken)
            continue;
        if (const pid_t pid = u.pid; pid > 0) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
        }
        if (u.hasTemporary)
            ::unlink(u.temporary);
    }
}

void VideoWriter::abandonAllAndEndBy(int sig)
{
    abandonAllNow();
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(sig, &byDefault, nullptr);
    // In a handler the signal is blocked until it returns; unblocked here, it ends the program.
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    raise(sig);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + sig); // not reached
}

QString VideoWriter::failure(bool feeding)
{
    waitForEnd(*m_ffmpeg, 10000);
    const QByteArray said = m_ffmpeg->lastLine();
    // Memory that ran out in ffmpeg (under a limit this program passes on to it) is said as
    // this program says it, with ffmpeg's own line.
    for (const QByteArray& line : m_ffmpeg->tail.right(kTail).split('\n'))
        if (line.contains("Cannot allocate memory") || (line.contains("malloc of size") && line.contains("failed")))
            return QStringLiteral("not enough memory to make the video %1 (ffmpeg: %2)")
                .arg(printableName(m_target), printable(line.trimmed(), 200));
    const QProcess& ffmpeg = m_ffmpeg->process;
    const bool ended = ffmpeg.state() == QProcess::NotRunning;
    const int status = ffmpeg.exitCode();
    QString reason;
    if (!said.isEmpty())
        reason = printable(said, 200);
    else if (ended && ffmpeg.exitStatus() == QProcess::CrashExit)
        reason = QStringLiteral("it stopped unexpectedly");
    else if (feeding || !ended)
        reason = ended && status != 0 ? QStringLiteral("it stopped reading frames (status %1)").arg(status)
                                      : QStringLiteral("it stopped reading frames");
    else
        reason = QStringLiteral("status %1").arg(status);
    return QStringLiteral("ffmpeg could not make %1: %2").arg(printableName(m_target), reason);
}
