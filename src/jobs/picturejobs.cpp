#include "jobs/picturejobs.h"

#include <cmath>

namespace {

// A drag's picture should take no longer than a frame of a 60 Hz screen.
constexpr double kFrameSeconds = 0.016;

} // namespace

PictureJobs::PictureJobs(QObject* parent) : QObject(parent), m_renderer(new BackgroundRenderer(this))
{
    connect(m_renderer, &BackgroundRenderer::finished, this, &PictureJobs::onFinished);
    connect(m_renderer, &BackgroundRenderer::coarse, this, &PictureJobs::onCoarse);
}

void PictureJobs::adopt(const QImage& picture)
{
    m_picture = picture;
    m_display = sameBitsAs(picture, QImage::Format_RGB32);
    m_shownVersion = m_version;
    m_shownBlurred = false;
}

void PictureJobs::submit(const Purpose& purpose, const PictureJob& request)
{
    PictureJob job = request;
    job.tag = m_nextTag++;
    m_jobs.insert(job.tag, purpose);
    // Whatever runs is out of date, but a preview is let finish when the next one comes: a drag
    // that moves faster than previews are made would otherwise show none until it stops.
    const quint64 running = m_renderer->runningTag();
    const auto it = m_jobs.constFind(running);
    const bool keepRunning = purpose.preview && it != m_jobs.constEnd() && it->preview;
    m_renderer->submit(job, keepRunning);
    // The renderer holds at most the running job and this one; the rest will never arrive.
    for (auto k = m_jobs.begin(); k != m_jobs.end();)
        k = k.key() == running || k.key() == job.tag ? std::next(k) : m_jobs.erase(k);
    noteBusy();
}

bool PictureJobs::inFlight() const
{
    for (const Purpose& p : m_jobs)
        if (p.version == m_version && !p.preview)
            return true;
    return false;
}

void PictureJobs::render(const Scene& scene, const QString& message, bool persistent)
{
    m_blurred = false;
    m_blursWaiting = 0;
    ++m_version;
    m_lastFull = m_version;
    m_scene = scene;
    Purpose p;
    p.version = m_version;
    p.message = message;
    p.persistent = persistent;
    PictureJob job;
    job.scene = scene;
    if (qint64(scene.Wid) * scene.Hey > m_coarseFrom)
        job.coarse = kCoarseDivisor;
    submit(p, job);
}

void PictureJobs::preview(const Scene& scene)
{
    ++m_version;
    m_scene = scene;
    // Whole while the last full picture took a frame or less; above that, reduced so that a
    // preview takes about a frame.
    const double frames = m_lastRenderSeconds / kFrameSeconds;
    const int divisor = frames > 1 ? int(std::ceil(std::sqrt(frames))) : 1;
    PictureJob job;
    job.scene = scene;
    job.scene.Wid = std::max(1, scene.Wid / divisor);
    job.scene.Hey = std::max(1, scene.Hey / divisor);
    Purpose p;
    p.version = m_version;
    p.preview = true;
    submit(p, job);
}

PictureJobs::Purpose PictureJobs::blurPurpose() const
{
    Purpose b;
    b.version = m_version;
    b.blurred = true;
    b.message = m_blurMessage;
    return b;
}

bool PictureJobs::blur(const Scene& scene, const QString& message)
{
    if (m_blurred)
        return false;
    m_blurred = true;
    m_blurMessage = message;
    m_scene = scene;
    if (inFlight()) {
        // Blur this version's picture, or the blur on its way, once it is there.
        ++m_blursWaiting;
        return true;
    }
    PictureJob job;
    job.scene = scene;
    job.blur = true;
    // This version's picture; where only previews showed it, it is rendered first.
    if (m_shownVersion == m_version)
        job.source = m_picture;
    m_lastFull = m_version;
    submit(blurPurpose(), job);
    return true;
}

void PictureJobs::dropPending()
{
    m_blursWaiting = 0;
    // Blurred only if the picture kept is this version's blurred one.
    m_blurred = m_blurred && m_shownVersion == m_version && m_shownBlurred;
}

void PictureJobs::stop()
{
    m_renderer->stopAll();
    m_jobs.clear();
    dropPending();
    noteBusy();
}

void PictureJobs::onFinished(quint64 tag, const QImage& picture, const QImage& display, double seconds)
{
    const Purpose p = m_jobs.take(tag);
    // A preview still stands in while only previews came after it.
    const bool standsIn = p.preview && p.version > m_lastFull && !picture.isNull();
    if (p.version != m_version && !standsIn) {
        noteBusy(); // a newer request is on its way
        return;
    }
    if (picture.isNull()) {
        dropPending();
        noteBusy();
        emit failed();
        return;
    }
    if (p.preview) {
        noteBusy();
        emit standIn(display, false);
        return;
    }
    if (!p.blurred)
        m_lastRenderSeconds = seconds;
    m_picture = picture;
    m_display = display;
    m_shownVersion = m_version;
    m_shownBlurred = p.blurred;
    if (m_blursWaiting > 0) {
        // A blur asked for while this picture was on its way runs now.
        --m_blursWaiting;
        PictureJob job;
        job.scene = m_scene;
        job.source = m_picture;
        job.blur = true;
        submit(blurPurpose(), job);
    }
    noteBusy();
    emit shown(display, p.blurred, p.message, p.persistent, seconds);
}

void PictureJobs::onCoarse(quint64 tag, const QImage& display)
{
    const auto it = m_jobs.constFind(tag);
    if (it != m_jobs.constEnd() && it->version == m_version)
        emit standIn(display, true);
}

void PictureJobs::noteBusy()
{
    const bool now = busy();
    if (now != m_wasBusy) {
        m_wasBusy = now;
        emit busyChanged(now);
    }
}
