#include "window/mainwindow.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "window/animationcontrols.h"
#include "window/help.h"
#include "window/longtask.h"
#include "window/pictureexport.h"
#include "jobs/picturejobs.h"
#include "jobs/recentfiles.h"
#include "window/pictureview.h"
#include "jobs/scenechange.h"
#include "window/scenepanel.h"
#include "window/statusarea.h"
#include "render/tracer.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

namespace {

// One key or wheel step along an axis.
constexpr double kStep = 0.1;
constexpr double kMouseDivisor = 3.0;
const char* const kSceneFilter = "Scene files (*.xml *.bin *.txt);;XML scene files (*.xml);;Line-format scene files (*.bin *.txt);;All files (*)";
// Load and Save of one format offer that format's files first; a name saved without a suffix
// takes the first suffix listed: ".bin" for the line format, as the menus name it, so that a
// scene is not taken for a key frame file.
const char* const kXmlFilter = "XML scene files (*.xml);;All files (*)";
const char* const kBinFilter = "Line-format scene files (*.bin *.txt);;All files (*)";
// Closing the window waits this long at most for an export or animation to give up: a video
// left unfinished is removed, and nothing is written after the window has gone.
constexpr int kCloseWaitMs = 5000;

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
    m_jobs->adopt(::render(m_scene));
    const double seconds = (m_clock() - start) / 1000.0;
    m_statusArea->setRenderTime(seconds);
    m_animation->setPictureSeconds(seconds);
    m_view->setPicture(m_jobs->display());
    m_prompter.flash(tr("Rayed"));
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
    m_view = new PictureView;
    m_view->clear(QSize(m_scene.Wid, m_scene.Hey));
    mainLayout = new QVBoxLayout;
    // The window cannot shrink below the picture (or the screen, where the picture is larger).
    mainLayout->setSizeConstraint(QLayout::SetMinimumSize);
    m_scrollArea = new QScrollArea;
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    // Keys go to the camera, not to scrolling.
    m_scrollArea->setFocusPolicy(Qt::NoFocus);
    m_scrollArea->setWidget(m_view);
    // The wheel over the picture is the camera's; the scroll bars move the picture.
    m_scrollArea->viewport()->installEventFilter(this);
    mainLayout->addWidget(m_scrollArea);
    window->setLayout(mainLayout);
    // The picture area holds the keys from the start, and a click on it takes them back from a
    // panel field.
    window->setFocusPolicy(Qt::ClickFocus);
    setCentralWidget(window);
    window->setFocus(Qt::OtherFocusReason);

