#include "window/animationcontrols.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QSlider>
#include <QUndoStack>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "window/keyframepanel.h"
#include "window/longtask.h"
#include "jobs/previewplayer.h"
#include "window/prompter.h"
#include "jobs/scenechange.h"
#include "picture/animation.h"
#include "picture/picturefile.h"
#include "picture/videowriter.h"

namespace {

const char* const kKeyFrameFilter = "Key frame files (*.txt);;All files (*)";
// Positions of the preview's slider at most; a longer path moves in steps of several frames.
constexpr int kSliderSteps = 100000;
constexpr qint64 kLastFrame = std::numeric_limits<qint64>::max();

// A slider whose handle jumps to where it is pressed, and follows the mouse from there: a
// scrubber, not a page-stepper.
class ScrubStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

AnimationControls::AnimationControls(QWidget* window, const Scene& scene, QUndoStack* undoStack,
                                     const Prompter& prompter)
    : QObject(window), m_window(window), m_scene(scene), m_undoStack(undoStack), m_prompter(prompter)
{
    m_panel = new KeyFramePanel;
    // Queued: the table is still busy with its editor when an edit comes, and taking the edit
    // renews the whole table.
    connect(
        m_panel->model(), &KeyFrameModel::edited, this,
        [this](const CameraPath& path, qint64 frame) { changeKeyFrames(path, tr("Edit Key Frame"), frame); },
        Qt::QueuedConnection);
    connect(m_panel->model(), &KeyFrameModel::refused, this, [this](const QString& why) { m_prompter.flash(why); });
    connect(m_panel, &KeyFramePanel::goTo, this, &AnimationControls::goToKeyFrame);
    connect(m_panel, &KeyFramePanel::remove, this, &AnimationControls::deleteKeyFrames);
    connect(m_panel, &KeyFramePanel::cameraKey, this, [this](QKeyEvent* key) { QCoreApplication::sendEvent(m_window, key); });

    m_player = new PreviewPlayer(this);
    connect(m_player, &PreviewPlayer::frameShown, this, &AnimationControls::showPreviewFrame);
    m_previewBar = new QWidget;
    m_previewLabel = new QLabel;
    // Room for most frame numbers and sizes, so that the slider keeps its length.
    m_previewLabel->setMinimumWidth(m_previewLabel->fontMetrics().horizontalAdvance(tr("Frame 000000, 0000 x 0000")));
    m_previewSlider = new QSlider(Qt::Horizontal);
    // Keys stop the preview; the slider is for the mouse.
    m_previewSlider->setFocusPolicy(Qt::NoFocus);
    auto* scrub = new ScrubStyle;
    scrub->setParent(m_previewSlider);
    m_previewSlider->setStyle(scrub);
    auto* bar = new QHBoxLayout(m_previewBar);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(m_previewSlider, 1);
    bar->addWidget(m_previewLabel);
    m_previewBar->hide();
    connect(m_previewSlider, &QSlider::sliderPressed, this,
            [this] { m_player->seek(sliderFrame(m_previewSlider->sliderPosition()), true); });
    connect(m_previewSlider, &QSlider::sliderMoved, this, [this](int value) { m_player->seek(sliderFrame(value), true); });
    connect(m_previewSlider, &QSlider::sliderReleased, this,
            [this] { m_player->seek(sliderFrame(m_previewSlider->sliderPosition())); });
    connect(m_previewSlider, &QSlider::valueChanged, this, [this](int value) {
        // A click beside the handle or the wheel: plays on from there.
        if (!m_movingSlider && !m_previewSlider->isSliderDown())
            m_player->seek(sliderFrame(value));
    });

    m_task = new LongTask(window);
    connect(m_task, &LongTask::runningChanged, this, &AnimationControls::updateActions);
    createActions();
    updateActions();
}

void AnimationControls::createActions()
{
    Actions& a = m_actions;
    a.addKey = new QAction(tr("&Add Key Frame"), this);
    a.addKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    a.addKey->setStatusTip(tr("Add the camera as a key frame, %1 frames after the last").arg(kKeyFrameGap));
    connect(a.addKey, &QAction::triggered, this, &AnimationControls::addKeyFrame);
    a.open = new QAction(tr("&Open Key Frames..."), this);
    a.open->setStatusTip(tr("Read the key frames from a file of FRAME X Y Z lines"));
    connect(a.open, &QAction::triggered, this, &AnimationControls::openKeyFrames);
    a.save = new QAction(tr("&Save Key Frames..."), this);
    a.save->setStatusTip(tr("Write the key frames as a file of FRAME X Y Z lines, as lumivex-render --path reads"));
    connect(a.save, &QAction::triggered, this, [this] { saveKeyFrames(); });
    a.smooth = new QAction(tr("S&mooth Path"), this);
    a.smooth->setCheckable(true);
    a.smooth->setStatusTip(tr("Move along a smooth curve through the key frames rather than straight lines"));
    a.play = new QAction(tr("&Play Preview"), this);
    a.play->setStatusTip(tr("Play the key frames in the window, reduced; any key or click stops"));
    connect(a.play, &QAction::triggered, this, &AnimationControls::playPreview);
    a.render = new QAction(tr("&Render Animation..."), this);
    a.render->setStatusTip(tr("Render the frames of the key frames' path into picture files or a video"));
    connect(a.render, &QAction::triggered, this, &AnimationControls::renderAnimation);
    m_panel->addButton(a.addKey);
    m_panel->addButton(a.smooth);
}

void AnimationControls::updateActions()
{
    const bool keys = !m_keyFrames.keys.empty();
    m_actions.save->setEnabled(keys);
    m_actions.play->setEnabled(keys);
    m_actions.render->setEnabled(keys && !m_task->isRunning());
}

QWidget* AnimationControls::panel() const
{
    return m_panel;
}

bool AnimationControls::isPreviewing() const
{
    return m_player->isPlaying();
}

bool AnimationControls::isRendering() const
{
    return m_task->isRunning();
}

void AnimationControls::stopAnimation()
{
    m_task->stop();
}

bool AnimationControls::hasUnsavedKeyFrames() const
{
    const auto& a = m_keyFrames.keys;
    const auto& b = m_savedKeyFrames.keys;
    return !std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const KeyFrame& x, const KeyFrame& y) {
        return x.frame == y.frame && std::memcmp(&x.camera, &y.camera, sizeof(Vector3D)) == 0;
    });
}

