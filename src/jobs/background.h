#pragma once

#include <QImage>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

#include "scene/scene.h"

// One piece of picture work for BackgroundRenderer: render `scene` (unless `source` is given),
// then blur the result if `blur`. `tag` is the caller's, handed back with the picture.
struct PictureJob {
    Scene scene;
    QImage source;
    bool blur = false;
    // Above 1: a picture this many times smaller each way is rendered first and handed over
    // through coarse(), so that a large picture shows something at once.
    int coarse = 1;
    quint64 tag = 0;
};

// The same pixels as `image`, a 32-bit picture of opaque pixels, in `format` (QImage::Format_RGB32
// or QImage::Format_ARGB32): for opaque pixels the two hold the same bytes, so the result shares
// `image`'s memory rather than copying it, and keeps it alive. Writing to the result copies it
// first. Any other image is converted.
QImage sameBitsAs(const QImage& image, QImage::Format format);

// Renders and blurs pictures on worker threads, one job at a time, newest request first: a new
// request replaces one still waiting, and cancels the running job unless `keepRunning` says
// the running one is still wanted. The finished picture arrives in the thread that owns this
// object. Stopping never waits: a cancelled job's result is dropped, and a render stops within
// a strip of columns on its own.
class BackgroundRenderer : public QObject {
    Q_OBJECT

public:
    // Milliseconds on a steady clock.
    using Clock = std::function<qint64()>;

    explicit BackgroundRenderer(QObject* parent = nullptr);
    // Cancels the running job and returns at once; its result goes nowhere.
    ~BackgroundRenderer() override;

    void submit(const PictureJob& job, bool keepRunning = false);
    // Cancels the running job and drops a waiting one, at once: nothing more arrives from them.
    void stopAll();
    // True while a job runs or waits.
    bool busy() const { return m_running || m_waiting; }
    // The tag of the running job, and how far it has come (0..1) and how long it has run.
    quint64 runningTag() const;
    double progress() const;
    qint64 runningMs() const;
    // Waits until every job has ended, given-up ones too: a test that checks that nothing more
    // arrives calls it first.
    static void waitForWorkers();
    // Replaces the clock that times the jobs (a test sets its own); read on this object's thread.
    void setClock(Clock clock) { m_clock = std::move(clock); }

signals:
    // The small first picture of a job with `coarse` above 1, as 32-bit RGB.
    void coarse(quint64 tag, const QImage& display);
    // A job's picture (null when it could not be allocated), and the same pixels in the 32-bit
    // RGB format that the screen takes without converting, so that showing even a large
    // picture costs the receiving thread next to nothing. A render's two share one buffer,
    // rendered straight in the screen's format. `seconds` is the time from the start of the
    // job to its arrival.
    void finished(quint64 tag, const QImage& picture, const QImage& display, double seconds);

private:
    struct Run;
    struct Mailbox;
    void start();
    void onDone(const std::shared_ptr<Run>& run, const QImage& picture, const QImage& display, bool complete);

    std::shared_ptr<Run> m_current;
    std::unique_ptr<PictureJob> m_next;
    // How workers reach this object while it exists.
    std::shared_ptr<Mailbox> m_mailbox;
    bool m_running = false;
    bool m_waiting = false;
    Clock m_clock;
    qint64 m_startedMs = 0;
};