    m_jobs = new PictureJobs(this);
    connect(m_jobs, &PictureJobs::shown, this, &MainWindow::onPictureShown);
    connect(m_jobs, &PictureJobs::standIn, this, &MainWindow::onStandIn);
    connect(m_jobs, &PictureJobs::failed, this, &MainWindow::onPictureFailed);
    m_statusArea = new StatusArea;
    statusBar()->addPermanentWidget(m_statusArea);
    m_progressBar = new QProgressBar;
    m_progressBar->setRange(0, 100);
    m_progressBar->setMaximumWidth(200);
    m_progressBar->hide();
    statusBar()->addPermanentWidget(m_progressBar);
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &MainWindow::updateProgress);
    connect(m_jobs, &PictureJobs::busyChanged, this, [this](bool busy) {
        updateActions();
        if (busy)
            m_progressTimer->start();
        else
            updateProgress();
    });

    m_undoStack = new QUndoStack(this);
    m_panel = new ScenePanel;
    connect(m_panel, &ScenePanel::edited, this, [this](const Scene& edited) {
        const Scene before = m_scene;
        applyScene(edited);
        recordChange(before, tr("Edit Scene"), false);
    });
    connect(m_panel, &ScenePanel::refused, this, [this](const QString& why) { m_prompter.flash(why); });
    connect(m_panel, &ScenePanel::colourDialogClosed, this, &MainWindow::takeKeys);
    addPanel(m_panel, tr("Scene"), "scenePanel", tr("Scene &Panel"), QKeySequence(Qt::CTRL | Qt::Key_P),
             tr("Show or hide the scene's values"));

    m_animation = new AnimationControls(this, m_scene, m_undoStack, m_prompter);
    connect(m_animation, &AnimationControls::standIn, m_view, &PictureView::setStandIn);
    // The preview's bar takes its height from the picture while it shows.
    connect(m_animation, &AnimationControls::previewStarted, this, &MainWindow::fitPicture);
    connect(m_animation, &AnimationControls::previewStopped, this, [this] {
        // The window's own picture, of the camera it had all along.
        if (!m_jobs->display().isNull())
            m_view->setPicture(m_jobs->display());
        fitPicture();
    });
    connect(m_animation, &AnimationControls::goTo, this, [this](const Vector3D& camera) {
        const Scene before = m_scene;
        m_scene.CamPos = camera;
        recordChange(before, tr("Go to Key Frame"), false);
        refresh(tr("Made"));
        // The keys move this camera on from here, not the panel's cells.
        takeKeys();
    });
    QDockWidget* keyDock = addPanel(m_animation->panel(), tr("Key Frames"), "keyFramePanel", tr("&Key Frames"),
                                    QKeySequence(), tr("Show or hide the key frames of the camera path"));
    connect(m_animation, &AnimationControls::panelWanted, keyDock, [keyDock] {
        keyDock->show();
        keyDock->raise();
    });
    // Shown together, the panels are tabs: each has the whole height for what it holds.
    tabifyDockWidget(findChild<QDockWidget*>("scenePanel"), keyDock);
    mainLayout->addWidget(m_animation->previewBar());

    m_exporter = new PictureExport(this, m_prompter);
    connect(m_exporter, &PictureExport::runningChanged, this, &MainWindow::updateActions);
    setAcceptDrops(true);
}

void MainWindow::finishBuilding()
{
    createActions();
    createMenus();
    createStatusBar();
    setUnifiedTitleAndToolBarOnMac(true);
    setWindowTitle("Lumivex");
    m_copyAct->setEnabled(!picture().isNull());
    updateActions();
    showSceneValues();
    // With the menus in place, so that their height is known.
    fitPicture();
    menuBar()->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    m_animation->stopPreview();
    endLongWork();
}

void MainWindow::setClock(std::function<qint64()> clock)
{
    m_clock = clock;
    m_jobs->setClock(std::move(clock));
}

const QImage& MainWindow::picture() const
{
    return m_jobs->picture();
}

const QImage& MainWindow::shownPicture() const
{
    return m_view->shown();
}

bool MainWindow::isBlurred() const
{
    return m_jobs->blurred();
}

bool MainWindow::isRendering() const
{
    return m_jobs->busy();
}

