#include "window/picturescreen.h"

#include <QClipboard>
#include <QGuiApplication>
#include <utility>

#include "jobs/picturejobs.h"
#include "window/animationcontrols.h"
#include "window/pictureview.h"
#include "window/prompter.h"
#include "window/statusarea.h"

PictureScreen::PictureScreen(PictureJobs* jobs, PictureView* view, StatusArea* status, AnimationControls* animation,
                             const Prompter& prompter, std::function<bool()> dragging, QObject* parent)
    : QObject(parent), m_jobs(jobs), m_view(view), m_status(status), m_animation(animation), m_prompter(prompter),
      m_dragging(std::move(dragging))
{
    connect(m_jobs, &PictureJobs::shown, this, &PictureScreen::onShown);
    connect(m_jobs, &PictureJobs::standIn, this, &PictureScreen::onStandIn);
    connect(m_jobs, &PictureJobs::failed, this, &PictureScreen::onFailed);
}

bool PictureScreen::roomForPicture(int wid, int hey)
{
    // Memory that is allocated but not touched costs no time, however large.
    const QImage picture(wid, hey, QImage::Format_ARGB32);
    const QImage display(wid, hey, QImage::Format_RGB32);
    return !picture.isNull() && !display.isNull();
}

void PictureScreen::showFirst(double seconds)
{
    m_status->setRenderTime(seconds);
    m_animation->setPictureSeconds(seconds);
    m_view->setPicture(m_jobs->display());
    m_prompter.flash(tr("Rayed"));
}

void PictureScreen::showKept()
{
    // The window's own picture, of the camera it had all along.
    if (!m_jobs->display().isNull())
        m_view->setPicture(m_jobs->display());
}

void PictureScreen::makeRoom(QSize size)
{
    if (m_view->size() == size)
        return;
    m_view->clear(size);
    emit resized();
}

void PictureScreen::onShown(const QImage& display, bool blurred, const QString& message, bool persistent,
                            double seconds)
{
    // A preview keeps the picture area until it stops.
    if (!m_animation->isPreviewing())
        m_view->setPicture(display);
    if (!blurred) {
        m_status->setRenderTime(seconds);
        m_animation->setPictureSeconds(seconds);
    }
    m_status->setBlurred(blurred);
    m_status->setStopped(false);
    emit pictureShown();
    if (!message.isEmpty()) {
        if (persistent)
            m_prompter.say(message);
        else
            m_prompter.flash(message);
    }
    // A copy asked for while this picture was on its way takes it, once no blur follows.
    if (m_copyPending && !m_jobs->inFlight()) {
        m_copyPending = false;
        copy();
    }
}

void PictureScreen::onStandIn(const QImage& display, bool coarse)
{
    // A preview that comes after the drag has ended is out of date.
    if ((!coarse && !m_dragging()) || m_animation->isPreviewing())
        return;
    m_view->setStandIn(display);
    m_status->setBlurred(false);
}

void PictureScreen::onFailed()
{
    m_copyPending = false;
    m_prompter.say(tr("Error"));
    // The last picture stays on screen.
    if (!m_animation->isPreviewing() && !m_jobs->display().isNull() && m_view->shown().cacheKey() != m_jobs->display().cacheKey()) {
        m_view->setPicture(m_jobs->display());
        emit resized();
    }
}

void PictureScreen::pictureAsked()
{
    m_status->setStopped(false);
}

void PictureScreen::stop()
{
    if (!m_jobs->busy())
        return;
    m_jobs->stop();
    m_copyPending = false;
    // What stays on screen (a coarse first picture, a drag's preview, an older camera's picture)
    // is not this camera's finished picture: the status area says so until the next one.
    m_status->setStopped(!m_jobs->upToDate() || m_view->showsStandIn());
    m_prompter.flash(tr("Rendering stopped"));
}

void PictureScreen::copy()
{
    // Only the finished picture of the camera in the status area is copied: one on its way is
    // copied when it comes, and a stand-in left by Stop Rendering is not copied at all.
    if (m_jobs->inFlight()) {
        m_copyPending = true;
        m_prompter.say(tr("The picture is copied when it is finished"));
        return;
    }
    if (!m_jobs->upToDate() || m_view->showsStandIn()) {
        m_prompter.flash(tr("Nothing copied: the picture on screen is not finished; any key renders it"));
        return;
    }
    QGuiApplication::clipboard()->setImage(m_jobs->picture());
    m_prompter.flash(tr("Picture copied"));
}
