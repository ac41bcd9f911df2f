#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPoint>
#include <functional>

#include "scene/scene.h"

class BackgroundRenderer;
class QDockWidget;
class QUndoStack;
class ScenePanel;
class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QScrollArea;
class QTimer;
class QVBoxLayout;
class Serializer;

// The program's one window: shows the picture of the scene, moves the camera from keys, wheel
// and mouse drags, blurs on Q, and saves or loads the scene from its menus. Rendering, blurring
// and the file formats live in the core library; the methods here apply them to the window's
// own scene and picture. Input changes the scene at once; pictures are rendered and blurred on
// worker threads and swapped in when done, the newest request first, so the window never
// waits for a picture. Once the work is done, picture, blur state and status message are
// those that handling each event in turn, each with its own render, would leave.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    // Opens a scene file of either format, recognised by its content, and renders it. On
    // failure nothing changes, the status bar says "Error" and `why` says what is wrong.
    bool openFile(const QString& fileName, QString* why = nullptr);
    // Replaces the whole scene (camera, objects, lights, picture size) and renders it.
    void applyScene(const Scene& newScene);

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
    // Renders the scene into curImage and refreshes the pixmap on screen, before returning.
    void Paint();
    // True while a picture is being rendered or blurred, or waits to be.
    bool isRendering() const;
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
    void closeEvent(QCloseEvent* pe) override;
    void dragEnterEvent(QDragEnterEvent* pe) override;
    void dropEvent(QDropEvent* pe) override;

private:
    void createActions();
    void createMenus();
    void createStatusBar();
    // What a picture job is for.
    struct JobPurpose {
        quint64 serial = 0;     // the scene version it shows
        bool preview = false;   // a reduced drag preview, shown but not kept
        bool blurred = false;   // the job blurs
        QString message;        // shown with the picture; empty: none
        bool persistent = false; // the message stays until replaced
    };
    // Clears the blur flag and renders the current scene in the background; `message` is shown
    // with the picture, for two seconds unless `persistent`.
    void refresh(const QString& message, bool persistent = false);
    void submit(const JobPurpose& purpose, const Scene& scene, const QImage& source, bool blur);
    // A job that blurs the current version's picture.
    JobPurpose blurPurpose() const;
    void showPicture(quint64 tag, const QImage& picture, const QImage& display, double seconds);
    void renderPreview();
    void updateProgress();
    // Sizes the picture's area: the whole picture where the screen has room, else scroll bars.
    void fitPicture();
    // Shows the modal "Message" box that comes before every file command.
    void announce(const QString& text);
    void save(Serializer& serial, const char* done);
    void load(Serializer& serial, const char* done);
    // Replaces the picture buffers by new ones of the scene's size; false, with the old ones
    // kept, when there is not enough memory.
    bool rebuildPicture();
    // Puts a scene just read into `scene` to use: picture buffers of its size, the `loaded`
    // message, a step of undo and a render. Without the memory for the buffers the scene goes
    // back to `before` and "Error" shows.
    bool takeLoaded(const Scene& before, const QString& loaded, const QString& undoText);
    QString askFileName(bool forSaving, const QString& filter = QString());
    // Open..., Open Recent, a dropped file: opens it, or says why not in the status bar and a box.
    void openInteractively(const QString& fileName);
    void rememberRecent(const QString& fileName);
    void rebuildRecentMenu();
    void exportPicture();
    void copyPicture();
    // Records a change of the scene that has already been made, for undo; camera moves close
    // together in time merge into one step.
    void recordChange(const Scene& before, const QString& text, bool cameraMove);

    QWidget* window = nullptr;
    QVBoxLayout* mainLayout = nullptr;
    QScrollArea* scrollArea = nullptr;
    QProgressBar* progressBar = nullptr;
    QTimer* progressTimer = nullptr;
    BackgroundRenderer* renderer = nullptr;
    QHash<quint64, JobPurpose> jobs;
    quint64 nextTag = 1;
    // Scene version: every change and every render request counts one up.
    quint64 serial = 0;
    // The version whose full picture curImage holds.
    quint64 shownSerial = 0;
    // The version for which a Q waits on its render, 0 for none.
    quint64 blurAfter = 0;
    // A full render of this version is on its way, 0 for none.
    quint64 fullPending = 0;
    bool dragging = false;
    bool dragMoved = false;
    // How long the last full render took, to size drag previews.
    double lastRenderSeconds = 0;
    QMenu* fileMenu = nullptr;
    QAction* XMLLAct = nullptr;
    QAction* BinLAct = nullptr;
    QAction* exitAct = nullptr;
    QAction* XMLSAct = nullptr;
    QAction* BinSAct = nullptr;
    FileNameAsker fileNameAsker;
    QAction* openAct = nullptr;
    QAction* exportAct = nullptr;
    QAction* copyAct = nullptr;
    QAction* undoAct = nullptr;
    QAction* redoAct = nullptr;
    QMenu* recentMenu = nullptr;
    QDockWidget* panelDock = nullptr;
    ScenePanel* panel = nullptr;
    QUndoStack* undoStack = nullptr;
    // The scene when the mouse button went down, for undoing a whole drag.
    Scene dragStart;
};
