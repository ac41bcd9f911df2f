// lumivex-render: renders the scene without a window, for scripts and machines without a
// display. Uses the same scene model, tracer, blur and scene files as the window.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"
#include "picture/animation.h"
#include "picture/picturefile.h"
#include "picture/supersample.h"
#include "picture/videowriter.h"
#include "render/tracer.h"
#include "scene/camerapath.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

namespace {

const char* const kUsage =
    "Usage: lumivex-render [options]\n"
    "Renders the Lumivex scene by sphere tracing and writes the picture.\n"
    "\n"
    "  -o, --output FILE   write the picture; FILE ends in .png, .jpg, .bmp or .ppm (binary P6)\n"
    "  --xml FILE          load the scene from an XML scene file first\n"
    "  --bin FILE          load the scene from a line-format (\"Bin\") scene file first\n"
    "  --camera X,Y,Z      put the camera there (after any load)\n"
    "  --blur              smooth the picture once with the Gaussian blur\n"
    "  --supersample K     K x K rays a pixel (1 to 8), averaged; --blur comes after\n"
    "  --size WxH          render at W x H pixels (1 to 8192 a side; after any load)\n"
    "  --save-xml FILE     write the scene as an XML scene file\n"
    "  --save-bin FILE     write the scene as a line-format scene file\n"
    "  --repeat N          render N times (1 to 100000), for timing; the picture is written once\n"
    "  --threads N         render on N threads (1 to 1024; default: every core)\n"
    "  --reference         render with the plain single-threaded tracer (same picture, slower)\n"
    "  --path FILE         render every frame of a camera path (lines \"FRAME X Y Z\"); the output\n"
    "                      name takes the frame number where it says %d or %04d\n"
    "  --smooth            move along a smooth Catmull-Rom curve through the key frames\n"
    "  --frames A:B        render only frames A to B of the path\n"
    "  --skip-existing     leave out frames whose picture file is already there\n"
    "  --video FILE        make a video of the frames (.mp4, .mkv or .mov; H.264 by ffmpeg)\n"
    "  --fps N             frames a second of the video (1 to 240; default 24)\n"
    "  --quiet             no progress on standard error\n"
    "  -h, --help          show this help\n"
    "  --version           show the version\n"
    "\n"
    "Without a scene file the built-in scene is rendered at 1024 x 768.\n"
    "Progress shows on standard error when it is a terminal. Ctrl+C stops after leaving only\n"
    "whole pictures behind.\n"
    "Exit status: 0 on success, 1 when a file cannot be read or written, 2 for bad options;\n"
    "interrupted by Ctrl+C or a termination request, it ends by that signal (130 or 143).\n";

struct Options {
    QString output, loadXml, loadBin, saveXml, saveBin;
    bool haveCamera = false;
    Vector3D camera;
    bool blur = false;
    int repeat = 1;
    bool repeatGiven = false;
    int threads = 0;
    bool reference = false;
    QString path;
    bool smooth = false;
    bool haveFrames = false;
    qint64 firstFrame = 0, lastFrame = 0;
    bool skipExisting = false;
    bool quiet = false;
    int supersample = 1;
    QSize size;
    QString video;
    int fps = kDefaultFps;
    bool fpsGiven = false;
};

// Set by Ctrl+C or a termination request: the work stops at the next stage, leaving no partial
// file, and the program then ends by the signal (so the shell sees 130 or 143).
std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};
// True while a signal is to end the program at once: while it may wait for ever for another
// process (opening or writing a pipe, a device or standard output) or works on what cannot be
// stopped part way (the plain tracer). Nothing of ours is half-written then: such output is
// written in place, not through a temporary file, and a render writes no file; a video under
// way is given up on the spot.
std::atomic<bool> g_endAtOnce{false};

// Ends the program by `sig` now, giving up any video under way (ffmpeg, in a process group of
// its own, would otherwise finish it from what it has). Safe in a handler.
void endBySignal(int sig)
{
    VideoWriter::abandonAllNow();
    static const char said[] = "lumivex-render: interrupted\n";
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, said, sizeof said - 1);
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(sig, &byDefault, nullptr);
    // In a handler the signal is blocked until it returns, and then ends the program.
    raise(sig);
}

