#include "window/mainwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollArea>
#include <QShowEvent>
#include <QStatusBar>
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
#include "jobs/camerainput.h"
#include "jobs/picturejobs.h"
#include "window/picturescreen.h"
#include "window/pictureview.h"
#include "jobs/scenechange.h"
#include "window/scenefiles.h"
#include "window/scenepanel.h"
#include "window/screenfit.h"
#include "window/statusarea.h"
#include "render/tracer.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

namespace {

// Closing the window waits this long at most for an export or animation to give up: a video
// left unfinished is removed, and nothing is written after the window has gone.
constexpr int kCloseWaitMs = 5000;

} // namespace

MainWindow::MainWindow()
{
    build();
    // The first picture is there before the window shows.
    const qint64 start = m_clock();
    m_jobs->adopt(::render(m_scene));
    m_screen->showFirst((m_clock() - start) / 1000.0);
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
    m_statusArea = new StatusArea;
    statusBar()->addPermanentWidget(m_statusArea);
    m_statusArea->watch(m_jobs);
    connect(m_jobs, &PictureJobs::busyChanged, this, &MainWindow::updateActions);

    m_undoStack = new QUndoStack(this);
    m_files = new SceneFiles(this, m_scene, m_prompter, [this](const Scene& before, const QString& loaded, const QString& undoText) {
        return takeLoaded(before, loaded, undoText);
    });
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
        m_screen->showKept();
        fitPicture();
    });
    m_screen = new PictureScreen(m_jobs, m_view, m_statusArea, m_animation, m_prompter,
                                 [this] { return m_dragging; }, this);
    connect(m_screen, &PictureScreen::resized, this, &MainWindow::fitPicture);
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

void MainWindow::fitPicture()
{
    fitPictureArea(this, m_scrollArea, m_animation ? m_animation->previewBar() : nullptr);
}

void MainWindow::showEvent(QShowEvent* pe)
{
    QMainWindow::showEvent(pe);
    // The window manager's frame may be known now: the picture takes the room it really leaves.
    if (!pe->spontaneous())
        QTimer::singleShot(0, this, &MainWindow::fitPicture);
}

void MainWindow::createStatusBar()
{
    m_prompter.say(tr("Ready"));
}

