#include "window/pictureexport.h"

#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <memory>

#include "window/longtask.h"
#include "window/prompter.h"
#include "fileio/textio.h"
#include "picture/picturefile.h"
#include "picture/supersample.h"

namespace {

const char* const kPictureFilter = "PNG picture (*.png);;JPEG picture (*.jpg *.jpeg);;BMP picture (*.bmp);;PPM picture (*.ppm)";

} // namespace

PictureExport::PictureExport(QWidget* window, const Prompter& prompter)
    : QObject(window), m_window(window), m_prompter(prompter), m_task(new LongTask(window))
{
    connect(m_task, &LongTask::runningChanged, this, &PictureExport::runningChanged);
}

bool PictureExport::isRunning() const
{
    return m_task->isRunning();
}

void PictureExport::stop()
{
    m_task->stop();
}

void PictureExport::exportPicture(const Scene& scene, bool blurred)
{
    if (m_task->isRunning())
        return;
    // As on screen unless changed: the scene's size, blurred if the picture is.
    ExportSettings settings{scene.Wid, scene.Hey, 1, blurred};
    if (m_asker) {
        if (!m_asker(settings))
            return;
    } else {
        ExportDialog dialog(settings, m_window);
        if (dialog.exec() != QDialog::Accepted)
            return;
        settings = dialog.settings();
    }
    const QString name = m_prompter.askFileName(true, tr(kPictureFilter));
    if (!name.isEmpty())
        start(scene, name, settings);
}

void PictureExport::start(const Scene& shown, const QString& fileName, const ExportSettings& settings)
{
    // A folder that is missing or cannot be written into fails at once, not after a long render.
    // A device or pipe is written into as it is, whatever its folder.
    const QFileInfo target(fileName);
    const QFileInfo folder(target.absolutePath());
    if (fileName != "-" && !(target.exists() && !target.isFile()) && !(folder.isDir() && folder.isWritable())) {
        m_prompter.fail(tr("cannot open %1 for writing: %2 is no folder that can be written into")
                            .arg(printableName(fileName), printableName(folder.filePath())));
        return;
    }
    Scene scene = shown;
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
    plan.showAfterMs = Prompter::kProgressAfterMs;
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
        if (state->written)
            m_prompter.flash(tr("Picture exported"));
        else if (state->made == PictureResult::Stopped || (state->made == PictureResult::Whole && !state->writing))
            m_prompter.flash(tr("Export cancelled"));
        else
            m_prompter.fail(state->why);
    };
    m_task->start(std::move(plan));
}