extern "C" void onSignal(int sig)
{
    int none = 0;
    const bool again = !g_signal.compare_exchange_strong(none, sig);
    g_stop = true;
    // A second signal ends the program at once too, whatever it waits for.
    if (g_endAtOnce || again)
        endBySignal(sig);
}

void catchSignals()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Marks a stretch of work in which a signal ends the program at once (see g_endAtOnce).
class EndAtOnce {
public:
    explicit EndAtOnce(bool on) : m_on(on)
    {
        if (!m_on)
            return;
        g_endAtOnce = true;
        // A signal that came just before is honoured now.
        if (const int sig = g_signal)
            endBySignal(sig);
    }
    ~EndAtOnce()
    {
        if (m_on)
            g_endAtOnce = false;
    }
    EndAtOnce(const EndAtOnce&) = delete;
    EndAtOnce& operator=(const EndAtOnce&) = delete;

private:
    bool m_on;
};

// True for an output that is written in place and so may wait for its reader.
bool writtenInPlace(const QString& name)
{
    return name == "-" || isSpecialFile(name);
}

// Prints progress on standard error every quarter second while work goes on.
class Progress {
public:
    Progress(bool on, qint64 frames) : m_on(on), m_frames(frames)
    {
        if (m_on)
            m_thread = std::thread([this] { loop(); });
    }
    ~Progress()
    {
        if (!m_on)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
        std::fputs("\r\033[K", stderr);
    }
    // Kept up to date by the work, shown from here.
    AnimationProgress state;

private:
    void loop()
    {
        QElapsedTimer clock;
        clock.start();
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_done; })) {
            const double s = clock.nsecsElapsed() / 1e9;
            const double done = state.frames();
            if (m_frames <= 1) {
                std::fprintf(stderr, "\r\033[K%3.0f%%", done * 100);
            } else {
                const double rate = done / s;
                std::fprintf(stderr, "\r\033[Kframe %lld of %lld, %.2f frames/s, %.0f s left",
                             static_cast<long long>(state.framesDone) + 1, static_cast<long long>(m_frames), rate,
                             rate > 0 ? (double(m_frames) - done) / rate : 0.0);
            }
            std::fflush(stderr);
        }
    }

    bool m_on;
    qint64 m_frames;
    bool m_done = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};

// Makes the folder a picture goes into, so that `-o frames/f-%04d.png` works in a new place. A
// folder that cannot be made is not reported here: the write that follows says so in one line.
void makeFolderFor(const QString& picture)
{
    if (picture != "-")
        QDir().mkpath(QFileInfo(picture).absolutePath());
}

// Says what went wrong on one line and gives the exit status for it. Whatever the message
// quotes reaches the terminal escaped.
int fail(int status, const QString& message)
{
    std::fprintf(stderr, "lumivex-render: %s\n", qPrintable(printable(message.toUtf8(), INT_MAX)));
    return status;
}

// The status of a run stopped by a signal; main then ends the program by that signal.
int interrupted(const QString& what)
{
    return fail(g_signal == SIGTERM ? 143 : 130, QStringLiteral("interrupted: %1").arg(what));
}

// A whole number from lo to hi in plain digits, as options take them: no sign, no blanks.
bool parseWhole(const QString& text, qint64 lo, qint64 hi, qint64& out)
{
    const QByteArray digits = text.toUtf8();
    return !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           readWholeNumber(digits, lo, hi, out) == NumberText::Ok;
}

bool parseCount(const QString& text, int lo, int hi, int& out)
{
    qint64 v = 0;
    if (!parseWhole(text, lo, hi, v))
        return false;
    out = int(v);
    return true;
}

// An option's value as messages quote it.
QString quoted(const QString& value)
{
    return printable(value.toUtf8());
}

