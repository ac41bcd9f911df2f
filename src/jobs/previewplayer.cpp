#include "jobs/previewplayer.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "jobs/background.h"

namespace {

// The smallest share of a side: a preview stays recognisable even on a very slow machine.
constexpr double kMinScale = 1.0 / 64;
// A size changes by at most this much each way from one frame to the next.
constexpr double kMaxStep = 1.5;
// A size within this share of the right one stays.
constexpr double kSteady = 0.1;

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PreviewPlayer::PreviewPlayer(QObject* parent)
    : QObject(parent), m_renderer(new BackgroundRenderer(this)), m_timer(new QTimer(this)), m_clock(steadyMs)
{
    m_renderer->setClock(m_clock);
    // Checked twice a frame, so that a frame's time is never missed by more than half a frame.
    m_timer->setInterval(1000 / kFps / 2);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PreviewPlayer::tick);
    connect(m_renderer, &BackgroundRenderer::finished, this, &PreviewPlayer::onFinished);
}

PreviewPlayer::~PreviewPlayer() = default;

void PreviewPlayer::setClock(Clock clock)
{
    m_clock = clock;
    m_renderer->setClock(std::move(clock));
}

double PreviewPlayer::nextScale(double scale, double seconds)
{
    const double budget = kBudget / kFps;
    // Time goes with the pixels, the square of the share of a side.
    const double step = seconds > 0 ? std::sqrt(budget / seconds) : kMaxStep;
    // Render times vary a little from frame to frame; the size stays unless they are clearly off.
    if (std::abs(step - 1) < kSteady)
        return scale;
    return std::clamp(scale * std::clamp(step, 1 / kMaxStep, kMaxStep), kMinScale, 1.0);
}

void PreviewPlayer::play(const Scene& scene, const CameraPath& path, bool smooth, double fullSeconds)
{
    stop();
    if (path.keys.empty())
        return;
    m_scene = scene;
    m_path = path;
    m_smooth = smooth;
    // Unknown: a quarter of each side, which the first frames correct.
    m_scale = fullSeconds > 0 ? std::clamp(std::sqrt(kBudget / kFps / fullSeconds), kMinScale, 1.0) : 0.25;
    m_playing = true;
    m_held = false;
    m_shown = -1;
    m_requested = -1;
    m_startFrame = m_path.firstFrame();
    m_startMs = m_clock();
    m_timer->start();
    tick();
}

void PreviewPlayer::stop()
{
    if (!m_playing)
        return;
    m_playing = false;
    m_timer->stop();
    m_renderer->stopAll();
}

void PreviewPlayer::seek(qint64 frame, bool hold)
{
    if (!m_playing)
        return;
    m_startFrame = std::clamp(frame, m_path.firstFrame(), m_path.lastFrame());
    m_startMs = m_clock();
    m_held = hold;
    tick();
}

qint64 PreviewPlayer::frameDue() const
{
    if (m_held || m_path.keys.empty())
        return m_startFrame;
    // Counted without overflow over the whole range of frame numbers.
    const quint64 frames = quint64(m_path.lastFrame() - m_path.firstFrame()) + 1;
    const quint64 elapsed = quint64(std::max<qint64>(0, m_clock() - m_startMs)) * kFps / 1000;
    const quint64 from = quint64(m_startFrame - m_path.firstFrame());
    return m_path.firstFrame() + qint64((from + elapsed % frames) % frames);
}

void PreviewPlayer::tick()
{
    if (!m_playing || m_renderer->busy())
        return;
    const qint64 due = frameDue();
    // A frame already shown is rendered again only when it can come larger.
    if (due == m_requested && m_scale <= m_requestedScale)
        return;
    Scene frame = m_scene;
    frame.CamPos = m_path.cameraAt(due, m_smooth);
    frame.Wid = std::max(1, int(std::lround(m_scene.Wid * m_scale)));
    frame.Hey = std::max(1, int(std::lround(m_scene.Hey * m_scale)));
    PictureJob job;
    job.scene = frame;
    job.tag = ++m_tag;
    m_requested = due;
    m_requestedScale = m_scale;
    m_renderer->submit(job);
}

void PreviewPlayer::onFinished(quint64 tag, const QImage&, const QImage& display, double seconds)
{
    if (!m_playing || tag != m_tag)
        return;
    m_scale = nextScale(m_requestedScale, seconds);
    if (display.isNull())
        return; // no memory for this size: the next is smaller
    m_shown = m_requested;
    emit frameShown(m_shown, display);
    // The next frame starts at once, not at the next tick.
    tick();
}
