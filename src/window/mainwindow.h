#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <functional>

#include "window/prompter.h"
#include "scene/scene.h"

class AnimationControls;
class PictureExport;
class PictureJobs;
class PictureScreen;
class PictureView;
class QAction;
class QDialog;
class QDockWidget;
class QMenu;
class QScrollArea;
class QTimer;
class QUndoStack;
class QVBoxLayout;
class SceneFiles;
class ScenePanel;
class StatusArea;

// The program's one window: shows the picture of the scene, moves the camera from keys, wheel
// and mouse drags, blurs on Q, and saves or loads the scene from its menus. Rendering, blurring
// and the file formats live in the core library, the order of picture work in PictureJobs, the
// key frames, their preview and Render Animation in AnimationControls, Export Picture in
// PictureExport, showing and copying the pictures that come back in PictureScreen; this class
// turns input into scene changes and builds the menus and panels. Input changes the scene at
// once and the window never waits for a picture.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Starts with the built-in scene, whose picture is there before the constructor returns.
    MainWindow();
    // Starts with the scene file `fileName`, rendered in the background so that the window can
    // show at once. A file that cannot be read leaves the built-in scene (rendered in the
    // background too), the status bar says "Error" and `why` says why.
    MainWindow(const QString& fileName, QString* why);
    ~MainWindow() override;

    // Opens a scene file of either format, recognised by its content, and renders it. On
    // failure nothing changes, the status bar says "Error" and `why` says what is wrong.
    bool openFile(const QString& fileName, QString* why = nullptr);
    // Replaces the whole scene (camera, objects, lights, picture size) and renders it.
    void applyScene(const Scene& newScene);

    // Replaces the file dialogs of every command (see Prompter), so that tests open none.
    void setFileNameAsker(Prompter::FileNameAsker asker) { m_prompter.setFileNameAsker(std::move(asker)); }
    // Replaces the clock (steady milliseconds) that times renders and groups camera moves
    // into steps of undo.
    void setClock(std::function<qint64()> clock);

    // What the window holds, for tests and the benchmark.
    // The objects, lights, camera (CamPos) and picture size (Wid, Hey).
    const Scene& scene() const { return m_scene; }
    // The newest full picture (null before the first), blurred if the blur has run on it.
    const QImage& picture() const;
    // What the picture area shows now, at its own resolution (a preview may be smaller).
    const QImage& shownPicture() const;
    // True while the picture is blurred or its blur is on the way: Q then does nothing.
    bool isBlurred() const;
    // Mouse position at the last press or release, in window coordinates.
    QPoint mousePosition() const { return ptrMousePosition; }
    // True while a picture is being rendered or blurred, or waits to be.
    bool isRendering() const;

public slots:
    void SerializeInXml();
    void SerializeInBin();
    void LoadFromXml();
    void LoadFromBin();
    void exit();
    // File ▸ Save: the open file in its own format, with no questions; Save ▸ XML when no
    // file is open.
    void saveOpenFile();
    // View ▸ Stop Rendering: the picture and an export on their way; the picture on screen stays.
    void stopRendering();

protected:
    void keyPressEvent(QKeyEvent* pe) override;
    void wheelEvent(QWheelEvent* pe) override;
    void mousePressEvent(QMouseEvent* pe) override;
    void mouseMoveEvent(QMouseEvent* pe) override;
    void mouseReleaseEvent(QMouseEvent* pe) override;
    void closeEvent(QCloseEvent* pe) override;
    // The wheel over the picture and the keys the menu bar does not use go to the camera; the
    // wheel over a panel stays there.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* pe) override;
    void dragEnterEvent(QDragEnterEvent* pe) override;
    void dropEvent(QDropEvent* pe) override;

private:
    // The widgets, the picture work, the panels, the animation and the export; then the actions,
    // menus and status bar.
    void build();
    void finishBuilding();
    void createActions();
    void createMenus();
    void createStatusBar();
    // A panel at the window's right, hidden at start, with an item in the View menu; hiding it
    // gives its room back to the picture.
    QDockWidget* addPanel(QWidget* content, const QString& title, const QString& objectName, const QString& menuText,
                          const QKeySequence& shortcut, const QString& statusTip);
    // Shows the scene's values in the panel and the status area.
    void showSceneValues();
    // Renders the current scene in the background; `message` is shown with the picture, for
    // two seconds unless `persistent`.
    void refresh(const QString& message, bool persistent = false);
    // A drag's reduced picture of the scene.
    void renderPreview();
    // Before a render: the preview stopped, the scene's values shown.
    void beforeRender();
    // Sizes the picture's area: the whole picture where the screen has room, else scroll bars.
    void fitPicture();
    // Puts a scene just read into `m_scene` to use: the picture area at its size, the `loaded`
    // message, a step of undo and a render. Without the memory for its picture the scene goes
    // back to `before` and "Error" shows.
    bool takeLoaded(const Scene& before, const QString& loaded, const QString& undoText);
    void showKeys();
    // Records a change of the scene that has already been made, for undo; camera moves close
    // together in time merge into one step.
    void recordChange(const Scene& before, const QString& text, bool cameraMove);
    // Stops exports and animations, and waits a moment for them to end (closing and going).
    void endLongWork();
    void updateActions();
    // The picture area takes the keys: they move the camera.
    void takeKeys();

    Scene m_scene;
    // Mouse position at the last press or release.
    QPoint ptrMousePosition;
    bool m_dragging = false;
    bool m_dragMoved = false;
    // File ▸ Exit has settled the unsaved key frames: closing asks no more.
    bool m_closeAgreed = false;
    // The scene when the mouse button went down, for undoing a whole drag.
    Scene m_dragStart;

    QWidget* window = nullptr;
    QVBoxLayout* mainLayout = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    PictureView* m_view = nullptr;
    // What the picture area and the status area show of the picture work.
    PictureScreen* m_screen = nullptr;
    PictureJobs* m_jobs = nullptr;
    StatusArea* m_statusArea = nullptr;
    QUndoStack* m_undoStack = nullptr;
    ScenePanel* m_panel = nullptr;
    QDialog* m_keysDialog = nullptr;
    QElapsedTimer m_started;
    std::function<qint64()> m_clock;
    Prompter m_prompter{this};
    AnimationControls* m_animation = nullptr;
    PictureExport* m_exporter = nullptr;
    SceneFiles* m_files = nullptr;

    QMenu* fileMenu = nullptr;
    QAction* XMLLAct = nullptr;
    QAction* BinLAct = nullptr;
    QAction* exitAct = nullptr;
    QAction* XMLSAct = nullptr;
    QAction* BinSAct = nullptr;
    QAction* m_openAct = nullptr;
    QAction* m_saveAct = nullptr;
    QAction* m_exportAct = nullptr;
    QAction* m_copyAct = nullptr;
    QAction* m_undoAct = nullptr;
    QAction* m_redoAct = nullptr;
    QAction* m_stopAct = nullptr;
    QAction* m_keysAct = nullptr;
    QAction* m_aboutAct = nullptr;
    // The View menu's items that show and hide the panels.
    QList<QAction*> m_panelActions;
};