// "X,Y,Z", read as the files read their numbers; otherwise false, with what is wrong.
bool parseCamera(const QString& text, Vector3D& out, QString& why)
{
    const QList<QByteArray> parts = text.toUtf8().split(',');
    if (parts.size() != 3) {
        why = QStringLiteral("--camera takes three numbers X,Y,Z, not '%1'").arg(quoted(text));
        return false;
    }
    float v[3];
    for (int k = 0; k < 3; ++k) {
        const QByteArray value = parts[k].trimmed();
        const NumberText result = readFloat(value, v[k]);
        if (result != NumberText::Ok) {
            why = QStringLiteral("--camera X,Y,Z: the %1 value %2%3")
                      .arg(QString(QChar("XYZ"[k])), value.isEmpty() ? QString() : "'" + printable(value) + "' ",
                           numberProblem(result));
            return false;
        }
    }
    out = Vector3D(v[0], v[1], v[2]);
    return true;
}

// "WxH", each side a whole number from 1 to 8192.
bool parseSize(const QString& text, QSize& out)
{
    const QStringList sides = text.split(QRegularExpression(QStringLiteral("[xX]")));
    int w = 0, h = 0;
    if (sides.size() != 2 || !parseCount(sides[0], kMinPictureSide, kMaxPictureSide, w) ||
        !parseCount(sides[1], kMinPictureSide, kMaxPictureSide, h))
        return false;
    out = QSize(w, h);
    return true;
}