QDockWidget* MainWindow::addPanel(QWidget* content, const QString& title, const QString& objectName,
                                  const QString& menuText, const QKeySequence& shortcut, const QString& statusTip)
{
    auto* dock = new QDockWidget(title, this);
    dock->setObjectName(objectName);
    dock->setWidget(content);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    // The wheel over a panel scrolls the panel, and stops there when it can scroll no further.
    dock->installEventFilter(this);
    // Hidden at start: the window shows the picture alone.
    dock->hide();
    connect(dock, &QDockWidget::visibilityChanged, this, [this, dock](bool) {
        // A panel shown beside the picture takes its room from the picture, so that the window
        // stays on the screen; a panel gone gives the room back.
        if (isVisible() && !dock->isFloating() && !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            fitPicture();
    });
    QAction* toggle = dock->toggleViewAction();
    toggle->setText(menuText);
    toggle->setShortcut(shortcut);
    toggle->setStatusTip(statusTip);
    // Shown in front of a panel it shares tabs with.
    connect(toggle, &QAction::triggered, dock, [dock](bool shown) {
        if (shown)
            dock->raise();
    });
    m_panelActions << toggle;
    return dock;
}

void MainWindow::closeEvent(QCloseEvent* pe)
{
    // Key frames changed since they were opened or saved are not lost without a word.
    if (!m_closeAgreed && !m_animation->mayClose()) {
        pe->ignore();
        return;
    }
    // Nothing waits for the pictures in flight: the process may end at once.
    m_animation->stopPreview();
    m_jobs->stop();
    endLongWork();
    if (m_keysDialog)
        m_keysDialog->close();
    QMainWindow::closeEvent(pe);
}

void MainWindow::resizePicture()
{
    const QSize size(m_scene.Wid, m_scene.Hey);
    if (m_view->size() == size)
        return;
    m_view->clear(size);
    fitPicture();
}

void MainWindow::fitPicture()
{
    const QSize picture = m_view->size();
    QSize room = picture;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Leave room for the menu bar, the status bar, the layout's margins and the frame the
        // window manager draws: known once the window shows, before that (or with no window
        // manager) a title bar's worth.
        const QMargins margins = mainLayout->contentsMargins();
        QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize();
        if (frame.height() <= 0)
            frame = QSize(12, 40);
        const QWidget* bar = m_animation ? m_animation->previewBar() : nullptr;
        const int barHeight = bar && !bar->isHidden() ? bar->sizeHint().height() + mainLayout->spacing() : 0;
        const QSize around(margins.left() + margins.right() + frame.width(),
                           margins.top() + margins.bottom() + frame.height() + menuBar()->sizeHint().height() +
                               statusBar()->sizeHint().height() + barHeight);
        const QSize avail =
            (screen->availableGeometry().size() - around - QSize(dockedWidth(), 0)).expandedTo(QSize(200, 150));
        room = room.boundedTo(avail);
        // A picture cut one way brings a scroll bar across the other: room for that bar too,
        // where the screen has it, so that the picture is not cut both ways.
        const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_scrollArea);
        if (room.height() < picture.height())
            room.setWidth(std::min(picture.width() + scrollBar, avail.width()));
        if (room.width() < picture.width())
            room.setHeight(std::min(picture.height() + scrollBar, avail.height()));
    }
    m_scrollArea->setMinimumSize(room);
    m_scrollArea->setMaximumSize(room.expandedTo(picture));
    fitWindowLater();
}

void MainWindow::showEvent(QShowEvent* pe)
{
    QMainWindow::showEvent(pe);
    // The window manager's frame may be known now: the picture takes the room it really leaves.
    if (!pe->spontaneous())
        QTimer::singleShot(0, this, &MainWindow::fitPicture);
}

void MainWindow::fitWindowLater()
{
    // A smaller picture than before, or a panel gone: the window fits what is left.
    if (isVisible())
        QTimer::singleShot(0, this, [this] {
            mainLayout->activate();
            layout()->activate();
            QSize size = sizeHint().expandedTo(minimumSizeHint());
            const QScreen* screen = this->screen();
            if (!screen) {
                resize(size);
                return;
            }
            // Whole on the screen: no larger than it, and moved back from its edges.
            const QRect avail = screen->availableGeometry();
            const QSize frame = frameGeometry().size() - geometry().size();
            size = size.boundedTo(avail.size() - frame);
            resize(size);
            QRect outer(frameGeometry().topLeft(), size + frame);
            if (outer.right() > avail.right())
                outer.moveRight(avail.right());
            if (outer.bottom() > avail.bottom())
                outer.moveBottom(avail.bottom());
            outer.moveLeft(std::max(outer.left(), avail.left()));
            outer.moveTop(std::max(outer.top(), avail.top()));
            if (outer.topLeft() != frameGeometry().topLeft())
                move(outer.topLeft());
        });
}

