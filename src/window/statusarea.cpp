#include "window/statusarea.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <cmath>

#include "fileio/textio.h"
#include "jobs/picturejobs.h"
#include "window/prompter.h"

StatusArea::StatusArea(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    const auto label = [&](const QString& tip) {
        auto* l = new QLabel;
        l->setToolTip(tip);
        row->addWidget(l);
        return l;
    };
    m_camera = label(tr("Camera position X, Y, Z"));
    m_size = label(tr("Picture size in pixels"));
    m_time = label(tr("Time the last picture took"));
    m_blurred = label(tr("The picture on screen is blurred"));
    m_blurred->setText(tr("blurred"));
    m_blurred->hide();
    m_stopped = label(tr("Rendering was stopped: the picture on screen is not this camera's finished one; any key "
                         "renders it"));
    m_stopped->setText(tr("stopped"));
    m_stopped->hide();
    m_progress = new QProgressBar;
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    row->addWidget(m_progress);
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &StatusArea::updateProgress);
}

void StatusArea::watch(const PictureJobs* jobs)
{
    m_jobs = jobs;
    connect(jobs, &PictureJobs::busyChanged, this, [this](bool busy) {
        if (busy)
            m_progressTimer->start();
        else
            updateProgress();
    });
}

void StatusArea::updateProgress()
{
    const bool busy = m_jobs->busy();
    if (busy && m_jobs->runningMs() > Prompter::kProgressAfterMs) {
        m_progress->setValue(int(m_jobs->progress() * 100));
        if (m_progress->isHidden()) {
            m_progress->show();
            window()->setCursor(Qt::BusyCursor);
        }
        return;
    }
    if (!busy) {
        m_progressTimer->stop();
        if (!m_progress->isHidden()) {
            m_progress->hide();
            window()->unsetCursor();
        }
    }
}

void StatusArea::setCamera(const Vector3D& position)
{
    // Rounded as a scene file holds it: the float noise of steps of 0.1 is no news.
    m_camera->setText(tr("Camera %1, %2, %3")
                          .arg(roundedText(position.X), roundedText(position.Y), roundedText(position.Z)));
}

void StatusArea::setPictureSize(int width, int height)
{
    m_size->setText(tr("%1 × %2").arg(width).arg(height));
}

void StatusArea::setRenderTime(double seconds)
{
    m_time->setText(tr("%1 ms").arg(std::llround(seconds * 1000)));
}

void StatusArea::setBlurred(bool blurred)
{
    m_blurred->setVisible(blurred);
}

void StatusArea::setStopped(bool stopped)
{
    m_stopped->setVisible(stopped);
}

QString StatusArea::text() const
{
    QStringList parts;
    for (const QLabel* l : {m_camera, m_size, m_time, m_blurred, m_stopped})
        if (!l->isHidden() && !l->text().isEmpty())
            parts << l->text();
    return parts.join(" | ");
}
