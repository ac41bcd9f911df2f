#include "app/mainwindow.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <utility>

#include "app/help.h"
#include "app/keyframepanel.h"
#include "app/longtask.h"
#include "app/picturejobs.h"
#include "app/pictureview.h"
#include "app/previewplayer.h"
#include "app/scenechange.h"
#include "app/scenepanel.h"
#include "app/statusarea.h"
#include "fileio/fileaccess.h"
#include "fileio/textio.h"
#include "picture/animation.h"
#include "picture/picturefile.h"
#include "picture/supersample.h"
#include "picture/videowriter.h"
#include "render/tracer.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

namespace {

constexpr int kPassingMessageMs = 2000;
// One key or wheel step along an axis.
constexpr double kStep = 0.1;
constexpr double kMouseDivisor = 3.0;
// Work that takes longer than this shows a progress bar and a busy cursor.
constexpr int kProgressAfterMs = 300;
constexpr int kRecentFiles = 8;
const char* const kSceneFilter = "Scene files (*.xml *.bin *.txt);;XML scene files (*.xml);;Line-format scene files (*.bin *.txt);;All files (*)";
const char* const kPictureFilter = "PNG picture (*.png);;JPEG picture (*.jpg *.jpeg);;BMP picture (*.bmp);;PPM picture (*.ppm)";
const char* const kKeyFrameFilter = "Key frame files (*.txt);;All files (*)";
// Load and Save of one format offer that format's files first; a name saved without a suffix
// takes the first suffix listed: ".bin" for the line format, as the menus name it, so that a
// scene is not taken for a key frame file.
const char* const kXmlFilter = "XML scene files (*.xml);;All files (*)";
const char* const kBinFilter = "Line-format scene files (*.bin *.txt);;All files (*)";
// Closing the window waits this long at most for an export or animation to give up: a video
// left unfinished is removed, and nothing is written after the window has gone.
constexpr int kCloseWaitMs = 5000;
// Positions of the preview's slider at most; a longer path moves in steps of several frames.
constexpr int kSliderSteps = 100000;
constexpr qint64 kLastFrame = std::numeric_limits<qint64>::max();

// The window's settings (the recent files), from their own file only. One that is not a regular
// file (a pipe would hang the window) or is far too large is left alone, said once on stderr.
std::unique_ptr<QSettings> openSettings()
{
    const QString org = QCoreApplication::organizationName();
    // Where QSettings keeps them by default.
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
                         (org.isEmpty() ? QStringLiteral("Unknown Organization") : org) + '/' +
                         QCoreApplication::applicationName() + QStringLiteral(".conf");
    QByteArray bytes;
    QString why;
    const FileRead read = readWholeFile(path, 1 << 20, "a settings file", bytes, &why);
    if (read == FileRead::NotRegular || read == FileRead::TooLarge) {
        static bool said = false;
        if (!std::exchange(said, true))
            std::fprintf(stderr, "lumivex: %s; settings are not read or kept\n", qPrintable(why));
        return nullptr;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

// Adds `delta` in double and stores the sum rounded to float, as every camera move does.
void moveAxis(float& component, double delta)
{
    component = static_cast<float>(static_cast<double>(component) + delta);
}

// A key pressed with Ctrl, Alt or Meta belongs to the shortcuts, and a modifier or lock key
// pressed alone is no key of its own: neither moves the camera or renders.
bool shortcutKeyOnly(const QKeyEvent* pe)
{
    if (pe->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return true;
    switch (pe->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

// The first suffix a file dialog filter names, "png" for "PNG picture (*.png)".
QString filterSuffix(const QString& filter)
{
    return QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter).captured(1);
}

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

// True when there is memory for a picture of this size and its screen copy. Memory that is
// allocated but not touched costs no time, however large.
bool roomForPicture(int wid, int hey)
{
    const QImage picture(wid, hey, QImage::Format_ARGB32);
    const QImage display(wid, hey, QImage::Format_RGB32);
    return !picture.isNull() && !display.isNull();
}

} // namespace

MainWindow::MainWindow()
{
    build();
    // The first picture is there before the window shows.
    const qint64 start = m_clock();
    jobs->adopt(::render(m_scene));
    m_lastRenderSeconds = (m_clock() - start) / 1000.0;
    statusArea->setRenderTime(m_lastRenderSeconds);
    view->setPicture(jobs->display());
    statusBar()->showMessage(tr("Rayed"), kPassingMessageMs);
    finishBuilding();
}

MainWindow::MainWindow(const QString& fileName, QString* why)
{
    build();
    finishBuilding();
    if (!openFile(fileName, why))
        refresh(QString());
}

void MainWindow::build()
{
    m_started.start();
    m_clock = [this] { return m_started.elapsed(); };
    m_scene = Scene::builtIn();
    window = new QWidget;
    view = new PictureView;
    view->clear(QSize(m_scene.Wid, m_scene.Hey));
    mainLayout = new QVBoxLayout;
    // The window cannot shrink below the picture (or the screen, where the picture is larger).
    mainLayout->setSizeConstraint(QLayout::SetMinimumSize);
    scrollArea = new QScrollArea;
    scrollArea->setFrameShape(QFrame::NoFrame);
    // Keys go to the camera, not to scrolling.
    scrollArea->setFocusPolicy(Qt::NoFocus);
    scrollArea->setWidget(view);
    mainLayout->addWidget(scrollArea);
    window->setLayout(mainLayout);
    // A click on the picture takes the keys back from a panel field.
    window->setFocusPolicy(Qt::ClickFocus);
    setCentralWidget(window);

    jobs = new PictureJobs(this);
    connect(jobs, &PictureJobs::shown, this, &MainWindow::onPictureShown);
    connect(jobs, &PictureJobs::standIn, this, &MainWindow::onStandIn);
    connect(jobs, &PictureJobs::failed, this, &MainWindow::onPictureFailed);
    statusArea = new StatusArea;
    statusBar()->addPermanentWidget(statusArea);
    progressBar = new QProgressBar;
    progressBar->setRange(0, 100);
    progressBar->setMaximumWidth(200);
    progressBar->hide();
    statusBar()->addPermanentWidget(progressBar);
    progressTimer = new QTimer(this);
    progressTimer->setInterval(100);
    connect(progressTimer, &QTimer::timeout, this, &MainWindow::updateProgress);
    connect(jobs, &PictureJobs::busyChanged, this, [this](bool busy) {
        updateActions();
        if (busy)
            progressTimer->start();
        else
            updateProgress();
    });

    undoStack = new QUndoStack(this);
    panel = new ScenePanel;
    connect(panel, &ScenePanel::edited, this, [this](const Scene& edited) {
        const Scene before = m_scene;
        applyScene(edited);
        recordChange(before, tr("Edit Scene"), false);
    });
    connect(panel, &ScenePanel::refused, this,
            [this](const QString& why) { statusBar()->showMessage(why, kPassingMessageMs); });
    panelDock = addPanel(panel, tr("Scene"), "scenePanel", tr("Scene &Panel"), QKeySequence(Qt::CTRL | Qt::Key_P),
                         tr("Show or hide the scene's values"));

    keyPanel = new KeyFramePanel;
    // Queued: the table is still busy with its editor when an edit comes, and taking the edit
    // renews the whole table.
    connect(
        keyPanel->model(), &KeyFrameModel::edited, this,
        [this](const CameraPath& path, qint64 frame) { changeKeyFrames(path, tr("Edit Key Frame"), frame); },
        Qt::QueuedConnection);
    connect(keyPanel->model(), &KeyFrameModel::refused, this,
            [this](const QString& why) { statusBar()->showMessage(why, kPassingMessageMs); });
    connect(keyPanel, &KeyFramePanel::goTo, this, &MainWindow::goToKeyFrame);
    connect(keyPanel, &KeyFramePanel::remove, this, &MainWindow::deleteKeyFrames);
    keyDock = addPanel(keyPanel, tr("Key Frames"), "keyFramePanel", tr("&Key Frames"), QKeySequence(),
                       tr("Show or hide the key frames of the camera path"));

    player = new PreviewPlayer(this);
    connect(player, &PreviewPlayer::frameShown, this, &MainWindow::showPreviewFrame);
    previewBar = new QWidget;
    previewLabel = new QLabel;
    // Room for most frame numbers and sizes, so that the slider keeps its length.
    previewLabel->setMinimumWidth(previewLabel->fontMetrics().horizontalAdvance(tr("Frame 000000, 0000 x 0000")));
    previewSlider = new QSlider(Qt::Horizontal);
    // Keys stop the preview; the slider is for the mouse.
    previewSlider->setFocusPolicy(Qt::NoFocus);
    auto* scrub = new ScrubStyle;
    scrub->setParent(previewSlider);
    previewSlider->setStyle(scrub);
    auto* bar = new QHBoxLayout(previewBar);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(previewSlider, 1);
    bar->addWidget(previewLabel);
    previewBar->hide();
    mainLayout->addWidget(previewBar);
    connect(previewSlider, &QSlider::sliderPressed, this,
            [this] { player->seek(sliderFrame(previewSlider->sliderPosition()), true); });
    connect(previewSlider, &QSlider::sliderMoved, this, [this](int value) { player->seek(sliderFrame(value), true); });
    connect(previewSlider, &QSlider::sliderReleased, this,
            [this] { player->seek(sliderFrame(previewSlider->sliderPosition())); });
    connect(previewSlider, &QSlider::valueChanged, this, [this](int value) {
        // A click beside the handle or the wheel: plays on from there.
        if (!m_movingSlider && !previewSlider->isSliderDown())
            player->seek(sliderFrame(value));
    });

    exportTask = new LongTask(this);
    animationTask = new LongTask(this);
    connect(exportTask, &LongTask::runningChanged, this, &MainWindow::updateActions);
    connect(animationTask, &LongTask::runningChanged, this, &MainWindow::updateActions);
    setAcceptDrops(true);
}

void MainWindow::finishBuilding()
{
    createActions();
    createMenus();
    createStatusBar();
    setUnifiedTitleAndToolBarOnMac(true);
    setWindowTitle("Lumivex");
    copyAct->setEnabled(!picture().isNull());
    updateActions();
    showSceneValues();
    // With the menus in place, so that their height is known.
    fitPicture();
}

MainWindow::~MainWindow()
{
    stopPreview();
    endLongWork();
}

void MainWindow::setClock(std::function<qint64()> clock)
{
    m_clock = clock;
    jobs->setClock(std::move(clock));
}

const QImage& MainWindow::picture() const
{
    return jobs->picture();
}

const QImage& MainWindow::shownPicture() const
{
    return view->shown();
}

bool MainWindow::isBlurred() const
{
    return jobs->blurred();
}

bool MainWindow::isRendering() const
{
    return jobs->busy();
}

bool MainWindow::isPreviewing() const
{
    return player->isPlaying();
}

bool MainWindow::isExporting() const
{
    return exportTask->isRunning();
}

bool MainWindow::isRenderingAnimation() const
{
    return animationTask->isRunning();
}

QDockWidget* MainWindow::addPanel(QWidget* content, const QString& title, const QString& objectName,
                                  const QString& menuText, const QKeySequence& shortcut, const QString& statusTip)
{
    auto* dock = new QDockWidget(title, this);
    dock->setObjectName(objectName);
    dock->setWidget(content);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    // Hidden at start: the window shows the picture alone.
    dock->hide();
    connect(dock, &QDockWidget::visibilityChanged, this, [this, dock](bool visible) {
        if (!visible && isVisible() && !dock->isFloating() && !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            fitWindowLater();
    });
    QAction* toggle = dock->toggleViewAction();
    toggle->setText(menuText);
    toggle->setShortcut(shortcut);
    toggle->setStatusTip(statusTip);
    panelActions << toggle;
    return dock;
}

void MainWindow::closeEvent(QCloseEvent* pe)
{
    // Nothing waits for the pictures in flight: the process may end at once.
    stopPreview();
    jobs->stop();
    endLongWork();
    if (keysDialog)
        keysDialog->close();
    QMainWindow::closeEvent(pe);
}

void MainWindow::resizePicture()
{
    const QSize size(m_scene.Wid, m_scene.Hey);
    if (view->size() == size)
        return;
    view->clear(size);
    fitPicture();
}

void MainWindow::fitPicture()
{
    const QSize picture = view->size();
    QSize room = picture;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Leave room for the menu bar, the status bar, the layout's margins and the frame the
        // window manager draws: known once the window shows, before that a title bar's worth.
        const QMargins margins = mainLayout->contentsMargins();
        const QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize(12, 40);
        const QSize around(margins.left() + margins.right() + frame.width(),
                           margins.top() + margins.bottom() + frame.height() + menuBar()->sizeHint().height() +
                               statusBar()->sizeHint().height());
        const QSize avail = screen->availableGeometry().size() - around;
        room = room.boundedTo(avail.expandedTo(QSize(200, 150)));
    }
    scrollArea->setMinimumSize(room);
    scrollArea->setMaximumSize(picture);
    fitWindowLater();
}

void MainWindow::fitWindowLater()
{
    // A smaller picture than before, or a panel gone: the window fits what is left.
    if (isVisible())
        QTimer::singleShot(0, this, [this] {
            mainLayout->activate();
            layout()->activate();
            resize(sizeHint().expandedTo(minimumSizeHint()));
        });
}

void MainWindow::createStatusBar()
{
    statusBar()->showMessage(tr("Ready"));
}

void MainWindow::createActions()
{
    XMLLAct = new QAction(tr("&XML"), this);
    XMLLAct->setStatusTip(tr("Load attributes from XML format"));
    connect(XMLLAct, &QAction::triggered, this, &MainWindow::LoadFromXml);

    BinLAct = new QAction(tr("&Bin"), this);
    BinLAct->setStatusTip(tr("Load attributes from Binary format"));
    connect(BinLAct, &QAction::triggered, this, &MainWindow::LoadFromBin);

    exitAct = new QAction(tr("E&xit"), this);
    exitAct->setShortcuts(QKeySequence::Quit);
    exitAct->setStatusTip(tr("Exit Lumivex"));
    connect(exitAct, &QAction::triggered, this, &MainWindow::exit);

    XMLSAct = new QAction(tr("&XML"), this);
    XMLSAct->setStatusTip(tr("Save attributes in XML format"));
    connect(XMLSAct, &QAction::triggered, this, &MainWindow::SerializeInXml);

    BinSAct = new QAction(tr("&Bin"), this);
    BinSAct->setStatusTip(tr("Save attributes in Binary format"));
    connect(BinSAct, &QAction::triggered, this, &MainWindow::SerializeInBin);

    openAct = new QAction(tr("&Open..."), this);
    openAct->setShortcut(QKeySequence::Open);
    openAct->setStatusTip(tr("Open a scene file of either format"));
    connect(openAct, &QAction::triggered, this, [this] {
        const QString name = askFileName(false, tr(kSceneFilter));
        if (!name.isEmpty())
            openInteractively(name);
    });
    saveAct = new QAction(tr("&Save"), this);
    saveAct->setShortcut(QKeySequence::Save);
    saveAct->setStatusTip(tr("Save the scene in the file it came from, in its format"));
    connect(saveAct, &QAction::triggered, this, &MainWindow::saveOpenFile);
    exportAct = new QAction(tr("&Export Picture..."), this);
    exportAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportAct->setStatusTip(tr("Render the picture at any size, supersampled, and write it as PNG, JPEG, BMP or PPM"));
    connect(exportAct, &QAction::triggered, this, &MainWindow::exportPicture);
    copyAct = new QAction(tr("&Copy Picture"), this);
    copyAct->setShortcut(QKeySequence::Copy);
    copyAct->setStatusTip(tr("Put the picture on screen on the clipboard"));
    connect(copyAct, &QAction::triggered, this, &MainWindow::copyPicture);
    undoAct = undoStack->createUndoAction(this, tr("&Undo"));
    undoAct->setShortcut(QKeySequence::Undo);
    redoAct = undoStack->createRedoAction(this, tr("&Redo"));
    redoAct->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    stopAct = new QAction(tr("&Stop Rendering"), this);
    stopAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    stopAct->setStatusTip(tr("Stop the picture or export on its way; the picture on screen stays"));
    connect(stopAct, &QAction::triggered, this, &MainWindow::stopRendering);

    addKeyAct = new QAction(tr("&Add Key Frame"), this);
    addKeyAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    addKeyAct->setStatusTip(tr("Add the camera as a key frame, %1 frames after the last").arg(kKeyFrameGap));
    connect(addKeyAct, &QAction::triggered, this, &MainWindow::addKeyFrame);
    openKeysAct = new QAction(tr("&Open Key Frames..."), this);
    openKeysAct->setStatusTip(tr("Read the key frames from a file of FRAME X Y Z lines"));
    connect(openKeysAct, &QAction::triggered, this, &MainWindow::openKeyFrames);
    saveKeysAct = new QAction(tr("&Save Key Frames..."), this);
    saveKeysAct->setStatusTip(tr("Write the key frames as a file of FRAME X Y Z lines, as lumivex-render --path reads"));
    connect(saveKeysAct, &QAction::triggered, this, &MainWindow::saveKeyFrames);
    smoothAct = new QAction(tr("S&mooth Path"), this);
    smoothAct->setCheckable(true);
    smoothAct->setStatusTip(tr("Move along a smooth curve through the key frames rather than straight lines"));
    playAct = new QAction(tr("&Play Preview"), this);
    playAct->setStatusTip(tr("Play the key frames in the window, reduced; any key or click stops"));
    connect(playAct, &QAction::triggered, this, &MainWindow::playPreview);
    animationAct = new QAction(tr("&Render Animation..."), this);
    animationAct->setStatusTip(tr("Render the frames of the key frames' path into picture files or a video"));
    connect(animationAct, &QAction::triggered, this, &MainWindow::renderAnimation);
    keyPanel->addButton(addKeyAct);
    keyPanel->addButton(smoothAct);

    keysAct = new QAction(tr("&Keys and Mouse"), this);
    keysAct->setShortcut(QKeySequence(Qt::Key_F1));
    keysAct->setStatusTip(tr("List what each key and the mouse do"));
    connect(keysAct, &QAction::triggered, this, &MainWindow::showKeys);
    aboutAct = new QAction(tr("&About Lumivex"), this);
    aboutAct->setStatusTip(tr("Show the program's version"));
    connect(aboutAct, &QAction::triggered, this,
            [this] { QMessageBox::about(this, tr("About Lumivex"), aboutText()); });
}

void MainWindow::createMenus()
{
    // Every menu is built here, in the order of the menu bar.
    fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->addAction(openAct);
    recentMenu = fileMenu->addMenu(tr("Open &Recent"));
    rebuildRecentMenu();
    fileMenu->addAction(saveAct);
    fileMenu->addAction(exportAct);
    fileMenu->addSeparator();
    fileMenu->addAction(exitAct);
    menuBar()->addSeparator();

    fileMenu = menuBar()->addMenu(tr("&Load"));
    fileMenu->addAction(XMLLAct);
    fileMenu->addAction(BinLAct);
    menuBar()->addSeparator();

    fileMenu = menuBar()->addMenu(tr("&Save"));
    fileMenu->addAction(XMLSAct);
    fileMenu->addAction(BinSAct);
    menuBar()->addSeparator();

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(undoAct);
    edit->addAction(redoAct);
    edit->addSeparator();
    edit->addAction(copyAct);

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->addActions(panelActions);
    viewMenu->addSeparator();
    viewMenu->addAction(stopAct);

    QMenu* animation = menuBar()->addMenu(tr("&Animation"));
    animation->addAction(addKeyAct);
    animation->addSeparator();
    animation->addAction(openKeysAct);
    animation->addAction(saveKeysAct);
    animation->addSeparator();
    animation->addAction(smoothAct);
    animation->addAction(playAct);
    animation->addAction(animationAct);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(keysAct);
    help->addAction(aboutAct);
    fileMenu = menuBar()->actions().first()->menu();
}

void MainWindow::showSceneValues()
{
    panel->showScene(m_scene);
    statusArea->setCamera(m_scene.CamPos);
    statusArea->setPictureSize(m_scene.Wid, m_scene.Hey);
}

void MainWindow::refresh(const QString& message, bool persistent)
{
    stopPreview();
    showSceneValues();
    statusArea->setStopped(false);
    jobs->render(m_scene, message, persistent);
}

void MainWindow::renderPreview()
{
    stopPreview();
    showSceneValues();
    statusArea->setStopped(false);
    jobs->preview(m_scene);
}

void MainWindow::onPictureShown(const QImage& display, bool blurred, const QString& message, bool persistent,
                                double seconds)
{
    // A preview keeps the picture area until it stops.
    if (!isPreviewing())
        view->setPicture(display);
    if (!blurred) {
        statusArea->setRenderTime(seconds);
        m_lastRenderSeconds = seconds;
    }
    statusArea->setBlurred(blurred);
    statusArea->setStopped(false);
    copyAct->setEnabled(true);
    if (!message.isEmpty())
        statusBar()->showMessage(message, persistent ? 0 : kPassingMessageMs);
    // A copy asked for while this picture was on its way takes it, once no blur follows.
    if (m_copyPending && !jobs->inFlight()) {
        m_copyPending = false;
        copyPicture();
    }
}

void MainWindow::onStandIn(const QImage& display, bool coarse)
{
    // A preview that comes after the drag has ended is out of date.
    if ((!coarse && !dragging) || isPreviewing())
        return;
    view->setStandIn(display);
    statusArea->setBlurred(false);
}

void MainWindow::onPictureFailed()
{
    m_copyPending = false;
    statusBar()->showMessage(tr("Error"));
    // The last picture stays on screen.
    if (!isPreviewing() && !jobs->display().isNull() && view->shown().cacheKey() != jobs->display().cacheKey()) {
        view->setPicture(jobs->display());
        fitPicture();
    }
}

void MainWindow::updateProgress()
{
    const bool busy = jobs->busy();
    if (busy && jobs->runningMs() > kProgressAfterMs) {
        progressBar->setValue(int(jobs->progress() * 100));
        if (progressBar->isHidden()) {
            progressBar->show();
            setCursor(Qt::BusyCursor);
        }
        return;
    }
    if (!busy) {
        progressTimer->stop();
        if (!progressBar->isHidden()) {
            progressBar->hide();
            unsetCursor();
        }
    }
}

void MainWindow::stopRendering()
{
    // An export says it was cancelled once it has stopped.
    exportTask->stop();
    if (!jobs->busy())
        return;
    jobs->stop();
    m_copyPending = false;
    // What stays on screen (a coarse first picture, a drag's preview, an older camera's picture)
    // is not this camera's finished picture: the status area says so until the next one.
    statusArea->setStopped(!jobs->upToDate() || view->showsStandIn());
    statusBar()->showMessage(tr("Rendering stopped"), kPassingMessageMs);
}

void MainWindow::keyPressEvent(QKeyEvent* pe)
{
    if (shortcutKeyOnly(pe)) {
        pe->ignore();
        return;
    }
    const Scene before = m_scene;
    switch (pe->key()) {
    case Qt::Key_A:
        moveAxis(m_scene.CamPos.X, -kStep);
        break;
    case Qt::Key_D:
        moveAxis(m_scene.CamPos.X, kStep);
        break;
    case Qt::Key_W:
        moveAxis(m_scene.CamPos.Y, -kStep);
        break;
    case Qt::Key_S:
        moveAxis(m_scene.CamPos.Y, kStep);
        break;
    case Qt::Key_Z:
        moveAxis(m_scene.CamPos.Z, -kStep);
        break;
    case Qt::Key_X:
        moveAxis(m_scene.CamPos.Z, kStep);
        break;
    case Qt::Key_Q:
        jobs->blur(m_scene, tr("AntiAliasing Made"));
        return;
    case Qt::Key_Escape:
        // Closing drops the render this key would start; its message still shows.
        close();
        jobs->forgetBlur();
        statusBar()->showMessage(tr("Made"), kPassingMessageMs);
        return;
    default:
        break;
    }
    recordChange(before, tr("Move Camera"), true);
    refresh(tr("Made"));
}

void MainWindow::wheelEvent(QWheelEvent* pe)
{
    const Scene before = m_scene;
    // A horizontal wheel counts when there is no vertical turn.
    int delta = pe->angleDelta().y();
    if (delta == 0)
        delta = pe->angleDelta().x();
    if (delta > 0)
        moveAxis(m_scene.CamPos.Z, -kStep);
    else if (delta < 0)
        moveAxis(m_scene.CamPos.Z, kStep);
    recordChange(before, tr("Move Camera"), true);
    refresh(tr("Zoomed"));
}

void MainWindow::mousePressEvent(QMouseEvent* pe)
{
    ptrMousePosition = pe->position().toPoint();
    dragging = true;
    dragMoved = false;
    dragStart = m_scene;
}

void MainWindow::mouseMoveEvent(QMouseEvent* pe)
{
    // Every move adds the whole way from the press point; the picture follows at reduced size.
    const QPoint pos = pe->position().toPoint();
    moveAxis(m_scene.CamPos.Y, (pos.y() - ptrMousePosition.y()) / kMouseDivisor / m_scene.Hey);
    moveAxis(m_scene.CamPos.X, (pos.x() - ptrMousePosition.x()) / kMouseDivisor / m_scene.Wid);
    dragMoved = true;
    if (dragging)
        renderPreview();
}

void MainWindow::mouseReleaseEvent(QMouseEvent* pe)
{
    const QPoint pos = pe->position().toPoint();
    dragging = false;
    if (dragMoved)
        recordChange(dragStart, tr("Move Camera"), true);
    if (pos != ptrMousePosition)
        refresh(tr("Translated"));
    else if (dragMoved)
        // Back at the press point: no message, but no preview may stay on screen.
        refresh(QString());
    dragMoved = false;
    ptrMousePosition = pos;
}

void MainWindow::exit()
{
    QMessageBox box;
    box.setWindowTitle("Exit");
    box.setText("Thank you for using my Program)) Goodbye!!");
    box.exec();
    close();
}

void MainWindow::announce(const QString& text)
{
    QMessageBox msgBox;
    msgBox.setWindowTitle("Message");
    msgBox.setText(text);
    msgBox.exec();
}

void MainWindow::warn(const QString& why)
{
    QMessageBox::warning(this, "Lumivex", why);
}

QString MainWindow::askFileName(bool forSaving, const QString& filter)
{
    QString chosenFilter = filter.section(";;", 0, 0);
    QString name;
    if (fileNameAsker) {
        name = fileNameAsker(forSaving);
    } else if (!forSaving) {
        name = QFileDialog::getOpenFileName(this, QString(), QString(), filter);
    } else {
        QFileDialog dialog(this);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(filter);
        // The dialog adds the chosen type's suffix itself, and asks before replacing that file.
        dialog.setDefaultSuffix(filterSuffix(chosenFilter));
        connect(&dialog, &QFileDialog::filterSelected, &dialog,
                [&dialog](const QString& f) { dialog.setDefaultSuffix(filterSuffix(f)); });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        name = dialog.selectedFiles().first();
        chosenFilter = dialog.selectedNameFilter();
    }
    // A name without a suffix takes the chosen type's, unless it is standard output ("-") or a
    // device or pipe that is written into as it is.
    const QFileInfo info(name);
    const QString suffix = filterSuffix(chosenFilter);
    if (forSaving && !name.isEmpty() && !suffix.isEmpty() && info.suffix().isEmpty() && name != "-" &&
        !(info.exists() && !info.isFile()))
        name += "." + suffix;
    return name;
}

bool MainWindow::Serializing(Serializer* Serial, const QString& fileName, QString* why)
{
    if (Serial->readWrite)
        return saveScene(*Serial, fileName, m_scene, why);
    return loadScene(*Serial, fileName, m_scene, why);
}

void MainWindow::saveWith(Serializer& serial, const char* done)
{
    jobs->forgetBlur();
    const QString name = askFileName(true, tr(serial.format ? kXmlFilter : kBinFilter));
    if (name.isEmpty())
        return;
    QString why;
    if (!Serializing(&serial, name, &why)) {
        statusBar()->showMessage(tr("Error"));
        warn(why);
        return;
    }
    statusBar()->showMessage(tr(done));
    setOpenFile(name, serial.format ? SceneFormat::Xml : SceneFormat::Bin);
}

void MainWindow::loadWith(Serializer& serial, const char* done)
{
    jobs->forgetBlur();
    const QString name = askFileName(false, tr(serial.format ? kXmlFilter : kBinFilter));
    if (name.isEmpty())
        return;
    const Scene before = m_scene;
    QString why;
    if (!Serializing(&serial, name, &why)) {
        statusBar()->showMessage(tr("Error"));
        warn(why);
        return;
    }
    if (takeLoaded(before, tr(done), tr("Load")))
        setOpenFile(name, serial.format ? SceneFormat::Xml : SceneFormat::Bin);
}

void MainWindow::saveOpenFile()
{
    if (openFileName.isEmpty()) {
        SerializeInXml();
        return;
    }
    XMLS xml;
    BinS bin;
    const bool isXml = openFormat == SceneFormat::Xml;
    QString why;
    if (!Serializing(isXml ? static_cast<Serializer*>(&xml) : &bin, openFileName, &why)) {
        statusBar()->showMessage(tr("Error"));
        warn(why);
        return;
    }
    statusBar()->showMessage(isXml ? tr("Serialized in XML") : tr("Serialized in Bin"));
    rememberRecent(openFileName);
}

bool MainWindow::takeLoaded(const Scene& before, const QString& loaded, const QString& undoText)
{
    if (!roomForPicture(m_scene.Wid, m_scene.Hey)) {
        m_scene = before;
        statusBar()->showMessage(tr("Error"));
        return false;
    }
    resizePicture();
    statusBar()->showMessage(loaded);
    recordChange(before, undoText, false);
    refresh(tr("RayTraced"), true);
    return true;
}

void MainWindow::setOpenFile(const QString& fileName, SceneFormat format)
{
    openFileName = QFileInfo(fileName).absoluteFilePath();
    openFormat = format;
    setWindowFilePath(openFileName);
    setWindowTitle(QFileInfo(openFileName).fileName() + " — Lumivex");
    rememberRecent(openFileName);
}

bool MainWindow::openFile(const QString& fileName, QString* why)
{
    const Scene before = m_scene;
    SceneFormat format;
    if (!loadSceneFile(fileName, m_scene, &format, why)) {
        statusBar()->showMessage(tr("Error"));
        return false;
    }
    const QString noRoom = tr("not enough memory for a %1 x %2 picture").arg(m_scene.Wid).arg(m_scene.Hey);
    if (!takeLoaded(before, format == SceneFormat::Xml ? tr("Loaded from Xml") : tr("Loaded from Bin"), tr("Open"))) {
        if (why)
            *why = noRoom;
        return false;
    }
    setOpenFile(fileName, format);
    return true;
}

void MainWindow::applyScene(const Scene& newScene)
{
    if ((newScene.Wid != m_scene.Wid || newScene.Hey != m_scene.Hey) && !roomForPicture(newScene.Wid, newScene.Hey)) {
        showSceneValues();
        statusBar()->showMessage(tr("Error"));
        return;
    }
    m_scene = newScene;
    resizePicture();
    refresh(tr("Made"));
}

void MainWindow::recordChange(const Scene& before, const QString& text, bool cameraMove)
{
    if (!SceneChange::sameScene(before, m_scene))
        undoStack->push(new SceneChange([this](const Scene& s) { applyScene(s); }, before, m_scene, text, cameraMove,
                                        m_clock()));
}

void MainWindow::openInteractively(const QString& fileName)
{
    QString why;
    if (!openFile(fileName, &why))
        warn(why);
}

void MainWindow::rememberRecent(const QString& fileName)
{
    const auto settings = openSettings();
    if (!settings)
        return;
    QStringList files = settings->value("recentFiles").toStringList();
    const QString path = QFileInfo(fileName).absoluteFilePath();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > kRecentFiles)
        files.removeLast();
    settings->setValue("recentFiles", files);
    rebuildRecentMenu();
}

void MainWindow::rebuildRecentMenu()
{
    recentMenu->clear();
    const auto settings = openSettings();
    const QStringList files = settings ? settings->value("recentFiles").toStringList() : QStringList();
    for (const QString& f : files)
        connect(recentMenu->addAction(QFileInfo(f).fileName()), &QAction::triggered, this,
                [this, f] { openInteractively(f); });
    recentMenu->setEnabled(!files.isEmpty());
}

void MainWindow::exportPicture()
{
    if (exportTask->isRunning())
        return;
    // As on screen unless changed: the scene's size, blurred if the picture is.
    ExportSettings settings{m_scene.Wid, m_scene.Hey, 1, isBlurred()};
    if (exportAsker) {
        if (!exportAsker(settings))
            return;
    } else {
        ExportDialog dialog(settings, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        settings = dialog.settings();
    }
    const QString name = askFileName(true, tr(kPictureFilter));
    if (!name.isEmpty())
        startExport(name, settings);
}

void MainWindow::startExport(const QString& fileName, const ExportSettings& settings)
{
    // A folder that is missing or cannot be written into fails at once, not after a long render.
    // A device or pipe is written into as it is, whatever its folder.
    const QFileInfo target(fileName);
    const QFileInfo folder(target.absolutePath());
    if (fileName != "-" && !(target.exists() && !target.isFile()) && !(folder.isDir() && folder.isWritable())) {
        statusBar()->showMessage(tr("Error"));
        warn(tr("cannot open %1 for writing: %2 is no folder that can be written into")
                 .arg(printableName(fileName), printableName(folder.filePath())));
        return;
    }
    Scene scene = m_scene;
    scene.Wid = settings.width;
    scene.Hey = settings.height;
    const PictureSettings picture{settings.supersample, settings.blur};
    // Shared by the worker, which fills it in, and the window, which reads it.
    struct State {
        std::atomic<int> columnsDone{0};
        std::atomic<bool> writing{false};
        PictureResult made = PictureResult::Stopped;
        bool written = false;
        QString why;
    };
    const auto state = std::make_shared<State>();
    const int columns = std::max(1, pictureColumns(scene, picture));
    LongTask::Plan plan;
    plan.title = tr("Export Picture");
    plan.stopText = tr("Cancel");
    plan.showAfterMs = kProgressAfterMs;
    plan.work = [state, scene, picture, fileName](const std::atomic<bool>& stop) {
        RenderOptions options;
        options.cancel = &stop;
        options.columnsDone = &state->columnsDone;
        QImage finished;
        state->made = makePicture(scene, picture, options, finished, &state->why);
        if (state->made != PictureResult::Whole || stop)
            return;
        // Encoded here too: a large PNG takes a while.
        state->writing = true;
        state->written = writePicture(finished, fileName, state->why);
    };
    const QString shortName = QFileInfo(fileName).fileName();
    const QString rendering = settings.supersample == 1
                                  ? tr("Rendering %1 x %2").arg(scene.Wid).arg(scene.Hey)
                                  : tr("Rendering %1 x %2, %3 x %3 rays a pixel")
                                        .arg(scene.Wid)
                                        .arg(scene.Hey)
                                        .arg(settings.supersample);
    plan.progress = [state, columns, rendering, shortName]() -> LongTask::Progress {
        if (state->writing)
            return {tr("Writing %1").arg(shortName), -1};
        return {rendering, double(state->columnsDone) / columns};
    };
    plan.finish = [this, state] {
        if (state->written) {
            statusBar()->showMessage(tr("Picture exported"), kPassingMessageMs);
        } else if (state->made == PictureResult::Stopped || (state->made == PictureResult::Whole && !state->writing)) {
            statusBar()->showMessage(tr("Export cancelled"), kPassingMessageMs);
        } else {
            statusBar()->showMessage(tr("Error"));
            warn(state->why);
        }
    };
    exportTask->start(std::move(plan));
}

void MainWindow::copyPicture()
{
    // Only the finished picture of the camera in the status area is copied: one on its way is
    // copied when it comes, and a stand-in left by Stop Rendering is not copied at all.
    if (jobs->inFlight()) {
        m_copyPending = true;
        statusBar()->showMessage(tr("The picture is copied when it is finished"));
        return;
    }
    if (!jobs->upToDate() || view->showsStandIn()) {
        statusBar()->showMessage(tr("Nothing copied: the picture on screen is not finished; any key renders it"),
                                 kPassingMessageMs);
        return;
    }
    QGuiApplication::clipboard()->setImage(picture());
    statusBar()->showMessage(tr("Picture copied"), kPassingMessageMs);
}

void MainWindow::showKeys()
{
    if (!keysDialog) {
        // The menus' shortcuts in menu order; undo and redo by their plain names, as their menu
        // texts name the step they would undo.
        QList<QPair<QKeySequence, QString>> shortcuts;
        for (const QAction* menu : menuBar()->actions())
            if (menu->menu())
                for (const QAction* a : menu->menu()->actions())
                    if (!a->shortcut().isEmpty())
                        shortcuts.append({a->shortcut(), a == undoAct   ? tr("Undo")
                                                         : a == redoAct ? tr("Redo")
                                                                        : a->iconText()});
        keysDialog = createKeysDialog(this, shortcuts);
    }
    keysDialog->show();
    keysDialog->raise();
    keysDialog->activateWindow();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* pe)
{
    const QList<QUrl> urls = pe->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile())
        pe->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* pe)
{
    const QList<QUrl> urls = pe->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return;
    pe->acceptProposedAction();
    openInteractively(urls.first().toLocalFile());
}

void MainWindow::SerializeInXml()
{
    XMLS Serial;
    announce("Input file name for writing in XML format in");
    saveWith(Serial, "Serialized in XML");
}

void MainWindow::SerializeInBin()
{
    BinS Serial;
    announce("Input file name for writing in Binary format in");
    saveWith(Serial, "Serialized in Bin");
}

void MainWindow::LoadFromXml()
{
    XMLL Serial;
    announce("Input file name for reading in XML format from");
    loadWith(Serial, "Loaded from Xml");
}

void MainWindow::LoadFromBin()
{
    BinL Serial;
    announce("Input file name for reading in Binary format from");
    loadWith(Serial, "Loaded from Bin");
}

void MainWindow::updateActions()
{
    if (!stopAct)
        return; // still building
    const bool keys = !m_keyFrames.keys.empty();
    stopAct->setEnabled(jobs->busy() || exportTask->isRunning());
    exportAct->setEnabled(!exportTask->isRunning());
    saveKeysAct->setEnabled(keys);
    playAct->setEnabled(keys);
    animationAct->setEnabled(keys && !animationTask->isRunning());
}

void MainWindow::endLongWork()
{
    exportTask->stop();
    animationTask->stop();
    if (!LongTask::waitForWorkers(kCloseWaitMs))
        std::fprintf(stderr, "lumivex: an export or animation did not stop in time\n");
}

void MainWindow::setKeyFrames(const CameraPath& path, qint64 selectFrame)
{
    // The preview plays the path it started with.
    stopPreview();
    m_keyFrames = path;
    keyPanel->showPath(path, selectFrame);
    updateActions();
}

void MainWindow::changeKeyFrames(const CameraPath& path, const QString& undoText, qint64 selectFrame)
{
    const CameraPath before = m_keyFrames;
    setKeyFrames(path, selectFrame);
    undoStack->push(new KeyFramesChange([this](const CameraPath& p) { setKeyFrames(p); }, before, path, undoText));
}

void MainWindow::addKeyFrame()
{
    CameraPath path = m_keyFrames;
    qint64 frame = 0;
    if (!path.keys.empty()) {
        if (path.lastFrame() > kLastFrame - kKeyFrameGap) {
            statusBar()->showMessage(tr("No key frame can follow frame %1").arg(path.lastFrame()));
            return;
        }
        frame = path.lastFrame() + kKeyFrameGap;
    }
    path.keys.push_back({frame, m_scene.CamPos});
    changeKeyFrames(path, tr("Add Key Frame"), frame);
    // The first key shows where the keys are.
    if (path.keys.size() == 1)
        keyDock->show();
    statusBar()->showMessage(tr("Key frame %1 added").arg(frame), kPassingMessageMs);
}

void MainWindow::goToKeyFrame(int row)
{
    if (row < 0 || row >= int(m_keyFrames.keys.size()))
        return;
    const Scene before = m_scene;
    m_scene.CamPos = m_keyFrames.keys[size_t(row)].camera;
    recordChange(before, tr("Go to Key Frame"), false);
    refresh(tr("Made"));
}

void MainWindow::deleteKeyFrames(const QList<int>& rows)
{
    CameraPath path = m_keyFrames;
    // From the back, so that the rows before stay where they are.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it)
        if (*it >= 0 && *it < int(path.keys.size()))
            path.keys.erase(path.keys.begin() + *it);
    if (path.keys.size() != m_keyFrames.keys.size())
        changeKeyFrames(path, rows.size() == 1 ? tr("Delete Key Frame") : tr("Delete Key Frames"));
}

void MainWindow::openKeyFrames()
{
    const QString name = askFileName(false, tr(kKeyFrameFilter));
    if (name.isEmpty())
        return;
    CameraPath path;
    QString why;
    if (!readCameraPath(name, path, &why)) {
        statusBar()->showMessage(tr("Error"));
        warn(why);
        return;
    }
    changeKeyFrames(path, tr("Open Key Frames"));
    keyDock->show();
    statusBar()->showMessage(tr("Key frames opened"), kPassingMessageMs);
}

void MainWindow::saveKeyFrames()
{
    if (m_keyFrames.keys.empty())
        return;
    const QString name = askFileName(true, tr(kKeyFrameFilter));
    if (name.isEmpty())
        return;
    QString why;
    if (!writeCameraPath(name, m_keyFrames, &why)) {
        statusBar()->showMessage(tr("Error"));
        warn(why);
        return;
    }
    statusBar()->showMessage(tr("Key frames saved"), kPassingMessageMs);
}

qint64 MainWindow::sliderFrame(int value) const
{
    const qint64 first = player->firstFrame(), span = player->lastFrame() - first;
    if (span <= kSliderSteps)
        return first + value;
    return std::min(player->lastFrame(), first + qint64(std::floor(double(span) * value / kSliderSteps)));
}

int MainWindow::sliderValue(qint64 frame) const
{
    const qint64 first = player->firstFrame(), span = player->lastFrame() - first;
    if (span <= kSliderSteps)
        return int(frame - first);
    return int(std::lround(double(frame - first) / double(span) * kSliderSteps));
}

void MainWindow::playPreview()
{
    if (isPreviewing()) {
        stopPreview();
        return;
    }
    if (m_keyFrames.keys.empty())
        return;
    player->play(m_scene, m_keyFrames, smoothAct->isChecked(), m_lastRenderSeconds);
    {
        const QSignalBlocker quiet(previewSlider);
        const qint64 span = m_keyFrames.lastFrame() - m_keyFrames.firstFrame();
        previewSlider->setRange(0, int(std::min<qint64>(span, kSliderSteps)));
        previewSlider->setPageStep(std::max(1, previewSlider->maximum() / 10));
        previewSlider->setValue(0);
    }
    previewLabel->clear();
    previewBar->show();
    // Any key or click, anywhere in the program, stops the preview.
    qApp->installEventFilter(this);
    statusBar()->showMessage(tr("Playing the key frames: any key or click stops"));
}

void MainWindow::stopPreview()
{
    if (!player || !isPreviewing())
        return;
    player->stop();
    qApp->removeEventFilter(this);
    previewBar->hide();
    // The window's own picture, of the camera it had all along.
    if (!jobs->display().isNull())
        view->setPicture(jobs->display());
    statusBar()->showMessage(tr("Preview stopped"), kPassingMessageMs);
    fitWindowLater();
}

void MainWindow::showPreviewFrame(qint64 frame, const QImage& display)
{
    view->setStandIn(display);
    {
        const QSignalBlocker quiet(previewSlider);
        m_movingSlider = true;
        if (!previewSlider->isSliderDown())
            previewSlider->setValue(sliderValue(frame));
        m_movingSlider = false;
    }
    previewLabel->setText(tr("Frame %1, %2 x %3").arg(frame).arg(display.width()).arg(display.height()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
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
        if (widget == previewBar || previewBar->isAncestorOf(widget))
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

void MainWindow::renderAnimation()
{
    if (animationTask->isRunning() || m_keyFrames.keys.empty())
        return;
    AnimationSettings settings = m_animation;
    // The whole path at the scene's size, unless the last animation asked otherwise.
    if (!m_animationAsked) {
        settings.pattern = QDir::home().filePath(QStringLiteral("frame-%04d.png"));
        settings.width = m_scene.Wid;
        settings.height = m_scene.Hey;
    }
    if (!m_animationAsked || settings.first < m_keyFrames.firstFrame() || settings.last > m_keyFrames.lastFrame() ||
        settings.first > settings.last) {
        settings.first = m_keyFrames.firstFrame();
        settings.last = m_keyFrames.lastFrame();
    }
    settings.smooth = smoothAct->isChecked();
    if (animationAsker) {
        if (!animationAsker(settings))
            return;
    } else {
        AnimationDialog dialog(settings, m_keyFrames, !VideoWriter::ffmpegProgram().isEmpty(), this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        settings = dialog.settings();
    }
    const QString problem = animationProblem(settings, m_keyFrames);
    if (!problem.isEmpty()) {
        statusBar()->showMessage(tr("Error"));
        warn(problem);
        return;
    }
    m_animation = settings;
    m_animationAsked = true;

    AnimationJob job;
    job.scene = m_scene;
    job.scene.Wid = settings.width;
    job.scene.Hey = settings.height;
    job.path = m_keyFrames;
    job.smooth = settings.smooth;
    job.first = settings.first;
    job.last = settings.last;
    job.picture = PictureSettings{settings.supersample, settings.blur};
    job.pattern = settings.pattern;
    job.video = settings.video;
    job.fps = settings.fps;
    // As lumivex-render does, so that "frames/f-%04d.png" works in a new place.
    job.writeFrame = [](const QImage& picture, const QString& name, QString& why) {
        QDir().mkpath(QFileInfo(name).absolutePath());
        return writePicture(picture, name, why);
    };
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
        if (rate > 0)
            text += tr(", %1 frames a second, %2 s left").arg(rate, 0, 'f', 2).arg((frames - done) / rate, 0, 'f', 0);
        return {text, done / frames};
    };
    plan.finish = [this, state] {
        const AnimationResult& r = state->result;
        switch (r.end) {
        case AnimationResult::Done:
            statusBar()->showMessage(tr("Animation rendered: %1 frames").arg(r.written));
            break;
        case AnimationResult::Stopped:
            statusBar()->showMessage(tr("Animation stopped: %1 frames written, every one whole").arg(r.written));
            break;
        case AnimationResult::Failed:
            statusBar()->showMessage(tr("Error"));
            warn(r.why);
            break;
        }
    };
    animationTask->start(std::move(plan));
}
