#include "app/mainwindow.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "app/scenepanel.h"
#include "fileio/fileaccess.h"
#include "picture/blur.h"
#include "picture/picturefile.h"
#include "render/background.h"
#include "render/distancefield.h"
#include "render/lighting.h"
#include "render/tracer.h"
#include "serial/binserial.h"
#include "serial/scenefile.h"
#include "serial/xmlserial.h"

namespace {

constexpr int kPassingMessageMs = 2000;
// One key or wheel step along an axis.
constexpr double kStep = 0.1;
constexpr double kMouseDivisor = 3.0;
// Work that takes longer than this shows a progress bar and a busy cursor.
constexpr int kProgressAfterMs = 300;
// A drag preview should take no longer than a frame at this rate.
constexpr double kPreviewRate = 30.0;

// Camera moves closer together than this make one step of undo.
constexpr qint64 kMoveBurstMs = 1000;
constexpr int kRecentFiles = 8;
const char* const kSceneFilter = "Scene files (*.xml *.bin *.txt);;XML scene files (*.xml);;Line-format scene files (*.bin *.txt);;All files (*)";
const char* const kPictureFilter = "PNG picture (*.png);;JPEG picture (*.jpg *.jpeg);;BMP picture (*.bmp);;PPM picture (*.ppm)";

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

bool sameScene(const Scene& a, const Scene& b)
{
    // Compared as they would be saved: every field, bit for bit.
    return std::memcmp(&a, &b, sizeof(Scene)) == 0;
}

// Adds `delta` in double and stores the sum rounded to float, as every camera move does.
void moveAxis(float& component, double delta)
{
    component = static_cast<float>(static_cast<double>(component) + delta);
}

} // namespace

// One step of undo: the whole scene before and after a change. The change has been made when
// the command is recorded, so its first redo does nothing.
class SceneChange : public QUndoCommand {
public:
    SceneChange(MainWindow* window, const Scene& before, const Scene& after, const QString& text, bool cameraMove)
        : QUndoCommand(text), m_window(window), m_before(before), m_after(after), m_camera(cameraMove),
          m_when(QDateTime::currentMSecsSinceEpoch())
    {
    }
    int id() const override { return m_camera ? 1 : -1; }
    bool mergeWith(const QUndoCommand* other) override
    {
        const auto* o = static_cast<const SceneChange*>(other);
        if (o->m_when - m_when > kMoveBurstMs)
            return false;
        m_after = o->m_after;
        m_when = o->m_when;
        return true;
    }
    void redo() override
    {
        if (m_fresh) {
            m_fresh = false;
            return;
        }
        m_window->applyScene(m_after);
    }
    void undo() override { m_window->applyScene(m_before); }

private:
    MainWindow* m_window;
    Scene m_before, m_after;
    bool m_camera;
    qint64 m_when;
    bool m_fresh = true;
};