int MainWindow::dockedWidth() const
{
    // Panels docked on one side stack, so that side takes its widest; a separator each.
    int width[2] = {0, 0};
    for (const QDockWidget* dock : findChildren<QDockWidget*>()) {
        if (dock->isHidden() || dock->isFloating())
            continue;
        const int side = dockWidgetArea(const_cast<QDockWidget*>(dock)) == Qt::LeftDockWidgetArea ? 0 : 1;
        const int separator = style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, this);
        // The panel's own width: a panel widened to fill the screen gives that room back.
        const int w = dock->sizeHint().expandedTo(dock->minimumSizeHint()).width();
        width[side] = std::max(width[side], w + separator);
    }
    return width[0] + width[1];
}

void MainWindow::createStatusBar()
{
    m_prompter.say(tr("Ready"));
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

    m_openAct = new QAction(tr("&Open..."), this);
    m_openAct->setShortcut(QKeySequence::Open);
    m_openAct->setStatusTip(tr("Open a scene file of either format"));
    connect(m_openAct, &QAction::triggered, this, [this] {
        const QString name = m_prompter.askFileName(false, tr(kSceneFilter));
        if (!name.isEmpty())
            openInteractively(name);
    });
    m_saveAct = new QAction(tr("&Save"), this);
    m_saveAct->setShortcut(QKeySequence::Save);
    m_saveAct->setStatusTip(tr("Save the scene in the file it came from, in its format"));
    connect(m_saveAct, &QAction::triggered, this, &MainWindow::saveOpenFile);
    m_exportAct = new QAction(tr("&Export Picture..."), this);
    m_exportAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_exportAct->setStatusTip(tr("Render the picture at any size, supersampled, and write it as PNG, JPEG, BMP or PPM"));
    connect(m_exportAct, &QAction::triggered, this, [this] { m_exporter->exportPicture(m_scene, isBlurred()); });
    m_copyAct = new QAction(tr("&Copy Picture"), this);
    m_copyAct->setShortcut(QKeySequence::Copy);
    m_copyAct->setStatusTip(tr("Put the picture on screen on the clipboard"));
    connect(m_copyAct, &QAction::triggered, this, &MainWindow::copyPicture);
    m_undoAct = m_undoStack->createUndoAction(this, tr("&Undo"));
    m_undoAct->setShortcut(QKeySequence::Undo);
    m_redoAct = m_undoStack->createRedoAction(this, tr("&Redo"));
    m_redoAct->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    m_stopAct = new QAction(tr("&Stop Rendering"), this);
    m_stopAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    m_stopAct->setStatusTip(tr("Stop the picture or export on its way; the picture on screen stays"));
    connect(m_stopAct, &QAction::triggered, this, &MainWindow::stopRendering);

    m_keysAct = new QAction(tr("&Keys and Mouse"), this);
    m_keysAct->setShortcut(QKeySequence(Qt::Key_F1));
    m_keysAct->setStatusTip(tr("List what each key and the mouse do"));
    connect(m_keysAct, &QAction::triggered, this, &MainWindow::showKeys);
    m_aboutAct = new QAction(tr("&About Lumivex"), this);
    m_aboutAct->setStatusTip(tr("Show the program's version"));
    connect(m_aboutAct, &QAction::triggered, this,
            [this] { QMessageBox::about(this, tr("About Lumivex"), aboutText()); });
}

void MainWindow::createMenus()
{
    // Every menu is built here, in the order of the menu bar.
    fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->addAction(m_openAct);
    m_recentMenu = fileMenu->addMenu(tr("Open &Recent"));
    rebuildRecentMenu();
    fileMenu->addAction(m_saveAct);
    fileMenu->addAction(m_exportAct);
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
    edit->addAction(m_undoAct);
    edit->addAction(m_redoAct);
    edit->addSeparator();
    edit->addAction(m_copyAct);

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->addActions(m_panelActions);
    viewMenu->addSeparator();
    viewMenu->addAction(m_stopAct);

    const AnimationControls::Actions& keyActions = m_animation->actions();
    QMenu* animationMenu = menuBar()->addMenu(tr("&Animation"));
    animationMenu->addAction(keyActions.addKey);
    animationMenu->addSeparator();
    animationMenu->addAction(keyActions.open);
    animationMenu->addAction(keyActions.save);
    animationMenu->addSeparator();
    animationMenu->addAction(keyActions.smooth);
    animationMenu->addAction(keyActions.play);
    animationMenu->addAction(keyActions.render);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(m_keysAct);
    help->addAction(m_aboutAct);
    fileMenu = menuBar()->actions().first()->menu();
}

