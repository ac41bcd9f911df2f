#pragma once

// A camera path rendered frame by frame into picture files, a video or both. The command line
// and the window's Render Animation run the same loop, so their frames are the same.

#include <QImage>
#include <QString>
#include <atomic>
#include <functional>

#include "picture/supersample.h"
#include "scene/camerapath.h"

// The file name of `frame`: "%d" or "%0Nd" in `pattern` become the frame number (N digits at
// least, 1 to 9), "%%" a percent sign.
QString frameFileName(const QString& pattern, qint64 frame);
// True when `pattern` names each frame differently.
bool hasFrameField(const QString& pattern);

// Frames per second of a video unless asked otherwise, and the most it takes.
constexpr int kDefaultFps = 24;
constexpr int kMaxFps = 240;

// Makes the folder a file goes into, so that "frames/f-%04d.png" works in a new place. A folder
// that cannot be made is not reported here: the write that follows says so in one line.
void makeFolderFor(const QString& file);

// What an animation is asked to be, by the window's Render Animation or lumivex-render --path:
// the same settings give the same frames and video.
struct AnimationSettings {
    QString pattern; // picture files, "%04d" where the frame number goes; empty: none
    qint64 first = 0, last = 0;
    bool smooth = false;
    int width = 1024;
    int height = 768;
    int supersample = 1;
    bool blur = false;
    bool skipExisting = false; // see AnimationJob
    QString video; // empty: none
    int fps = kDefaultFps;
};

struct AnimationJob {
    // The scene with its picture size; the path gives the camera of each frame.
    Scene scene;
    CameraPath path;
    bool smooth = false; // Catmull-Rom through the key frames rather than straight lines
    // The frames rendered, first to last (before the path's first key frame and after its last
    // the camera stays at that key's).
    qint64 first = 0, last = -1;
    PictureSettings picture;
    // Threads, the plain tracer and the stop flag (cancel); its columnsDone is not used.
    RenderOptions render;
    // Picture files: the frame number goes where the pattern says %d (see frameFileName).
    // Empty: none are written. Their folders, and the video's, are made as needed.
    QString pattern;
    // Frames whose picture file is already there, a whole picture of the size, are left as
    // they are (and, for a video, read back from it) rather than rendered again.
    bool skipExisting = false;
    // The video file (see VideoWriter); empty: none.
    QString video;
    int fps = kDefaultFps;
    // Makes a frame's picture; makePicture when not set (a caller may wrap it).
    std::function<PictureResult(const Scene&, const PictureSettings&, const RenderOptions&, QImage& picture,
                                QString* why)>
        makeFrame;
    // Writes a frame's picture file, into a folder that is there; writePicture when not set.
    // `why` says what went wrong.
    std::function<bool(const QImage& picture, const QString& name, QString& why)> writeFrame;
    // Told of every frame once it is done, on the thread that runs the job: the frame number
    // and its picture (read from its file when it was left as it was).
    std::function<void(qint64 frame, const QImage& picture)> frameDone;
};

// The job that renders the frames `settings` asks for of `path` in `scene` (at the settings'
// size), with the video; the caller adds the render options and may wrap makeFrame and
// writeFrame.
AnimationJob animationJob(const Scene& scene, const CameraPath& path, const AnimationSettings& settings);

// How far an animation has come, readable from any thread while it runs. Kept by the loop only
// (see frameStarted and frameDone), in an order that lets frames() never go back.
struct AnimationProgress {
    std::atomic<qint64> framesDone{0};    // frames rendered or left as they were
    std::atomic<qint64> framesStarted{0}; // framesDone, or one more while a frame is under way
    std::atomic<int> columnsDone{0};      // of the frame under way, out of `columns`
    std::atomic<int> columns{0};
    // Every frame is done and ffmpeg finishes the video.
    std::atomic<bool> encoding{false};
    // Frames done, counting the frame under way in part: never more than the frames started,
    // and never less than any value read before.
    double frames() const;
    void frameStarted(int columnsOfFrame);
    void frameDone();
};

struct AnimationResult {
    enum End {
        Done,
        Stopped, // by job.render.cancel: the files written are whole; no video is left
        Failed,  // see `why`; no video is left
    } end = Done;
    qint64 written = 0; // frames rendered: their file in place (without files, in the video)
    qint64 kept = 0;    // frames left as they were (skipExisting)
    qint64 redone = 0;  // frames whose file was there but not a whole picture of the size
    QString why;
};

// Renders the frames of `job` one after another on the calling thread and the render pool
// (any thread may call it), writing each frame's picture file as it is done, whole or not at
// all, and handing the frames to the video. The video is started before the first frame is
// rendered, so a missing ffmpeg or an unwritable place fails at once. `progress`, when given,
// is kept up to date.
AnimationResult renderAnimation(const AnimationJob& job, AnimationProgress* progress = nullptr);
