#pragma once

#include <QObject>
#include <functional>

#include "window/exportdialog.h"
#include "scene/scene.h"

class LongTask;
class Prompter;
class QWidget;

// File ▸ Export Picture: asks for the size, the supersampling and the blur, then for the file,
// and renders and writes the picture in the background, with a box that shows how far it has
// come and cancels it. The file is the one lumivex-render writes with the same settings.
class PictureExport : public QObject {
    Q_OBJECT

public:
    // The box and the dialogs belong to `window`.
    PictureExport(QWidget* window, const Prompter& prompter);

    // Asks for the settings, offering the picture as on screen (`scene`'s size, `blurred`),
    // then for the file, and starts. Nothing while an export is on its way.
    void exportPicture(const Scene& scene, bool blurred);
    // True while an export is on its way; stop() asks it to stop, and it says it was cancelled
    // once it has.
    bool isRunning() const;
    void stop();

    // Asks for the settings of an export, starting from `settings`; false means cancelled.
    // Replaced by tests so that no dialog opens.
    using Asker = std::function<bool(ExportSettings& settings)>;
    void setAsker(Asker asker) { m_asker = std::move(asker); }

signals:
    void runningChanged(bool running);

private:
    void start(const Scene& scene, const QString& fileName, const ExportSettings& settings);

    QWidget* m_window;
    const Prompter& m_prompter;
    LongTask* m_task;
    Asker m_asker;
};
