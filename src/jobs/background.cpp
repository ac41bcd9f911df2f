#include "jobs/background.h"

#include <QThread>
#include <QThreadPool>
#include <chrono>
#include <mutex>

#include "picture/blur.h"
#include "render/tracer.h"

namespace {

// The jobs' own threads. Never destroyed, so that nothing waits at exit for a job that was
// given up (a blur cannot stop half-way); the process ends around it.
QThreadPool& jobPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        // One job runs at a time, plus the few given up and not yet at their end.
        p->setMaxThreadCount(std::max(4, QThread::idealThreadCount()));
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

QImage sameBitsAs(const QImage& image, QImage::Format format)
{
    const bool opaque32 = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    if (image.isNull() || image.format() == format || !opaque32 ||
        (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32))
        return image.convertToFormat(format);
    // The new image reads the old one's buffer, and holds a reference to it until it goes.
    auto* keep = new QImage(image);
    return QImage(
        keep->constBits(), keep->width(), keep->height(), keep->bytesPerLine(), format,
        [](void* held) { delete static_cast<QImage*>(held); }, keep);
}

struct BackgroundRenderer::Run {
    PictureJob job;
    std::atomic<bool> cancel{false};
    std::atomic<int> columnsDone{0};
};

struct BackgroundRenderer::Mailbox {
    std::mutex mutex;
    BackgroundRenderer* owner = nullptr;

    // Runs `f` on the owner's thread, unless the owner is gone by then; the lock keeps it from
    // going while the call is posted.
    void post(std::function<void(BackgroundRenderer*)> f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (owner)
            QMetaObject::invokeMethod(owner, [o = owner, f = std::move(f)] { f(o); }, Qt::QueuedConnection);
    }
};

BackgroundRenderer::BackgroundRenderer(QObject* parent)
    : QObject(parent), m_mailbox(std::make_shared<Mailbox>()), m_clock(steadyMs)
{
    m_mailbox->owner = this;
}

BackgroundRenderer::~BackgroundRenderer()
{
    stopAll();
    std::lock_guard<std::mutex> lock(m_mailbox->mutex);
    m_mailbox->owner = nullptr;
}

void BackgroundRenderer::submit(const PictureJob& job, bool keepRunning)
{
    m_next = std::make_unique<PictureJob>(job);
    m_waiting = true;
    if (m_running) {
        if (!keepRunning)
            m_current->cancel = true;
        return;
    }
    start();
}

void BackgroundRenderer::waitForWorkers()
{
    jobPool().waitForDone();
}

quint64 BackgroundRenderer::runningTag() const
{
    return m_current ? m_current->job.tag : 0;
}

double BackgroundRenderer::progress() const
{
    if (!m_running || !m_current)
        return 0;
    const int wid = std::max(1, m_current->job.scene.Wid);
    return std::min(1.0, m_current->columnsDone.load() / double(wid));
}

qint64 BackgroundRenderer::runningMs() const
{
    return m_running ? m_clock() - m_startedMs : 0;
}

void BackgroundRenderer::stopAll()
{
    m_next.reset();
    m_waiting = false;
    if (m_current)
        m_current->cancel = true;
    m_current.reset();
    m_running = false;
}

void BackgroundRenderer::start()
{
    if (!m_next)
        return;
    auto run = std::make_shared<Run>();
    run->job = std::move(*m_next);
    m_next.reset();
    m_waiting = false;
    m_current = run;
    m_running = true;
    m_startedMs = m_clock();
    jobPool().start([run, mailbox = m_mailbox] {
        const PictureJob& job = run->job;
        QImage picture = job.source;
        bool complete = true;
        if (picture.isNull()) {
            const Scene& s = job.scene;
            RenderOptions o;
            o.cancel = &run->cancel;
            if (job.coarse > 1) {
                Scene small = s;
                small.Wid = std::max(1, s.Wid / job.coarse);
                small.Hey = std::max(1, s.Hey / job.coarse);
                // Rendered in the screen's format: every pixel is opaque, so nothing to convert.
                QImage first(small.Wid, small.Hey, QImage::Format_RGB32);
                if (!first.isNull() && renderInto(small, first, o)) {
                    mailbox->post([run, first](BackgroundRenderer* r) {
                        if (run == r->m_current && !run->cancel)
                            emit r->coarse(run->job.tag, first);
                    });
                }
            }
            picture = QImage(s.Wid, s.Hey, QImage::Format_RGB32);
            o.columnsDone = &run->columnsDone;
            // A picture that cannot be allocated arrives as a null image.
            complete = !run->cancel && (picture.isNull() || renderInto(s, picture, o));
        }
        if (complete && job.blur && !run->cancel && !picture.isNull())
            picture = blurImage(picture);
        // The screen's form and the picture's share one buffer: a render's ARGB32 picture is
        // its RGB32 pixels seen in that format, and a blur's picture is RGB32 already.
        QImage display;
        if (complete && !run->cancel && !picture.isNull()) {
            display = sameBitsAs(picture, QImage::Format_RGB32);
            if (job.source.isNull() && !job.blur)
                picture = sameBitsAs(display, QImage::Format_ARGB32);
        }
        // A cancelled run's result is dropped on the owner's thread.
        mailbox->post([run, picture, display, complete](BackgroundRenderer* r) { r->onDone(run, picture, display, complete); });
    });
}

void BackgroundRenderer::onDone(const std::shared_ptr<Run>& run, const QImage& picture, const QImage& display,
                                bool complete)
{
    if (run != m_current)
        return; // stopped by stopAll
    const double seconds = (m_clock() - m_startedMs) / 1000.0;
    m_current.reset();
    m_running = false;
    const bool wanted = complete && !run->cancel;
    const quint64 tag = run->job.tag;
    start();
    if (wanted)
        emit finished(tag, picture, display, seconds);
}
