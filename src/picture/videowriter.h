#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

// Makes a video from pictures with the ffmpeg program found on PATH: the frames go to it
// uncompressed (24-bit RGB) through a pipe and come out as H.264 in yuv420p, whose colour
// planes need even sides: an odd width or height gets one black column or row at the right or
// bottom. The video is made under a temporary name beside the file and put in its place only
// when ffmpeg has finished it and ffprobe finds every frame in it, so that a failure or a stop
// leaves no partial video (a device or pipe is written into as it is). The container follows
// the file name's suffix (.mp4, .mkv, .mov). ffmpeg gets every name as an absolute path through
// its file protocol, so that no name is taken for an option, a protocol or standard output.
// ffmpeg never outlives this program, however it ends, and so never finishes a video on its
// own; what it prints is read as it comes, and only its end is kept, for the message.
//
// Blocking and usable without an event loop: open, addFrame and finish wait for ffmpeg as
// needed, but give the video up as soon as the stop flag given to open is set, however long
// ffmpeg takes (it may be writing a pipe no one reads). One thread uses a writer at a time;
// the destructor gives up a video not finished.
class VideoWriter {
public:
    VideoWriter();
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // The ffmpeg program on PATH; empty when there is none.
    static QString ffmpegProgram();
    // The ffprobe program that came with ffmpeg (in its folder), else the one on PATH; empty
    // when there is none.
    static QString ffprobeProgram();
    // The arguments that make ffmpeg read frames of `size` at `fps` from its standard input
    // and write the video `target`.
    static QStringList ffmpegArguments(QSize size, int fps, const QString& target);

    // Starts ffmpeg for frames of `size` at `fps` frames a second (1 or more) into `fileName`.
    // False, with `why`, when ffmpeg (or, for a file, ffprobe) is missing or ffmpeg cannot
    // start, or the file cannot be made. While `stop` (when given) is set, every call gives the
    // video up and returns false. ffmpeg is killed when the calling thread ends: the thread
    // that opens a video is the one that finishes it.
    bool open(const QString& fileName, QSize size, int fps, QString& why, const std::atomic<bool>* stop = nullptr);
    // Test seam: whether a video is under way. The programs have no use for it.
    bool isOpen() const;
    // Hands ffmpeg one frame of the size given to open. False, with `why`, when ffmpeg has
    // stopped or memory ran out ("not enough memory ..."); the video is then given up.
    bool addFrame(const QImage& frame, QString& why);
    // Lets ffmpeg finish the video and puts it in place. False, with `why`, when ffmpeg failed,
    // or ffprobe cannot read the video or counts fewer frames in it than were handed over:
    // nothing is left under either name (an old video of that name stays as it was).
    bool finish(QString& why);
    // Stops ffmpeg and removes what it wrote; nothing happens when no video is open.
    void abort();

    // For a signal handler about to end the program at once, when no writer can finish its
    // work: kills the ffmpeg of every video under way and removes their temporary files.
    // Async-signal-safe.
    static void abandonAllNow();
    // For a program that ends by a signal it caught: abandons every video under way (ffmpeg
    // would otherwise finish it from what it has), then ends the program by `sig`, as if the
    // signal had not been caught. Async-signal-safe; also from a handler of `sig` itself.
    [[noreturn]] static void abandonAllAndEndBy(int sig);

private:
    struct Tool;
    // Why ffmpeg failed: the last line it printed, or what it did. `feeding`: it failed while
    // frames were still being handed to it.
    QString failure(bool feeding);
    bool drain(qint64 keep);
    // False once ffmpeg has ended or stopped taking its input.
    bool takesFrames() const;
    // Waits for ffmpeg or ffprobe to end, at most `ms` (-1: no limit); true once it has ended. Gives up
    // at once when a stop is asked for.
    bool waitForEnd(Tool& tool, int ms);
    // Whether ffprobe reads the finished temporary file and finds every frame in it; else
    // false, with `why`.
    bool readBack(QString& why);
    bool stopAsked() const { return m_stop && m_stop->load(); }
    // What abandonAllNow sees of this writer: ffmpeg has ended; nothing is under way.
    void forgetProcess();
    void leaveUnderway();

    std::unique_ptr<Tool> m_ffmpeg;
    QString m_target, m_temporary, m_ffprobe;
    QSize m_size;
    qint64 m_frames = 0; // handed to ffmpeg
    const std::atomic<bool>* m_stop = nullptr;
    // This writer's place in what abandonAllNow sees; -1: none.
    int m_underway = -1;
};