// Parses the arguments; returns -1 to go on, or the exit status.
int parse(const QStringList& args, Options& o)
{
    for (int k = 1; k < args.size(); ++k) {
        const QString& a = args[k];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("lumivex-render %s\n", LUMIVEX_VERSION);
            return 0;
        }
        if (a == "--blur") {
            o.blur = true;
            continue;
        }
        if (a == "--reference") {
            o.reference = true;
            continue;
        }
        if (a == "--smooth" || a == "--skip-existing" || a == "--quiet") {
            (a == "--smooth" ? o.smooth : (a == "--quiet" ? o.quiet : o.skipExisting)) = true;
            continue;
        }
        static const QStringList withValue = {"-o", "--output", "--xml", "--bin", "--camera", "--save-xml",
                                              "--save-bin", "--repeat", "--threads", "--path", "--frames",
                                              "--supersample", "--size", "--video", "--fps"};
        if (!withValue.contains(a))
            return fail(2, QStringLiteral("unknown option '%1' (see --help)").arg(quoted(a)));
        if (k + 1 >= args.size())
            return fail(2, QStringLiteral("option '%1' needs a value").arg(quoted(a)));
        const QString v = args[++k];
        // An empty file name would quietly mean "no file": the built-in scene, no picture.
        if (v.isEmpty())
            return fail(2, QStringLiteral("option '%1' needs a non-empty value").arg(quoted(a)));
        if (a == "-o" || a == "--output") {
            o.output = v;
        } else if (a == "--xml") {
            o.loadXml = v;
        } else if (a == "--bin") {
            o.loadBin = v;
        } else if (a == "--save-xml") {
            o.saveXml = v;
        } else if (a == "--save-bin") {
            o.saveBin = v;
        } else if (a == "--camera") {
            QString why;
            if (!parseCamera(v, o.camera, why))
                return fail(2, why);
            o.haveCamera = true;
        } else if (a == "--repeat") {
            if (!parseCount(v, 1, 100000, o.repeat))
                return fail(2, QStringLiteral("--repeat takes a whole number from 1 to 100000, not '%1'")
                                   .arg(quoted(v)));
            o.repeatGiven = true;
        } else if (a == "--path") {
            o.path = v;
        } else if (a == "--frames") {
            const QStringList ends = v.split(':');
            const auto frame = [](const QString& text, qint64& out) {
                return parseWhole(text, 0, std::numeric_limits<qint64>::max(), out);
            };
            if (ends.size() != 2 || !frame(ends[0], o.firstFrame) || !frame(ends[1], o.lastFrame) ||
                o.firstFrame > o.lastFrame)
                return fail(2, QStringLiteral("--frames takes FIRST:LAST, two frame numbers in order, not '%1'")
                                   .arg(quoted(v)));
            o.haveFrames = true;
        } else if (a == "--threads") {
            if (!parseCount(v, 1, 1024, o.threads))
                return fail(2, QStringLiteral("--threads takes a whole number from 1 to 1024, not '%1'")
                                   .arg(quoted(v)));
        } else if (a == "--supersample") {
            if (!parseCount(v, 1, kMaxSupersample, o.supersample))
                return fail(2, QStringLiteral("--supersample takes a whole number from 1 to %1, not '%2'")
                                   .arg(kMaxSupersample)
                                   .arg(quoted(v)));
        } else if (a == "--size") {
            if (!parseSize(v, o.size))
                return fail(2, QStringLiteral("--size takes WIDTHxHEIGHT, each from 1 to %1, not '%2'")
                                   .arg(kMaxPictureSide)
                                   .arg(quoted(v)));
        } else if (a == "--video") {
            o.video = v;
        } else if (a == "--fps") {
            if (!parseCount(v, 1, kMaxFps, o.fps))
                return fail(2, QStringLiteral("--fps takes a whole number from 1 to %1, not '%2'")
                                   .arg(kMaxFps)
                                   .arg(quoted(v)));
            o.fpsGiven = true;
        }
    }
    if (!o.loadXml.isEmpty() && !o.loadBin.isEmpty())
        return fail(2, "give either --xml or --bin, not both");
    if (o.path.isEmpty() && (o.smooth || o.haveFrames || o.skipExisting))
        return fail(2, "--smooth, --frames and --skip-existing go with --path");
    if (o.path.isEmpty() && !o.video.isEmpty())
        return fail(2, "--video goes with --path");
    if (o.video.isEmpty() && o.fpsGiven)
        return fail(2, "--fps goes with --video");
    if (!o.path.isEmpty() && (o.haveCamera || (o.output.isEmpty() && o.video.isEmpty()) || o.repeatGiven))
        return fail(2, "--path needs -o or --video and takes its cameras from the path, not --camera or --repeat");
    if (o.skipExisting && o.output.isEmpty())
        return fail(2, "--skip-existing needs -o, the pictures it looks for");
    static const QRegularExpression videoSuffix(QStringLiteral("\\.(mp4|mkv|mov)$"),
                                                QRegularExpression::CaseInsensitiveOption);
    if (!o.video.isEmpty() && !videoSuffix.match(o.video).hasMatch())
        return fail(2, QStringLiteral("cannot tell the video format of '%1': use .mp4, .mkv or .mov")
                           .arg(printableName(o.video)));
    if (o.output.isEmpty() && o.video.isEmpty() && o.saveXml.isEmpty() && o.saveBin.isEmpty())
        return fail(2, "nothing to write: give -o, --save-xml or --save-bin (see --help)");
    if (!o.output.isEmpty() && !pictureFormatKnown(o.output))
        return fail(2, QStringLiteral("cannot tell the picture format of '%1': use .png, .jpg, .bmp or .ppm")
                           .arg(printableName(o.output)));
    return -1;
}

// Status 1 with "not enough memory <doing> a W x H picture".
int notEnoughMemory(const char* doing, const Scene& scene)
{
    return fail(1, QStringLiteral("not enough memory %1 a %2 x %3 picture").arg(doing).arg(scene.Wid).arg(scene.Hey));
}

// Makes the picture of a single render or a frame.
PictureResult makeOutput(const Scene& scene, const PictureSettings& settings, const RenderOptions& ro, QImage& img,
                         QString* why)
{
    // The plain tracer does not look at ro.cancel.
    const EndAtOnce plain(ro.reference);
    return makePicture(scene, settings, ro, img, why);
}

// Writes the picture of a single render or a frame; in place (and so perhaps waiting for a
// reader) or through a temporary file.
bool writeOutput(const QImage& img, const QString& name, QString& why)
{
    makeFolderFor(name);
    const EndAtOnce waiting(writtenInPlace(name));
    return writePicture(img, name, why);
}

