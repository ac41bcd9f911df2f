#pragma once

#include <QMainWindow>
#include <QPoint>
#include <functional>

#include "scene/scene.h"

class QAction;
class QLabel;
class QMenu;
class QVBoxLayout;
class Serializer;

// The program's one window: shows the picture of the scene, moves the camera from keys, wheel
// and mouse drags, blurs on Q, and saves or loads the scene from its menus. Rendering, blurring
// and the file formats live in the core library; the methods here apply them to the window's
// own scene and picture.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    // Asks for the scene file of a save (true) or load (false); empty means cancelled. Replaced
    // by tests so that no dialog opens.
    using FileNameAsker = std::function<QString(bool forSaving)>;
    void setFileNameAsker(FileNameAsker asker) { fileNameAsker = std::move(asker); }

    // The picture as shown: the pixmap and its addressable pixels, scene.Wid x scene.Hey.
    QPixmap* image = nullptr;
    QImage* curImage = nullptr;
    // Mouse position at the last press or release, in window coordinates.
    QPoint ptrMousePosition;
    // The objects, lights, camera (CamPos) and picture size (Wid, Hey).
    Scene scene;
    // True while the picture on screen is the blurred one; a second blur is then refused.
    bool AntiAl = false;

    QLabel* labelIm = nullptr;

public slots:
    void SerializeInXml();
    void SerializeInBin();
    void LoadFromXml();
    void LoadFromBin();
    void exit();

public:
    // Renders the scene into curImage and refreshes the pixmap on screen.
    void Paint();
    // Blurs the picture once; does nothing while AntiAl is set.
    void AntiAliasing();
    // One blur pass from curImage into Temp, then Temp becomes curImage.
    void wash(QImage* Temp, int koef1, int koef2, int N, double* wind, bool a);
    // Writes the scene to, or reads it from, `fileName` with `Serial`. A load is applied whole
    // or not at all; false when nothing was saved or loaded.
    bool Serializing(Serializer* Serial, const QString& fileName);
    float countMinDist(Vector3D temp, int* numObj, bool b1, bool b2, bool b3, bool b4, bool b5) const;
    Vector3D countLites(Vector3D Dist, Vector3D Color, Vector3D SpeColor, Light Light0) const;
    void makeFigures() { scene.makeFigures(); }
    void makeLights() { scene.makeLights(); }

protected:
    void keyPressEvent(QKeyEvent* pe) override;
    void wheelEvent(QWheelEvent* pe) override;
    void mousePressEvent(QMouseEvent* pe) override;
    void mouseMoveEvent(QMouseEvent* pe) override;
    void mouseReleaseEvent(QMouseEvent* pe) override;

private:
    void createActions();
    void createMenus();
    void createStatusBar();
    // Render, clear the blur flag, repaint and show `message` for two seconds.
    void refresh(const QString& message);
    // Shows the modal "Message" box that comes before every file command.
    void announce(const QString& text);
    void save(Serializer& serial, const char* done);
    void load(Serializer& serial, const char* done);
    // Replaces the picture buffers by new ones of the scene's size.
    void rebuildPicture();
    QString askFileName(bool forSaving);

    QWidget* window = nullptr;
    QVBoxLayout* mainLayout = nullptr;
    QMenu* fileMenu = nullptr;
    QAction* XMLLAct = nullptr;
    QAction* BinLAct = nullptr;
    QAction* exitAct = nullptr;
    QAction* XMLSAct = nullptr;
    QAction* BinSAct = nullptr;
    FileNameAsker fileNameAsker;
};
