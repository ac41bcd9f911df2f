#include "app/mainwindow.h"

#include <QAction>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QVBoxLayout>

#include "picture/blur.h"
#include "render/distancefield.h"
#include "render/lighting.h"
#include "render/tracer.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

namespace {

constexpr int kPassingMessageMs = 2000;
// One key or wheel step along an axis.
constexpr double kStep = 0.1;
constexpr double kMouseDivisor = 3.0;

// Adds `delta` in double and stores the sum rounded to float, as every camera move does.
void moveAxis(float& component, double delta)
{
    component = static_cast<float>(static_cast<double>(component) + delta);
}

} // namespace

MainWindow::MainWindow()
{
    window = new QWidget;
    scene = Scene::builtIn();
    labelIm = new QLabel;
    image = new QPixmap(scene.Wid, scene.Hey);
    curImage = new QImage(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    Paint();
    statusBar()->showMessage(tr("Rayed"), kPassingMessageMs);

    mainLayout = new QVBoxLayout;
    // The window cannot shrink below the picture.
    mainLayout->setSizeConstraint(QLayout::SetMinimumSize);
    labelIm->setPixmap(*image);
    mainLayout->addWidget(labelIm);
    window->setLayout(mainLayout);
    setCentralWidget(window);

    createActions();
    createMenus();
    createStatusBar();
    setUnifiedTitleAndToolBarOnMac(true);
}

MainWindow::~MainWindow()
{
    delete image;
    delete curImage;
    // The widgets belong to the window's object tree, which frees them.
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
}

void MainWindow::createMenus()
{
    fileMenu = menuBar()->addMenu(tr("&File"));
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
}

void MainWindow::Paint()
{
    renderInto(scene, *curImage);
    image->convertFromImage(*curImage, Qt::AutoColor);
    // The label keeps its own copy of a pixmap, so it is handed the new one.
    labelIm->setPixmap(*image);
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

void MainWindow::refresh(const QString& message)
{
    Paint();
    AntiAl = false;
    repaint();
    statusBar()->showMessage(message, kPassingMessageMs);
}

void MainWindow::keyPressEvent(QKeyEvent* pe)
{
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
    case Qt::Key_Q:
        AntiAliasing();
        AntiAl = true;
        return;
    case Qt::Key_Escape:
        close();
        break;
    default:
        break;
    }
    refresh(tr("Made"));
}

void MainWindow::wheelEvent(QWheelEvent* pe)
{
    // A horizontal wheel counts when there is no vertical turn.
    int delta = pe->angleDelta().y();
    if (delta == 0)
        delta = pe->angleDelta().x();
    if (delta > 0)
        moveAxis(scene.CamPos.Z, -kStep);
    else if (delta < 0)
        moveAxis(scene.CamPos.Z, kStep);
    refresh(tr("Zoomed"));
}

void MainWindow::mousePressEvent(QMouseEvent* pe)
{
    ptrMousePosition = pe->position().toPoint();
}

void MainWindow::mouseMoveEvent(QMouseEvent* pe)
{
    // Every move adds the whole way from the press point; the render waits for the release.
    const QPoint pos = pe->position().toPoint();
    moveAxis(scene.CamPos.Y, (pos.y() - ptrMousePosition.y()) / kMouseDivisor / scene.Hey);
    moveAxis(scene.CamPos.X, (pos.x() - ptrMousePosition.x()) / kMouseDivisor / scene.Wid);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* pe)
{
    const QPoint pos = pe->position().toPoint();
    if (pos != ptrMousePosition)
        refresh(tr("Translated"));
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

QString MainWindow::askFileName(bool forSaving)
{
    if (fileNameAsker)
        return fileNameAsker(forSaving);
    return forSaving ? QFileDialog::getSaveFileName(this) : QFileDialog::getOpenFileName(this);
}

bool MainWindow::Serializing(Serializer* Serial, const QString& fileName)
{
    if (Serial->readWrite)
        return saveScene(*Serial, fileName, scene);
    return loadScene(*Serial, fileName, scene);
}

void MainWindow::rebuildPicture()
{
    delete image;
    delete curImage;
    image = new QPixmap(scene.Wid, scene.Hey);
    curImage = new QImage(scene.Wid, scene.Hey, QImage::Format_ARGB32);
    labelIm->setPixmap(*image);
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
    if (!Serializing(&serial, name)) {
        statusBar()->showMessage(tr("Error"));
        return;
    }
    statusBar()->showMessage(tr(done));
    rebuildPicture();
    Paint();
    repaint();
    statusBar()->showMessage(tr("RayTraced"));
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