bool saveOutput(Serializer& writer, const QString& name, const Scene& scene, QString& why)
{
    const EndAtOnce waiting(writtenInPlace(name));
    return saveScene(writer, name, scene, &why);
}

// Renders the picture a band of rows at a time, each written before the next is rendered: a
// large picture is never held whole. For a regular file only, written through a temporary
// file, so that an interruption leaves nothing behind.
int renderInBands(const Scene& scene, RenderOptions ro, const QString& output, bool showProgress)
{
    // Bands of about two million pixels: a few megabytes, and plenty of strips for every core.
    const int rows = std::max(1, std::min(scene.Hey, (1 << 21) / scene.Wid));
    QImage band(scene.Wid, rows, QImage::Format_ARGB32);
    if (band.isNull())
        return notEnoughMemory("for", scene);
    QString why;
    PictureWriter writer;
    makeFolderFor(output);
    if (!writer.open(output, scene.Wid, scene.Hey, why))
        return fail(1, why);
    Progress progress(showProgress, 1);
    // Each band counts its columns.
    progress.state.columns = scene.Wid * ((scene.Hey + rows - 1) / rows);
    ro.columnsDone = &progress.state.columnsDone;
    for (int first = 0; first < scene.Hey; first += rows) {
        if (scene.Hey - first < rows)
            band = band.copy(0, 0, scene.Wid, scene.Hey - first);
        ro.firstRow = first;
        bool whole;
        try {
            whole = renderInto(scene, band, ro);
        } catch (const std::bad_alloc&) {
            return notEnoughMemory("to render", scene);
        }
        if (!whole || g_stop)
            return interrupted("no picture written");
        if (!writer.write(band, why))
            return fail(1, why);
    }
    return writer.finish(why) ? 0 : fail(1, why);
}