bool AnimationControls::mayClose()
{
    if (!hasUnsavedKeyFrames())
        return true;
    const QString what = m_keyFramesStored ? tr("The key frames have changed since they were saved.")
                                           : tr("The key frames have not been saved.");
    QMessageBox box(QMessageBox::Warning, tr("Key Frames"), what,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_window);
    box.setInformativeText(tr("Save them before closing?"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return saveKeyFrames();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void AnimationControls::setKeyFrames(const CameraPath& path, qint64 selectFrame)
{
    // The preview plays the path it started with.
    stopPreview();
    m_keyFrames = path;
    m_panel->showPath(path, selectFrame);
    updateActions();
}

void AnimationControls::changeKeyFrames(const CameraPath& path, const QString& undoText, qint64 selectFrame)
{
    const CameraPath before = m_keyFrames;
    setKeyFrames(path, selectFrame);
    m_undoStack->push(new KeyFramesChange([this](const CameraPath& p) { setKeyFrames(p); }, before, path, undoText));
}

void AnimationControls::addKeyFrame()
{
    CameraPath path = m_keyFrames;
    qint64 frame = 0;
    if (!path.keys.empty()) {
        if (path.lastFrame() > kLastFrame - kKeyFrameGap) {
            m_prompter.say(tr("No key frame can follow frame %1").arg(path.lastFrame()));
            return;
        }
        frame = path.lastFrame() + kKeyFrameGap;
    }
    path.keys.push_back({frame, m_scene.CamPos});
    changeKeyFrames(path, tr("Add Key Frame"), frame);
    // The first key shows where the keys are.
    if (path.keys.size() == 1)
        emit panelWanted();
    m_prompter.flash(tr("Key frame %1 added").arg(frame));
}

void AnimationControls::goToKeyFrame(int row)
{
    if (row >= 0 && row < int(m_keyFrames.keys.size()))
        emit goTo(m_keyFrames.keys[size_t(row)].camera);
}

void AnimationControls::deleteKeyFrames(const QList<int>& rows)
{
    CameraPath path = m_keyFrames;
    // From the back, so that the rows before stay where they are.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it)
        if (*it >= 0 && *it < int(path.keys.size()))
            path.keys.erase(path.keys.begin() + *it);
    if (path.keys.size() != m_keyFrames.keys.size())
        changeKeyFrames(path, rows.size() == 1 ? tr("Delete Key Frame") : tr("Delete Key Frames"));
}

void AnimationControls::openKeyFrames()
{
    const QString name = m_prompter.askFileName(false, tr(kKeyFrameFilter));
    if (name.isEmpty())
        return;
    CameraPath path;
    QString why;
    if (!readCameraPath(name, path, &why)) {
        m_prompter.fail(why);
        return;
    }
    changeKeyFrames(path, tr("Open Key Frames"));
    m_savedKeyFrames = path;
    m_keyFramesStored = true;
    emit panelWanted();
    m_prompter.flash(tr("Key frames opened"));
}

bool AnimationControls::saveKeyFrames()
{
    if (m_keyFrames.keys.empty())
        return false;
    const QString name = m_prompter.askFileName(true, tr(kKeyFrameFilter));
    if (name.isEmpty())
        return false;
    QString why;
    if (!writeCameraPath(name, m_keyFrames, &why)) {
        m_prompter.fail(why);
        return false;
    }
    m_savedKeyFrames = m_keyFrames;
    m_keyFramesStored = true;
    m_prompter.flash(tr("Key frames saved"));
    return true;
}

qint64 AnimationControls::sliderFrame(int value) const
{
    const qint64 first = m_player->firstFrame(), span = m_player->lastFrame() - first;
    if (span <= kSliderSteps)
        return first + value;
    return std::min(m_player->lastFrame(), first + qint64(std::floor(double(span) * value / kSliderSteps)));
}

int AnimationControls::sliderValue(qint64 frame) const
{
    const qint64 first = m_player->firstFrame(), span = m_player->lastFrame() - first;
    if (span <= kSliderSteps)
        return int(frame - first);
    return int(std::lround(double(frame - first) / double(span) * kSliderSteps));
}

void AnimationControls::playPreview()
{
    if (isPreviewing()) {
        stopPreview();
        return;
    }
    if (m_keyFrames.keys.empty())
        return;
    m_player->play(m_scene, m_keyFrames, m_actions.smooth->isChecked(), m_pictureSeconds);
    {
        const QSignalBlocker quiet(m_previewSlider);
        const qint64 span = m_keyFrames.lastFrame() - m_keyFrames.firstFrame();
        m_previewSlider->setRange(0, int(std::min<qint64>(span, kSliderSteps)));
        m_previewSlider->setPageStep(std::max(1, m_previewSlider->maximum() / 10));
        m_previewSlider->setValue(0);
    }
    m_previewLabel->clear();
    m_previewBar->show();
    emit previewStarted();
    // Any key or click, anywhere in the program, stops the preview.
    qApp->installEventFilter(this);
    m_prompter.say(tr("Playing the key frames: any key or click stops"));
}

void AnimationControls::stopPreview()
{
    if (!isPreviewing())
        return;
    m_player->stop();
    qApp->removeEventFilter(this);
    m_previewBar->hide();
    emit previewStopped();
    m_prompter.flash(tr("Preview stopped"));
}

void AnimationControls::showPreviewFrame(qint64 frame, const QImage& display)
{
    emit standIn(display);
    {
        const QSignalBlocker quiet(m_previewSlider);
        m_movingSlider = true;
        if (!m_previewSlider->isSliderDown())
            m_previewSlider->setValue(sliderValue(frame));
        m_movingSlider = false;
    }
    m_previewLabel->setText(tr("Frame %1, %2 x %3").arg(frame).arg(display.width()).arg(display.height()));
}

bool AnimationControls::eventFilter(QObject* watched, QEvent* event)
{
    // Widgets only: a top-level window hands its input on to one.
    auto* widget = qobject_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::Shortcut:
        // A shortcut stops the preview and goes on to do what it does.
        stopPreview();
        return false;
    case QEvent::KeyPress:
        if (!isPreviewing() || !widget)
            return false;
        stopPreview();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        if (!isPreviewing() || !widget)
            return false;
        // The slider scrubs.
        if (widget == m_previewBar || m_previewBar->isAncestorOf(widget))
            return false;
        stopPreview();
        m_swallowMouse = event->type() != QEvent::Wheel;
        if (m_swallowMouse)
            qApp->installEventFilter(this);
        return true;
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        if (!m_swallowMouse || !widget)
            return false;
        // The rest of the click that stopped the preview is no drag.
        if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton) {
            m_swallowMouse = false;
            qApp->removeEventFilter(this);
        }
        return true;
    default:
        return false;
    }
}

void AnimationControls::renderAnimation()
{
    if (m_task->isRunning() || m_keyFrames.keys.empty())
        return;
    AnimationSettings settings = m_animation;
    // The whole path at the scene's size, unless the last animation asked otherwise.
    if (!m_animationAsked) {
        settings.pattern = QDir::home().filePath(QStringLiteral("frame-%04d.png"));
        settings.width = m_scene.Wid;
        settings.height = m_scene.Hey;
    }
    if (!m_animationAsked || m_animationWhole || settings.first < m_keyFrames.firstFrame() ||
        settings.last > m_keyFrames.lastFrame() || settings.first > settings.last) {
        settings.first = m_keyFrames.firstFrame();
        settings.last = m_keyFrames.lastFrame();
    }
    settings.smooth = m_actions.smooth->isChecked();
    if (m_asker) {
        if (!m_asker(settings))
            return;
    } else {
        AnimationDialog dialog(settings, m_keyFrames, !VideoWriter::ffmpegProgram().isEmpty(), m_window);
        if (dialog.exec() != QDialog::Accepted)
            return;
        settings = dialog.settings();
    }
    const QString problem = animationProblem(settings, m_keyFrames);
    if (!problem.isEmpty()) {
        m_prompter.fail(problem);
        return;
    }
    m_animation = settings;
    m_animationAsked = true;
    m_animationWhole = settings.first == m_keyFrames.firstFrame() && settings.last == m_keyFrames.lastFrame();

    AnimationJob job = animationJob(m_scene, m_keyFrames, settings);
    struct State {
        AnimationProgress progress;
        AnimationResult result;
        QElapsedTimer clock;
    };
    const auto state = std::make_shared<State>();
    // As a double: the frames of the longest path do not fit a 64-bit count.
    const double frames = double(settings.last - settings.first) + 1;
    LongTask::Plan plan;
    plan.title = tr("Render Animation");
    plan.stopText = tr("&Stop");
    state->clock.start();
    plan.work = [state, job](const std::atomic<bool>& stop) mutable {
        job.render.cancel = &stop;
        state->result = ::renderAnimation(job, &state->progress);
    };
    plan.progress = [state, frames]() -> LongTask::Progress {
        const double done = state->progress.frames();
        const double seconds = state->clock.elapsed() / 1000.0;
        const double rate = seconds > 0 ? done / seconds : 0;
        // The frame under way, counted from 1.
        const double current = std::min(frames, double(state->progress.framesDone) + 1);
        QString text = tr("Frame %1 of %2").arg(current, 0, 'f', 0).arg(frames, 0, 'f', 0);
        if (state->progress.encoding)
            text += tr(", encoding the video");
        else if (rate > 0)
            text += tr(", %1 frames a second, %2 s left").arg(rate, 0, 'f', 2).arg((frames - done) / rate, 0, 'f', 0);
        return {text, done / frames};
    };
    plan.finish = [this, state] {
        const AnimationResult& r = state->result;
        switch (r.end) {
        case AnimationResult::Done:
            m_prompter.say(tr("Animation rendered: %1 frames").arg(r.written));
            break;
        case AnimationResult::Stopped:
            m_prompter.say(tr("Animation stopped: %1 frames written, every one whole").arg(r.written));
            break;
        case AnimationResult::Failed:
            m_prompter.fail(r.why);
            break;
        }
    };
    m_task->start(std::move(plan));
}
