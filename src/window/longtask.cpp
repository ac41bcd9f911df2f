#include "window/longtask.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <mutex>

namespace {

constexpr int kPollMs = 200;

// The work's own threads. Never destroyed, so that the process can end while work that was
// given up finishes its last step.
QThreadPool& taskPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(4);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

} // namespace

struct LongTask::Run {
    Plan plan;
    std::atomic<bool> stop{false};
    QElapsedTimer started;
};

struct LongTask::Mailbox {
    std::mutex mutex;
    LongTask* owner = nullptr;

    void post(const std::shared_ptr<Run>& run)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (owner)
            QMetaObject::invokeMethod(owner, [o = owner, run] { o->onDone(run); }, Qt::QueuedConnection);
    }
};

LongTask::LongTask(QWidget* window)
    : QObject(window), m_window(window), m_mailbox(std::make_shared<Mailbox>()), m_poll(new QTimer(this))
{
    m_mailbox->owner = this;
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &LongTask::showProgress);
}

LongTask::~LongTask()
{
    if (m_run)
        m_run->stop = true;
    std::lock_guard<std::mutex> lock(m_mailbox->mutex);
    m_mailbox->owner = nullptr;
}

bool LongTask::waitForWorkers(int ms)
{
    return taskPool().waitForDone(ms);
}

bool LongTask::start(Plan plan)
{
    if (m_running)
        return false;
    auto run = std::make_shared<Run>();
    run->plan = std::move(plan);
    run->started.start();
    m_run = run;
    m_running = true;
    if (!m_box) {
        m_box = new QDialog(m_window);
        // Keys stay with the window, which goes on working meanwhile.
        m_box->setAttribute(Qt::WA_ShowWithoutActivating);
        m_text = new QLabel;
        m_text->setMinimumWidth(360);
        // A long path's line wraps rather than being cut.
        m_text->setWordWrap(true);
        m_text->setMinimumHeight(2 * m_text->fontMetrics().lineSpacing());
        m_bar = new QProgressBar;
        m_bar->setRange(0, 1000);
        m_bar->setTextVisible(false);
        m_stop = new QPushButton;
        auto* column = new QVBoxLayout(m_box);
        column->setSizeConstraint(QLayout::SetMinimumSize);
        column->addWidget(m_text);
        column->addWidget(m_bar);
        column->addWidget(m_stop, 0, Qt::AlignRight);
        connect(m_stop, &QPushButton::clicked, this, &LongTask::stop);
        // Closing the box, or Escape in it, stops the work as its button does.
        connect(m_box, &QDialog::rejected, this, &LongTask::stop);
    }
    m_box->setWindowTitle(run->plan.title);
    m_stop->setText(run->plan.stopText);
    m_stop->setEnabled(true);
    m_poll->start();
    taskPool().start([run, mailbox = m_mailbox] {
        run->plan.work(run->stop);
        mailbox->post(run);
    });
    emit runningChanged(true);
    if (run->plan.showAfterMs <= 0)
        showProgress();
    return true;
}

void LongTask::stop()
{
    if (!m_running)
        return;
    m_run->stop = true;
    m_stop->setEnabled(false);
}

void LongTask::showProgress()
{
    if (!m_running)
        return;
    const Progress p = m_run->plan.progress ? m_run->plan.progress() : Progress();
    m_text->setText(p.text);
    m_text->setToolTip(p.text);
    if (p.done < 0) {
        m_bar->setRange(0, 0);
    } else {
        m_bar->setRange(0, 1000);
        m_bar->setValue(int(std::min(1.0, p.done) * 1000));
    }
    if (m_box->isHidden() && m_run->started.elapsed() >= m_run->plan.showAfterMs)
        m_box->show();
}

void LongTask::onDone(const std::shared_ptr<Run>& run)
{
    if (run != m_run)
        return;
    m_running = false;
    m_poll->stop();
    // The box is shown without taking the keys, but a platform or a click may have given them to
    // it: once it goes they return to the window, not to nowhere.
    const bool hadKeys = m_box->isActiveWindow();
    m_box->hide();
    if (hadKeys)
        m_window->activateWindow();
    // The finish may start the next work.
    const std::function<void()> finish = run->plan.finish;
    m_run.reset();
    emit runningChanged(false);
    if (finish)
        finish();
}