void MainWindow::showSceneValues()
{
    m_panel->showScene(m_scene);
    m_statusArea->setCamera(m_scene.CamPos);
    m_statusArea->setPictureSize(m_scene.Wid, m_scene.Hey);
}

void MainWindow::refresh(const QString& message, bool persistent)
{
    m_animation->stopPreview();
    showSceneValues();
    m_statusArea->setStopped(false);
    m_jobs->render(m_scene, message, persistent);
}

void MainWindow::renderPreview()
{
    m_animation->stopPreview();
    showSceneValues();
    m_statusArea->setStopped(false);
    m_jobs->preview(m_scene);
}

void MainWindow::onPictureShown(const QImage& display, bool blurred, const QString& message, bool persistent,
                                double seconds)
{
    // A preview keeps the picture area until it stops.
    if (!m_animation->isPreviewing())
        m_view->setPicture(display);
    if (!blurred) {
        m_statusArea->setRenderTime(seconds);
        m_animation->setPictureSeconds(seconds);
    }
    m_statusArea->setBlurred(blurred);
    m_statusArea->setStopped(false);
    m_copyAct->setEnabled(true);
    if (!message.isEmpty())
        statusBar()->showMessage(message, persistent ? 0 : Prompter::kPassingMs);
    // A copy asked for while this picture was on its way takes it, once no blur follows.
    if (m_copyPending && !m_jobs->inFlight()) {
        m_copyPending = false;
        copyPicture();
    }
}

void MainWindow::onStandIn(const QImage& display, bool coarse)
{
    // A preview that comes after the drag has ended is out of date.
    if ((!coarse && !m_dragging) || m_animation->isPreviewing())
        return;
    m_view->setStandIn(display);
    m_statusArea->setBlurred(false);
}

void MainWindow::onPictureFailed()
{
    m_copyPending = false;
    m_prompter.say(tr("Error"));
    // The last picture stays on screen.
    if (!m_animation->isPreviewing() && !m_jobs->display().isNull() && m_view->shown().cacheKey() != m_jobs->display().cacheKey()) {
        m_view->setPicture(m_jobs->display());
        fitPicture();
    }
}

void MainWindow::updateProgress()
{
    const bool busy = m_jobs->busy();
    if (busy && m_jobs->runningMs() > Prompter::kProgressAfterMs) {
        m_progressBar->setValue(int(m_jobs->progress() * 100));
        if (m_progressBar->isHidden()) {
            m_progressBar->show();
            setCursor(Qt::BusyCursor);
        }
        return;
    }
    if (!busy) {
        m_progressTimer->stop();
        if (!m_progressBar->isHidden()) {
            m_progressBar->hide();
            unsetCursor();
        }
    }
}