MainWindow::MainWindow()
{
    window = new QWidget;
    scene = Scene::builtIn();
    labelIm = new QLabel;
    image = new QPixmap(scene.Wid, scene.Hey);
    curImage = new QImage(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    // The first picture is there before the window shows.
    Paint();
    statusBar()->showMessage(tr("Rayed"), kPassingMessageMs);

    mainLayout = new QVBoxLayout;
    // The window cannot shrink below the picture (or the screen, where the picture is larger).
    mainLayout->setSizeConstraint(QLayout::SetMinimumSize);
    labelIm->setPixmap(*image);
    scrollArea = new QScrollArea;
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setWidget(labelIm);
    mainLayout->addWidget(scrollArea);
    window->setLayout(mainLayout);
    setCentralWidget(window);

    renderer = new BackgroundRenderer(this);
    connect(renderer, &BackgroundRenderer::finished, this, &MainWindow::showPicture);
    progressBar = new QProgressBar;
    progressBar->setRange(0, 100);
    progressBar->setMaximumWidth(200);
    progressBar->hide();
    statusBar()->addPermanentWidget(progressBar);
    progressTimer = new QTimer(this);
    progressTimer->setInterval(100);
    connect(progressTimer, &QTimer::timeout, this, &MainWindow::updateProgress);

    undoStack = new QUndoStack(this);
    panel = new ScenePanel;
    panel->showScene(scene);
    connect(panel, &ScenePanel::edited, this, [this](const Scene& edited) {
        const Scene before = scene;
        applyScene(edited);
        recordChange(before, tr("Edit Scene"), false);
    });
    panelDock = new QDockWidget(tr("Scene"), this);
    panelDock->setObjectName("scenePanel");
    panelDock->setWidget(panel);
    addDockWidget(Qt::RightDockWidgetArea, panelDock);
    // Hidden at start: the window looks as it always has.
    panelDock->hide();
    setAcceptDrops(true);

    createActions();
    createMenus();
    createStatusBar();
    setUnifiedTitleAndToolBarOnMac(true);
    // With the menus in place, so that their height is known.
    fitPicture();
}

MainWindow::~MainWindow()
{
    // No worker may still write into a picture of this window.
    renderer->stopAll();
    delete image;
    delete curImage;
    // The widgets belong to the window's object tree, which frees them.
}

bool MainWindow::isRendering() const
{
    return renderer->busy();
}

void MainWindow::closeEvent(QCloseEvent* pe)
{
    renderer->stopAll();
    jobs.clear();
    updateProgress();
    QMainWindow::closeEvent(pe);
}

void MainWindow::fitPicture()
{
    const QSize picture(scene.Wid, scene.Hey);
    labelIm->resize(picture);
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
    // A smaller picture than before: the window fits it again, once the layout has caught up.
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
    exportAct = new QAction(tr("&Export Picture..."), this);
    exportAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportAct->setStatusTip(tr("Write the picture on screen as PNG, JPEG, BMP or PPM"));
    connect(exportAct, &QAction::triggered, this, &MainWindow::exportPicture);
    copyAct = new QAction(tr("&Copy Picture"), this);
    copyAct->setShortcut(QKeySequence::Copy);
    copyAct->setStatusTip(tr("Put the picture on screen on the clipboard"));
    connect(copyAct, &QAction::triggered, this, &MainWindow::copyPicture);
    undoAct = undoStack->createUndoAction(this, tr("&Undo"));
    undoAct->setShortcut(QKeySequence::Undo);
    redoAct = undoStack->createRedoAction(this, tr("&Redo"));
    redoAct->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    QAction* panelAct = panelDock->toggleViewAction();
    panelAct->setText(tr("Scene &Panel"));
    panelAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    panelAct->setStatusTip(tr("Show or hide the scene's values"));
}

void MainWindow::createMenus()
{
    fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->addAction(openAct);
    recentMenu = fileMenu->addMenu(tr("Open &Recent"));
    rebuildRecentMenu();
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
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(panelDock->toggleViewAction());
    fileMenu = menuBar()->actions().first()->menu();
}

void MainWindow::Paint()
{
    renderInto(scene, *curImage);
    image->convertFromImage(*curImage, Qt::AutoColor);
    // The label keeps its own copy of a pixmap, so it is handed the new one.
    labelIm->setPixmap(*image);
    shownSerial = serial;
}

void MainWindow::AntiAliasing()
{
    if (AntiAl)
        return;
    *curImage = blurImage(*curImage);
    image->convertFromImage(*curImage, Qt::AutoColor);
    labelIm->setPixmap(*image);
    statusBar()->showMessage(tr("AntiAliasing Made"), kPassingMessageMs);
    repaint();
}

void MainWindow::wash(QImage* Temp, int koef1, int koef2, int N, double* wind, bool a)
{
    ::wash(*curImage, Temp, koef1, koef2, N, wind, a);
}

float MainWindow::countMinDist(Vector3D temp, int* numObj, bool b1, bool b2, bool b3, bool b4, bool b5) const
{
    return ::countMinDist(scene, temp, numObj, b1, b2, b3, b4, b5);
}

Vector3D MainWindow::countLites(Vector3D Dist, Vector3D Color, Vector3D SpeColor, Light Light0) const
{
    return ::countLites(Dist, Color, SpeColor, Light0);
}

void MainWindow::submit(const JobPurpose& purpose, const Scene& s, const QImage& source, bool blur)
{
    const quint64 tag = nextTag++;
    jobs.insert(tag, purpose);
    PictureJob job;
    job.scene = s;
    job.source = source;
    job.blur = blur;
    job.tag = tag;
    // A running job is out of date unless it renders this very version (a blur waits for it).
    const auto running = jobs.constFind(renderer->runningTag());
    const bool stillWanted = running != jobs.constEnd() && running->serial == purpose.serial && !running->preview;
    renderer->submit(job, stillWanted);
    if (!progressTimer->isActive())
        progressTimer->start();
}

void MainWindow::refresh(const QString& message, bool persistent)
{
    panel->showScene(scene);
    AntiAl = false;
    blurAfter = 0;
    ++serial;
    JobPurpose p;
    p.serial = serial;
    p.message = message;
    p.persistent = persistent;
    fullPending = serial;
    submit(p, scene, QImage(), false);
}

MainWindow::JobPurpose MainWindow::blurPurpose() const
{
    JobPurpose b;
    b.serial = serial;
    b.blurred = true;
    b.message = tr("AntiAliasing Made");
    return b;
}

void MainWindow::renderPreview()
{
    panel->showScene(scene);
    ++serial;
    // Reduced so that a preview takes about a frame of kPreviewRate.
    const int divisor = lastRenderSeconds * kPreviewRate > 1 ? int(std::ceil(std::sqrt(lastRenderSeconds * kPreviewRate))) : 1;
    Scene s = scene;
    s.Wid = std::max(1, scene.Wid / divisor);
    s.Hey = std::max(1, scene.Hey / divisor);
    JobPurpose p;
    p.serial = serial;
    p.preview = true;
    submit(p, s, QImage(), false);
}

void MainWindow::showPicture(quint64 tag, const QImage& picture, const QImage& display, double seconds)
{
    const JobPurpose p = jobs.take(tag);
    updateProgress();
    if (p.serial != serial)
        return; // a newer request is on its way
    if (picture.isNull()) {
        statusBar()->showMessage(tr("Error"));
        return;
    }
    if (p.preview) {
        if (dragging)
            labelIm->setPixmap(QPixmap::fromImage(
                picture.size() == curImage->size() ? picture : picture.scaled(curImage->size())));
        return;
    }
    if (!p.blurred) {
        lastRenderSeconds = seconds;
        fullPending = 0;
    }
    *curImage = picture;
    // The same pixels, already in the pixmap's own format: taken over without a copy.
    *image = QPixmap::fromImage(QImage(display));
    labelIm->setPixmap(*image);
    shownSerial = serial;
    if (!p.message.isEmpty())
        statusBar()->showMessage(p.message, p.persistent ? 0 : kPassingMessageMs);
    if (!p.blurred && blurAfter == serial) {
        // A Q pressed while this picture was on its way blurs it now.
        blurAfter = 0;
        submit(blurPurpose(), scene, *curImage, true);
    }
}

void MainWindow::updateProgress()
{
    const bool busy = renderer->busy();
    if (busy && renderer->runningMs() > kProgressAfterMs) {
        progressBar->setValue(int(renderer->progress() * 100));
        if (!progressBar->isVisible()) {
            progressBar->show();
            setCursor(Qt::BusyCursor);
        }
        return;
    }
    if (!busy) {
        progressTimer->stop();
        if (progressBar->isVisible()) {
            progressBar->hide();
            unsetCursor();
        }
    }
}

void MainWindow::keyPressEvent(QKeyEvent* pe)
{
    const Scene before = scene;
    switch (pe->key()) {
    case Qt::Key_A:
        moveAxis(scene.CamPos.X, -kStep);
        break;
    case Qt::Key_D:
        moveAxis(scene.CamPos.X, kStep);
        break;
    case Qt::Key_W:
        moveAxis(scene.CamPos.Y, -kStep);
        break;
    case Qt::Key_S:
        moveAxis(scene.CamPos.Y, kStep);
        break;
    case Qt::Key_Z:
        moveAxis(scene.CamPos.Z, -kStep);
        break;
    case Qt::Key_X:
        moveAxis(scene.CamPos.Z, kStep);
        break;
    case Qt::Key_Q: {
        if (AntiAl)
            return;
        AntiAl = true;
        if (fullPending != 0 && fullPending == serial) {
            // Blur the picture of this camera once it is there.
            blurAfter = serial;
            return;
        }
        if (shownSerial == serial) {
            submit(blurPurpose(), scene, *curImage, true);
        } else {
            // The camera moved without a full picture (a drag): render it, then blur.
            fullPending = serial;
            submit(blurPurpose(), scene, QImage(), true);
        }
        return;
    }
    case Qt::Key_Escape:
        // Closing drops the render this key would start; its message still shows.
        close();
        AntiAl = false;
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
    const Scene before = scene;
    // A horizontal wheel counts when there is no vertical turn.
    int delta = pe->angleDelta().y();
    if (delta == 0)
        delta = pe->angleDelta().x();
    if (delta > 0)
        moveAxis(scene.CamPos.Z, -kStep);
    else if (delta < 0)
        moveAxis(scene.CamPos.Z, kStep);
    recordChange(before, tr("Move Camera"), true);
    refresh(tr("Zoomed"));
}

void MainWindow::mousePressEvent(QMouseEvent* pe)
{
    ptrMousePosition = pe->position().toPoint();
    dragging = true;
    dragMoved = false;
    dragStart = scene;
}

void MainWindow::mouseMoveEvent(QMouseEvent* pe)
{
    // Every move adds the whole way from the press point; the picture follows at reduced size.
    const QPoint pos = pe->position().toPoint();
    moveAxis(scene.CamPos.Y, (pos.y() - ptrMousePosition.y()) / kMouseDivisor / scene.Hey);
    moveAxis(scene.CamPos.X, (pos.x() - ptrMousePosition.x()) / kMouseDivisor / scene.Wid);
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

QString MainWindow::askFileName(bool forSaving, const QString& filter)
{
    if (fileNameAsker)
        return fileNameAsker(forSaving);
    return forSaving ? QFileDialog::getSaveFileName(this, QString(), QString(), filter)
                     : QFileDialog::getOpenFileName(this, QString(), QString(), filter);
}

bool MainWindow::Serializing(Serializer* Serial, const QString& fileName)
{
    if (Serial->readWrite)
        return saveScene(*Serial, fileName, scene);
    return loadScene(*Serial, fileName, scene);
}

bool MainWindow::rebuildPicture()
{
    // Made before the old ones go: without the memory for them, the window keeps what it had.
    auto fresh = std::make_unique<QImage>(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    if (fresh->isNull())
        return false;
    auto pixmap = std::make_unique<QPixmap>(scene.Wid, scene.Hey);
    if (pixmap->isNull())
        return false;
    delete image;
    delete curImage;
    image = pixmap.release();
    curImage = fresh.release();
    // Black until the new picture is there.
    curImage->fill(Qt::black);
    image->fill(Qt::black);
    labelIm->setPixmap(*image);
    fitPicture();
    return true;
}

void MainWindow::save(Serializer& serial, const char* done)
{
    AntiAl = false;
    const QString name = askFileName(true);
    if (name.isEmpty())
        return;
    statusBar()->showMessage(Serializing(&serial, name) ? tr(done) : tr("Error"));
}

void MainWindow::load(Serializer& serial, const char* done)
{
    AntiAl = false;
    const QString name = askFileName(false);
    if (name.isEmpty())
        return;
    const Scene before = scene;
    if (!Serializing(&serial, name)) {
        statusBar()->showMessage(tr("Error"));
        return;
    }
    takeLoaded(before, tr(done), tr("Load"));
}

bool MainWindow::takeLoaded(const Scene& before, const QString& loaded, const QString& undoText)
{
    if (!rebuildPicture()) {
        scene = before;
        statusBar()->showMessage(tr("Error"));
        return false;
    }
    statusBar()->showMessage(loaded);
    recordChange(before, undoText, false);
    refresh(tr("RayTraced"), true);
    return true;
}

bool MainWindow::openFile(const QString& fileName, QString* why)
{
    const Scene before = scene;
    SceneFormat format;
    if (!loadSceneFile(fileName, scene, &format, why)) {
        statusBar()->showMessage(tr("Error"));
        return false;
    }
    const QString noRoom = tr("not enough memory for a %1 x %2 picture").arg(scene.Wid).arg(scene.Hey);
    if (!takeLoaded(before, format == SceneFormat::Xml ? tr("Loaded from Xml") : tr("Loaded from Bin"), tr("Open"))) {
        if (why)
            *why = noRoom;
        return false;
    }
    rememberRecent(fileName);
    return true;
}

void MainWindow::applyScene(const Scene& newScene)
{
    const bool resized = newScene.Wid != scene.Wid || newScene.Hey != scene.Hey;
    const Scene before = scene;
    scene = newScene;
    if (resized && !rebuildPicture()) {
        scene = before;
        panel->showScene(scene);
        statusBar()->showMessage(tr("Error"));
        return;
    }
    refresh(tr("Made"));
}

void MainWindow::recordChange(const Scene& before, const QString& text, bool cameraMove)
{
    if (!sameScene(before, scene))
        undoStack->push(new SceneChange(this, before, scene, text, cameraMove));
}

void MainWindow::openInteractively(const QString& fileName)
{
    QString why;
    if (!openFile(fileName, &why))
        QMessageBox::warning(this, "Lumivex", why);
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
    const QString name = askFileName(true, tr(kPictureFilter));
    if (name.isEmpty())
        return;
    QString why;
    if (!writePicture(*curImage, name, why)) {
        statusBar()->showMessage(tr("Error"));
        QMessageBox::warning(this, "Lumivex", why);
        return;
    }
    statusBar()->showMessage(tr("Picture exported"), kPassingMessageMs);
}

void MainWindow::copyPicture()
{
    QGuiApplication::clipboard()->setImage(*curImage);
    statusBar()->showMessage(tr("Picture copied"), kPassingMessageMs);
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
    save(Serial, "Serialized in XML");
}

void MainWindow::SerializeInBin()
{
    BinS Serial;
    announce("Input file name for writing in Binary format in");
    save(Serial, "Serialized in Bin");
}

void MainWindow::LoadFromXml()
{
    XMLL Serial;
    announce("Input file name for reading in XML format from");
    load(Serial, "Loaded from Xml");
}

void MainWindow::LoadFromBin()
{
    BinL Serial;
    announce("Input file name for reading in Binary format from");
    load(Serial, "Loaded from Bin");
}