void MainWindow::createActions()
{
    const auto make = [this](const QString& text, const QList<QKeySequence>& keys, const QString& tip, auto slot) {
        auto* action = new QAction(text, this);
        action->setShortcuts(keys);
        action->setStatusTip(tip);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    XMLLAct = make(tr("&XML"), {}, tr("Load attributes from XML format"), &MainWindow::LoadFromXml);
    BinLAct = make(tr("&Bin"), {}, tr("Load attributes from Binary format"), &MainWindow::LoadFromBin);
    exitAct = make(tr("E&xit"), QKeySequence::keyBindings(QKeySequence::Quit), tr("Exit Lumivex"), &MainWindow::exit);
    XMLSAct = make(tr("&XML"), {}, tr("Save attributes in XML format"), &MainWindow::SerializeInXml);
    BinSAct = make(tr("&Bin"), {}, tr("Save attributes in Binary format"), &MainWindow::SerializeInBin);

    m_openAct = make(tr("&Open..."), {QKeySequence::Open}, tr("Open a scene file of either format"),
                     [this] { m_files->openAsked(); });
    m_saveAct = make(tr("&Save"), {QKeySequence::Save}, tr("Save the scene in the file it came from, in its format"),
                     &MainWindow::saveOpenFile);
    m_exportAct = make(tr("&Export Picture..."), {QKeySequence(Qt::CTRL | Qt::Key_E)},
                       tr("Render the picture at any size, supersampled, and write it as PNG, JPEG, BMP or PPM"),
                       [this] { m_exporter->exportPicture(m_scene, isBlurred()); });
    m_copyAct = make(tr("&Copy Picture"), {QKeySequence::Copy}, tr("Put the picture on screen on the clipboard"),
                     [this] { m_screen->copy(); });
    connect(m_screen, &PictureScreen::pictureShown, m_copyAct, [this] { m_copyAct->setEnabled(true); });
    m_undoAct = m_undoStack->createUndoAction(this, tr("&Undo"));
    m_undoAct->setShortcut(QKeySequence::Undo);
    m_redoAct = m_undoStack->createRedoAction(this, tr("&Redo"));
    m_redoAct->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    m_stopAct = make(tr("&Stop Rendering"), {QKeySequence(Qt::CTRL | Qt::Key_Period)},
                     tr("Stop the picture or export on its way; the picture on screen stays"), &MainWindow::stopRendering);
    m_keysAct = make(tr("&Keys and Mouse"), {QKeySequence(Qt::Key_F1)}, tr("List what each key and the mouse do"),
                     &MainWindow::showKeys);
    m_aboutAct = make(tr("&About Lumivex"), {}, tr("Show the program's version"),
                      [this] { QMessageBox::about(this, tr("About Lumivex"), aboutText()); });
}

void MainWindow::createMenus()
{
    // Every menu is built here, in the order of the menu bar.
    fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->addAction(m_openAct);
    m_files->setRecentMenu(fileMenu->addMenu(tr("Open &Recent")));
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

    // A null item is a separator.
    const auto menu = [this](const QString& title, const QList<QAction*>& items) {
        QMenu* m = menuBar()->addMenu(title);
        for (QAction* item : items) {
            if (item)
                m->addAction(item);
            else
                m->addSeparator();
        }
    };
    menu(tr("&Edit"), {m_undoAct, m_redoAct, nullptr, m_copyAct});
    menu(tr("&View"), m_panelActions + QList<QAction*>{nullptr, m_stopAct});
    const AnimationControls::Actions& keys = m_animation->actions();
    menu(tr("&Animation"), {keys.addKey, nullptr, keys.open, keys.save, nullptr, keys.smooth, keys.play, keys.render});
    menu(tr("&Help"), {m_keysAct, m_aboutAct});
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
    beforeRender();
    m_jobs->render(m_scene, message, persistent);
}

void MainWindow::renderPreview()
{
    beforeRender();
    m_jobs->preview(m_scene);
}

void MainWindow::beforeRender()
{
    m_animation->stopPreview();
    showSceneValues();
    m_screen->pictureAsked();
}

void MainWindow::stopRendering()
{
    // An export says it was cancelled once it has stopped.
    m_exporter->stop();
    m_screen->stop();
}

void MainWindow::keyPressEvent(QKeyEvent* pe)
{
    const Scene before = m_scene;
    switch (CameraInput::applyKey(pe->key(), pe->modifiers(), m_scene.CamPos)) {
    case CameraInput::KeyAction::Shortcut:
        pe->ignore();
        return;
    case CameraInput::KeyAction::Blur:
        m_jobs->blur(m_scene, tr("AntiAliasing Made"));
        return;
    case CameraInput::KeyAction::Close:
        // Closing drops the render this key would start; its message still shows.
        close();
        m_jobs->forgetBlur();
        m_prompter.flash(tr("Made"));
        return;
    case CameraInput::KeyAction::Render:
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
        !CameraInput::isShortcutKey(static_cast<QKeyEvent*>(event)->key(), static_cast<QKeyEvent*>(event)->modifiers())) {
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
    CameraInput::applyWheel(pe->angleDelta(), m_scene.CamPos);
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
    CameraInput::applyDrag(ptrMousePosition, pos, m_scene.Wid, m_scene.Hey, m_scene.CamPos);
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

bool MainWindow::takeLoaded(const Scene& before, const QString& loaded, const QString& undoText)
{
    if (!PictureScreen::roomForPicture(m_scene.Wid, m_scene.Hey)) {
        m_scene = before;
        m_prompter.say(tr("Error"));
        return false;
    }
    m_screen->makeRoom(QSize(m_scene.Wid, m_scene.Hey));
    m_prompter.say(loaded);
    recordChange(before, undoText, false);
    refresh(tr("RayTraced"), true);
    return true;
}

void MainWindow::applyScene(const Scene& newScene)
{
    if ((newScene.Wid != m_scene.Wid || newScene.Hey != m_scene.Hey) &&
        !PictureScreen::roomForPicture(newScene.Wid, newScene.Hey)) {
        showSceneValues();
        m_prompter.say(tr("Error"));
        return;
    }
    m_scene = newScene;
    m_screen->makeRoom(QSize(m_scene.Wid, m_scene.Hey));
    refresh(tr("Made"));
}

void MainWindow::recordChange(const Scene& before, const QString& text, bool cameraMove)
{
    if (!SceneChange::sameScene(before, m_scene))
        m_undoStack->push(new SceneChange([this](const Scene& s) { applyScene(s); }, before, m_scene, text, cameraMove,
                                        m_clock()));
}

void MainWindow::showKeys()
{
    if (!m_keysDialog)
        m_keysDialog = createKeysDialog(this, menuBar(), {{m_undoAct, tr("Undo")}, {m_redoAct, tr("Redo")}});
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
    m_files->openInteractively(urls.first().toLocalFile());
}

void MainWindow::SerializeInXml()
{
    XMLS Serial;
    m_files->announce("Input file name for writing in XML format in");
    m_jobs->forgetBlur();
    m_files->save(Serial, "Serialized in XML");
}

void MainWindow::SerializeInBin()
{
    BinS Serial;
    m_files->announce("Input file name for writing in Binary format in");
    m_jobs->forgetBlur();
    m_files->save(Serial, "Serialized in Bin");
}

void MainWindow::LoadFromXml()
{
    XMLL Serial;
    m_files->announce("Input file name for reading in XML format from");
    m_jobs->forgetBlur();
    m_files->load(Serial, "Loaded from Xml");
}

void MainWindow::LoadFromBin()
{
    BinL Serial;
    m_files->announce("Input file name for reading in Binary format from");
    m_jobs->forgetBlur();
    m_files->load(Serial, "Loaded from Bin");
}

void MainWindow::saveOpenFile()
{
    if (!m_files->saveOpen())
        SerializeInXml();
}

bool MainWindow::openFile(const QString& fileName, QString* why)
{
    return m_files->open(fileName, why);
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