int run(const QStringList& args)
{
    Options o;
    const int parsed = parse(args, o);
    if (parsed >= 0)
        return parsed;
    catchSignals();

    Scene scene = Scene::builtIn();
    QString why;
    if (!o.loadXml.isEmpty()) {
        XMLL reader;
        if (!loadScene(reader, o.loadXml, scene, &why))
            return fail(1, why);
    } else if (!o.loadBin.isEmpty()) {
        BinL reader;
        if (!loadScene(reader, o.loadBin, scene, &why))
            return fail(1, why);
    }
    if (o.haveCamera)
        scene.CamPos = o.camera;
    if (o.size.isValid()) {
        scene.Wid = o.size.width();
        scene.Hey = o.size.height();
    }
    if (!o.saveXml.isEmpty()) {
        XMLS writer;
        if (g_stop)
            return interrupted("nothing written");
        if (!saveOutput(writer, o.saveXml, scene, why))
            return fail(1, why);
    }
    if (!o.saveBin.isEmpty()) {
        BinS writer;
        if (g_stop)
            return interrupted("the scene file was not written");
        if (!saveOutput(writer, o.saveBin, scene, why))
            return fail(1, why);
    }
    if (o.output.isEmpty() && o.video.isEmpty())
        return 0;

    const bool showProgress = !o.quiet && isatty(fileno(stderr));
    RenderOptions ro;
    ro.threads = o.threads;
    ro.reference = o.reference;
    ro.cancel = &g_stop;
    // The blur is left out of the timing of --repeat, and comes once, after the last render.
    const PictureSettings settings{o.supersample, false};

    if (o.path.isEmpty() && !o.blur && !o.repeatGiven && !o.reference && o.supersample == 1 &&
        pictureStreams(o.output) && !writtenInPlace(o.output))
        return renderInBands(scene, ro, o.output, showProgress);
    if (o.path.isEmpty()) {
        QImage img(scene.Wid, scene.Hey, QImage::Format_ARGB32);
        if (img.isNull())
            return notEnoughMemory("for", scene);
        double total = 0, fastest = 1e30;
        {
            Progress progress(showProgress, 1);
            progress.state.columns = pictureColumns(scene, settings);
            ro.columnsDone = &progress.state.columnsDone;
            for (int n = 0; n < o.repeat && !g_stop; ++n) {
                progress.state.columnsDone = 0;
                QElapsedTimer t;
                t.start();
                const PictureResult r = makeOutput(scene, settings, ro, img, &why);
                if (r == PictureResult::NoMemory || r == PictureResult::Refused)
                    return fail(1, why);
                const double s = t.nsecsElapsed() / 1e9;
                total += s;
                fastest = std::min(fastest, s);
            }
        }
        if (g_stop)
            return interrupted("no picture written");
        if (o.repeatGiven)
            std::fprintf(stderr, "lumivex-render: %d renders, %.4f s each on average, %.4f s the fastest\n", o.repeat,
                         total / o.repeat, fastest);
        if (o.blur && (img = blurPicture(img, ro)).isNull())
            return notEnoughMemory("to blur", scene);
        if (g_stop)
            return interrupted("no picture written");
        if (!writeOutput(img, o.output, why))
            return fail(1, why);
        return 0;
    }

    CameraPath path;
    if (!readCameraPath(o.path, path, &why))
        return fail(1, why);
    if (g_stop)
        return interrupted("no frame written");
    qint64 first = path.firstFrame(), last = path.lastFrame();
    if (o.haveFrames) {
        first = std::max(first, o.firstFrame);
        last = std::min(last, o.lastFrame);
        if (first > last)
            return fail(2, QStringLiteral("--frames %1:%2 lies outside the path's frames %3 to %4")
                               .arg(o.firstFrame)
                               .arg(o.lastFrame)
                               .arg(path.firstFrame())
                               .arg(path.lastFrame()));
    }
    if (first < last && !o.output.isEmpty() && !hasFrameField(o.output))
        return fail(2, QStringLiteral("the output name '%1' needs %d or %04d for the frame number")
                           .arg(printableName(o.output)));
    if (!o.video.isEmpty())
        makeFolderFor(o.video);
    AnimationJob job;
    job.scene = scene;
    job.path = path;
    job.smooth = o.smooth;
    job.first = first;
    job.last = last;
    job.picture = PictureSettings{o.supersample, o.blur};
    job.render = ro;
    job.pattern = o.output;
    job.skipExisting = o.skipExisting;
    job.video = o.video;
    job.fps = o.fps;
    job.makeFrame = makeOutput;
    job.writeFrame = writeOutput;
    AnimationResult done;
    {
        // Counted without overflow up to the largest frame number: last - first + 1 may not fit.
        const qint64 toGo = last - first;
        Progress progress(showProgress, toGo == std::numeric_limits<qint64>::max() ? toGo : toGo + 1);
        done = renderAnimation(job, &progress.state);
    }
    if (done.end == AnimationResult::Failed)
        return fail(1, done.why);
    if (done.redone == 1)
        std::fprintf(stderr, "lumivex-render: 1 frame was there but not a whole picture of %d x %d; rendered again\n",
                     scene.Wid, scene.Hey);
    else if (done.redone > 1)
        std::fprintf(stderr,
                     "lumivex-render: %lld frames were there but not whole pictures of %d x %d; rendered again\n",
                     static_cast<long long>(done.redone), scene.Wid, scene.Hey);
    if (done.end == AnimationResult::Stopped) {
        QString said = o.output.isEmpty()
                           ? QStringLiteral("no video written")
                           : QStringLiteral("%1 frames written, every one whole").arg(done.written);
        if (!o.output.isEmpty() && !o.video.isEmpty())
            said += "; no video";
        return interrupted(said);
    }
    return 0;
}

} // namespace

// Qt's own warnings (an image library's "libpng error: ...", say) would make a second line
// beside the one this command prints for every failure.
void quietWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "lumivex-render: %s\n", qPrintable(message));
}

int main(int argc, char** argv)
{
    qInstallMessageHandler(quietWarnings);
    QCoreApplication app(argc, argv);
    const int status = run(app.arguments());
    // Stopped by a signal: with everything cleaned up, end by it, as the shell expects.
    if (const int sig = g_signal) {
        std::fflush(nullptr);
        std::signal(sig, SIG_DFL);
        raise(sig);
    }
    return status;
}
