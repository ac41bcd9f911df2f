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
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unistd.h>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"

namespace {

// Frame bytes handed to the pipe at once, and how many may wait in it: a large frame never
// sits in memory a second time.
constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kPending = 4 << 20;
// How often a wait for ffmpeg looks whether a stop has been asked for, in milliseconds.
constexpr int kLookMs = 100;

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

VideoWriter::VideoWriter() = default;

VideoWriter::~VideoWriter()
{
    abort();
}

QString VideoWriter::ffmpegProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QStringList VideoWriter::ffmpegArguments(QSize size, int fps, const QString& target)
{
    QStringList args = {"-hide_banner", "-loglevel", "error", "-nostats", "-y",
                        "-f", "rawvideo", "-pix_fmt", "rgb24",
                        "-s", QStringLiteral("%1x%2").arg(size.width()).arg(size.height()),
                        "-framerate", QString::number(fps), "-i", "pipe:0"};
    if (size.width() % 2 != 0 || size.height() % 2 != 0)
        args << "-vf" << QStringLiteral("pad=%1:%2").arg(size.width() + size.width() % 2).arg(size.height() + size.height() % 2);
    args << "-c:v" << "libx264" << "-pix_fmt" << "yuv420p" << "-an" << target;
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
    if (!isSpecialFile(fileName)) {
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
    m_ffmpeg = std::make_unique<QProcess>();
    m_ffmpeg->setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own: Ctrl+C at the terminal stops this program, which then stops ffmpeg,
    // rather than ffmpeg finishing a video on its own.
    m_ffmpeg->setChildProcessModifier([] { setpgid(0, 0); });
    m_ffmpeg->start(program, ffmpegArguments(size, fps, m_temporary.isEmpty() ? fileName : m_temporary));
    if (!m_ffmpeg->waitForStarted(-1)) {
        why = QStringLiteral("cannot run %1: %2").arg(printableName(program), m_ffmpeg->errorString());
        abort();
        return false;
    }
    m_underway = takeUnderway(pid_t(m_ffmpeg->processId()), m_temporary);
    return true;
}

bool VideoWriter::drain(qint64 keep)
{
    while (m_ffmpeg->bytesToWrite() > keep) {
        if (stopAsked())
            return false;
        if (!m_ffmpeg->waitForBytesWritten(kLookMs) && !takesFrames())
            return false;
    }
    return takesFrames() && !stopAsked();
}

bool VideoWriter::takesFrames() const
{
    // A write that failed shows before ffmpeg's end does.
    return m_ffmpeg->state() == QProcess::Running && m_ffmpeg->error() != QProcess::WriteError;
}

bool VideoWriter::waitForEnd(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (m_ffmpeg->state() != QProcess::NotRunning) {
        if (stopAsked() || (ms >= 0 && clock.elapsed() >= ms))
            return false;
        m_ffmpeg->waitForFinished(kLookMs);
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
    const QImage img = frame.depth() == 32 ? frame : frame.convertToFormat(QImage::Format_RGB32);
    const int wid = m_size.width(), rowsAtOnce = int(std::max<qint64>(1, kChunk / (qint64(wid) * 3)));
    QByteArray chunk;
    bool ok = true;
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
        ok = m_ffmpeg->write(chunk) == chunk.size() && drain(kPending);
    }
    if (!ok) {
        why = failure(true);
        abort();
    }
    return ok;
}

bool VideoWriter::finish(QString& why)
{
    if (!m_ffmpeg) {
        why = QStringLiteral("no video is open");
        return false;
    }
    const bool fed = drain(0);
    m_ffmpeg->closeWriteChannel();
    // With its input ended, ffmpeg finishes the video and ends.
    const bool ended = fed && waitForEnd(-1);
    if (!ended || m_ffmpeg->exitStatus() != QProcess::NormalExit || m_ffmpeg->exitCode() != 0) {
        why = failure(!fed);
        abort();
        return false;
    }
    forgetProcess();
    // An ffmpeg that ends well but leaves nothing is no success.
    if (!m_temporary.isEmpty() && QFileInfo(m_temporary).size() <= 0) {
        why = QStringLiteral("ffmpeg could not make %1: it wrote no video").arg(printableName(m_target));
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

void VideoWriter::abort()
{
    if (m_ffmpeg) {
        if (m_ffmpeg->state() != QProcess::NotRunning) {
            // Its whole group: whatever ffmpeg started goes with it.
            ::kill(-pid_t(m_ffmpeg->processId()), SIGKILL);
            m_ffmpeg->kill();
            m_ffmpeg->waitForFinished(-1);
        }
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

QString VideoWriter::failure(bool feeding)
{
    waitForEnd(10000);
    QByteArray said;
    for (const QByteArray& line : m_ffmpeg->readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            said = line.trimmed();
    const bool ended = m_ffmpeg->state() == QProcess::NotRunning;
    const int status = m_ffmpeg->exitCode();
    QString reason;
    if (!said.isEmpty())
        reason = printable(said, 200);
    else if (ended && m_ffmpeg->exitStatus() == QProcess::CrashExit)
        reason = QStringLiteral("it stopped unexpectedly");
    else if (feeding || !ended)
        reason = ended && status != 0 ? QStringLiteral("it stopped reading frames (status %1)").arg(status)
                                      : QStringLiteral("it stopped reading frames");
    else
        reason = QStringLiteral("status %1").arg(status);
    return QStringLiteral("ffmpeg could not make %1: %2").arg(printableName(m_target), reason);
}
