#include "render/background.h"

#include <QThread>
#include <QThreadPool>
#include <chrono>
#include <thread>

#include "picture/blur.h"
#include "render/tracer.h"

BackgroundRenderer::BackgroundRenderer(QObject* parent) : QObject(parent) {}

BackgroundRenderer::~BackgroundRenderer()
{
    stopAll();
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

double BackgroundRenderer::progress() const
{
    if (!m_running || !m_current)
        return 0;
    const int wid = std::max(1, m_current->job.scene.Wid);
    return std::min(1.0, m_current->columnsDone.load() / double(wid));
}

void BackgroundRenderer::stopAll()
{
    m_next.reset();
    m_waiting = false;
    if (!m_current)
        return;
    m_current->cancel = true;
    // The job stops within one strip of columns; its result is dropped.
    while (!m_current->done.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
    m_clock.start();
    QThreadPool::globalInstance()->start([this, run] {
        QElapsedTimer t;
        t.start();
        QImage picture = run->job.source;
        bool complete = true;
        if (picture.isNull()) {
            const Scene& s = run->job.scene;
            picture = QImage(s.Wid, s.Hey, QImage::Format_ARGB32);
            RenderOptions o;
            o.cancel = &run->cancel;
            o.columnsDone = &run->columnsDone;
            // A picture that cannot be allocated arrives as a null image.
            complete = picture.isNull() || renderInto(s, picture, o);
        }
        if (complete && run->job.blur && !run->cancel && !picture.isNull())
            picture = blurImage(picture);
        QImage display;
        if (complete && !run->cancel && !picture.isNull())
            display = picture.convertToFormat(QImage::Format_RGB32);
        const double seconds = t.nsecsElapsed() / 1e9;
        // Handed to this object's thread; a cancelled run's result is dropped there.
        QMetaObject::invokeMethod(
            this, [this, run, picture, display, complete, seconds] { onDone(run, picture, display, complete, seconds); },
            Qt::QueuedConnection);
        run->done = true;
    });
}

void BackgroundRenderer::onDone(const std::shared_ptr<Run>& run, const QImage& picture, const QImage& display,
                                bool complete, double seconds)
{
    if (run != m_current)
        return; // stopped by stopAll
    m_current.reset();
    m_running = false;
    const bool wanted = complete && !run->cancel;
    const quint64 tag = run->job.tag;
    start();
    if (wanted)
        emit finished(tag, picture, display, seconds);
}