void MainWindow::stopRendering()
{
    // An export says it was cancelled once it has stopped.
    m_exporter->stop();
    if (!m_jobs->busy())
        return;
    m_jobs->stop();
    m_copyPending = false;
    // What stays on screen (a coarse first picture, a drag's preview, an older camera's picture)
    // is not this camera's finished picture: the status area says so until the next one.
    m_statusArea->setStopped(!m_jobs->upToDate() || m_view->showsStandIn());
    m_prompter.flash(tr("Rendering stopped"));
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
        m_jobs->blur(m_scene, tr("AntiAliasing Made"));
        return;
    case Qt::Key_Escape:
        // Closing drops the render this key would start; its message still shows.
        close();
        m_jobs->forgetBlur();
        m_prompter.flash(tr("Made"));
        return;
    default:
        break;
    }
    recordChange(before, tr("Move Camera"), true);
    refresh(tr("Made"));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Wheel && watched == m_scrollArea->viewport()) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    if (type == QEvent::Wheel && qobject_cast<QDockWidget*>(watched)) {
        event->accept();
        return true;
    }
    // Escape leaves the menu bar's keyboard mode but may leave it the focus: a key that opens no
    // menu there is the camera's again, as Escape is the window's.
    if (type == QEvent::KeyPress && watched == menuBar() && !menuBar()->activeAction() &&
        !shortcutKeyOnly(static_cast<QKeyEvent*>(event))) {
        takeKeys();
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::takeKeys()
{
    window->setFocus(Qt::OtherFocusReason);
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
    m_dragging = true;
    m_dragMoved = false;
    m_dragStart = m_scene;
}

void MainWindow::mouseMoveEvent(QMouseEvent* pe)
{
    // Every move adds the whole way from the press point; the picture follows at reduced size.
    const QPoint pos = pe->position().toPoint();
    moveAxis(m_scene.CamPos.Y, (pos.y() - ptrMousePosition.y()) / kMouseDivisor / m_scene.Hey);
    moveAxis(m_scene.CamPos.X, (pos.x() - ptrMousePosition.x()) / kMouseDivisor / m_scene.Wid);
    m_dragMoved = true;
    if (m_dragging)
        renderPreview();
}

void MainWindow::mouseReleaseEvent(QMouseEvent* pe)
{
    const QPoint pos = pe->position().toPoint();
    m_dragging = false;
    if (m_dragMoved)
        recordChange(m_dragStart, tr("Move Camera"), true);
    if (pos != ptrMousePosition)
        refresh(tr("Translated"));
    else if (m_dragMoved)
        // Back at the press point: no message, but no preview may stay on screen.
        refresh(QString());
    m_dragMoved = false;
    ptrMousePosition = pos;
}

void MainWindow::exit()
{
    if (!m_animation->mayClose())
        return;
    m_closeAgreed = true;
    QMessageBox box;
    box.setWindowTitle("Exit");
    box.setText("Thank you for using my Program)) Goodbye!!");
    box.exec();
    close();
    m_closeAgreed = false;
}

void MainWindow::announce(const QString& text)
{
    QMessageBox msgBox;
    msgBox.setWindowTitle("Message");
    msgBox.setText(text);
    msgBox.exec();
}

bool MainWindow::Serializing(Serializer* Serial, const QString& fileName, QString* why)
{
    if (Serial->readWrite)
        return saveScene(*Serial, fileName, m_scene, why);
    return loadScene(*Serial, fileName, m_scene, why);
}

void MainWindow::saveWith(Serializer& serial, const char* done)
{
    m_jobs->forgetBlur();
    const QString name = m_prompter.askFileName(true, tr(serial.format ? kXmlFilter : kBinFilter));
    if (name.isEmpty())
        return;
    QString why;
    if (!Serializing(&serial, name, &why)) {
        m_prompter.fail(why);
        return;
    }
    m_prompter.say(tr(done));
    setOpenFile(name, serial.format ? SceneFormat::Xml : SceneFormat::Bin);
}

void MainWindow::loadWith(Serializer& serial, const char* done)
{
    m_jobs->forgetBlur();
    const QString name = m_prompter.askFileName(false, tr(serial.format ? kXmlFilter : kBinFilter));
    if (name.isEmpty())
        return;
    const Scene before = m_scene;
    QString why;
    if (!Serializing(&serial, name, &why)) {
        m_prompter.fail(why);
        return;
    }
    if (takeLoaded(before, tr(done), tr("Load")))
        setOpenFile(name, serial.format ? SceneFormat::Xml : SceneFormat::Bin);
}

void MainWindow::saveOpenFile()
{
    if (m_openFileName.isEmpty()) {
        SerializeInXml();
        return;
    }
    XMLS xml;
    BinS bin;
    const bool isXml = m_openFormat == SceneFormat::Xml;
    QString why;
    if (!Serializing(isXml ? static_cast<Serializer*>(&xml) : &bin, m_openFileName, &why)) {
        m_prompter.fail(why);
        return;
    }
    m_prompter.say(isXml ? tr("Serialized in XML") : tr("Serialized in Bin"));
    rememberRecent(m_openFileName);
}

bool MainWindow::takeLoaded(const Scene& before, const QString& loaded, const QString& undoText)
{
    if (!roomForPicture(m_scene.Wid, m_scene.Hey)) {
        m_scene = before;
        m_prompter.say(tr("Error"));
        return false;
    }
    resizePicture();
    m_prompter.say(loaded);
    recordChange(before, undoText, false);
    refresh(tr("RayTraced"), true);
    return true;
}

void MainWindow::setOpenFile(const QString& fileName, SceneFormat format)
{
    m_openFileName = QFileInfo(fileName).absoluteFilePath();
    m_openFormat = format;
    setWindowFilePath(m_openFileName);
    setWindowTitle(QFileInfo(m_openFileName).fileName() + " — Lumivex");
    rememberRecent(m_openFileName);
}

bool MainWindow::openFile(const QString& fileName, QString* why)
{
    const Scene before = m_scene;
    SceneFormat format;
    if (!loadSceneFile(fileName, m_scene, &format, why)) {
        m_prompter.say(tr("Error"));
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
        m_prompter.say(tr("Error"));
        return;
    }
    m_scene = newScene;
    resizePicture();
    refresh(tr("Made"));
}

void MainWindow::recordChange(const Scene& before, const QString& text, bool cameraMove)
{
    if (!SceneChange::sameScene(before, m_scene))
        m_undoStack->push(new SceneChange([this](const Scene& s) { applyScene(s); }, before, m_scene, text, cameraMove,
                                        m_clock()));
}

void MainWindow::openInteractively(const QString& fileName)
{
    QString why;
    if (!openFile(fileName, &why))
        m_prompter.warn(why);
}

void MainWindow::rememberRecent(const QString& fileName)
{
    RecentFiles::remember(fileName);
    rebuildRecentMenu();
}

void MainWindow::rebuildRecentMenu()
{
    m_recentMenu->clear();
    const QStringList files = RecentFiles::list();
    for (const QString& f : files)
        connect(m_recentMenu->addAction(QFileInfo(f).fileName()), &QAction::triggered, this,
                [this, f] { openInteractively(f); });
    m_recentMenu->setEnabled(!files.isEmpty());
}

void MainWindow::copyPicture()
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
    QGuiApplication::clipboard()->setImage(picture());
    m_prompter.flash(tr("Picture copied"));
}

void MainWindow::showKeys()
{
    if (!m_keysDialog) {
        // The menus' shortcuts in menu order; undo and redo by their plain names, as their menu
        // texts name the step they would undo.
        QList<QPair<QKeySequence, QString>> shortcuts;
        for (const QAction* menu : menuBar()->actions())
            if (menu->menu())
                for (const QAction* a : menu->menu()->actions())
                    if (!a->shortcut().isEmpty())
                        shortcuts.append({a->shortcut(), a == m_undoAct   ? tr("Undo")
                                                         : a == m_redoAct ? tr("Redo")
                                                                        : a->iconText()});
        m_keysDialog = createKeysDialog(this, shortcuts);
    }
    m_keysDialog->show();
    m_keysDialog->raise();
    m_keysDialog->activateWindow();
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
    if (!m_stopAct)
        return; // still building
    m_stopAct->setEnabled(m_jobs->busy() || m_exporter->isRunning());
    m_exportAct->setEnabled(!m_exporter->isRunning());
}

void MainWindow::endLongWork()
{
    m_exporter->stop();
    m_animation->stopAnimation();
    if (!LongTask::waitForWorkers(kCloseWaitMs))
        std::fprintf(stderr, "lumivex: an export or animation did not stop in time\n");
}
