#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>

#include "jobs/background.h"
#include "scene/scene.h"

// Decides which pictures the window needs and in what order, and hands them to a
// BackgroundRenderer. Every change of the scene is a new version; only the newest version's
// pictures are shown (a drag's previews aside, which stand in until a full picture is asked
// for), so when requests come faster than pictures, picture, blur and message end as handling
// each request in turn, each with its own render, would leave them.
class PictureJobs : public QObject {
    Q_OBJECT

public:
    explicit PictureJobs(QObject* parent = nullptr);

    // Takes `picture`, made before the window shows, as the current version's picture.
    void adopt(const QImage& picture);
    // Renders `scene` in full as a new version and clears the blur. `message` goes with the
    // picture, for a moment unless `persistent`. A large picture shows a coarse one first.
    void render(const Scene& scene, const QString& message, bool persistent = false);
    // A picture of `scene` for a drag, as a new version, shown through standIn() and never
    // kept: whole while the last full picture took no more than a frame (16 ms), otherwise
    // reduced so that it takes about a frame.
    void preview(const Scene& scene);
    // Blurs the current version's picture once: at once, after the render or blur on its way,
    // or after rendering it when only previews showed it. False, doing nothing, when it is blurred
    // or about to be. `message` goes with the blurred picture.
    bool blur(const Scene& scene, const QString& message);
    // The next blur runs again, even on a blurred picture (the scene commands do this).
    void forgetBlur() { m_blurred = false; }
    // Stops the work in flight and drops what waits; the picture shown stays.
    void stop();

    // True while the picture is blurred or a blur of it is on its way.
    bool blurred() const { return m_blurred; }
    // True while work runs or waits.
    bool busy() const { return m_renderer->busy(); }
    // True while a render or blur of the newest version is on its way: shown() will come.
    bool inFlight() const;
    // True when the picture kept is the newest version's: no change came after it.
    bool upToDate() const { return m_shownVersion == m_version; }
    // How far the running job has come (0..1) and how long it has run.
    double progress() const { return m_renderer->progress(); }
    qint64 runningMs() const { return m_renderer->runningMs(); }
    // The newest full picture (rendered or blurred) and its 32-bit RGB form; null before the first.
    const QImage& picture() const { return m_picture; }
    const QImage& display() const { return m_display; }

    // Replaces the clock that times the jobs.
    void setClock(BackgroundRenderer::Clock clock) { m_renderer->setClock(std::move(clock)); }
    // Pictures of more pixels than this show a coarse one first.
    void setCoarseFrom(qint64 pixels) { m_coarseFrom = pixels; }

    // How many times smaller, each way, the coarse first picture is.
    static constexpr int kCoarseDivisor = 8;

signals:
    // The newest version's full picture; `seconds` is how long it took.
    void shown(const QImage& display, bool blurred, const QString& message, bool persistent, double seconds);
    // A reduced picture of the newest version (a preview, or the coarse first picture) that
    // stands in for the full one: `coarse` tells which.
    void standIn(const QImage& display, bool coarse);
    // The newest version's picture could not be made (no memory for it).
    void failed();
    // Work began, or all work ended.
    void busyChanged(bool busy);

private:
    // What a job is for.
    struct Purpose {
        quint64 version = 0;     // the scene version it shows
        bool preview = false;    // a reduced picture, shown but not kept
        bool blurred = false;    // the job blurs
        QString message;         // shown with the picture; empty: none
        bool persistent = false; // the message stays until replaced
    };
    void submit(const Purpose& purpose, const PictureJob& job);
    Purpose blurPurpose() const;
    void onFinished(quint64 tag, const QImage& picture, const QImage& display, double seconds);
    void onCoarse(quint64 tag, const QImage& display);
    // Forgets the render and blur on their way, after a stop or a failure.
    void dropPending();
    void noteBusy();

    BackgroundRenderer* m_renderer;
    QHash<quint64, Purpose> m_jobs;
    quint64 m_nextTag = 1;
    // Scene version: every change and every render request counts one up.
    quint64 m_version = 0;
    // The version whose full picture m_picture holds.
    quint64 m_shownVersion = 0;
    // Blurs that wait for the newest version's render or blur on its way.
    int m_blursWaiting = 0;
    // The newest version that asked for a full picture: previews before it are out of date.
    quint64 m_lastFull = 0;
    bool m_blurred = false;
    // The picture kept is a blur's.
    bool m_shownBlurred = false;
    QString m_blurMessage;
    // How long the last full render took, to size previews.
    double m_lastRenderSeconds = 0;
    qint64 m_coarseFrom = 2'000'000;
    bool m_wasBusy = false;
    // The newest version's scene.
    Scene m_scene;
    QImage m_picture;
    QImage m_display;
};
