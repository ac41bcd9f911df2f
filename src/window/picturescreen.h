#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <functional>

class AnimationControls;
class PictureJobs;
class PictureView;
class Prompter;
class StatusArea;

// Shows what the picture work sends back: the finished picture, a stand-in for it or the word
// that it failed, with the status area's picture state (render time, blurred, not finished).
// Stop Rendering and Copy Picture are here too, as both depend on what is on screen. While the
// key frames play, their preview keeps the picture area.
class PictureScreen : public QObject {
    Q_OBJECT

public:
    // `dragging` tells whether a mouse drag is on: a drag's preview that comes after it has ended
    // is out of date.
    PictureScreen(PictureJobs* jobs, PictureView* view, StatusArea* status, AnimationControls* animation,
                  const Prompter& prompter, std::function<bool()> dragging, QObject* parent = nullptr);

    // True when there is memory for a picture of this size and its screen copy.
    static bool roomForPicture(int wid, int hey);

    // The picture adopted by the jobs before the window shows; it took `seconds`.
    void showFirst(double seconds);
    // The jobs' newest full picture again, after the preview that stood in for it.
    void showKept();
    // The picture area at the new picture's size, black until the picture comes.
    void makeRoom(QSize size);
    // A new picture is on its way: the status area no longer says a stopped one is not finished.
    void pictureAsked();
    // Stops the picture on its way; the picture on screen stays, marked as not finished when it
    // is not the camera's finished picture.
    void stop();
    // Edit ▸ Copy Picture.
    void copy();

signals:
    // A full picture is on screen: there is something to copy.
    void pictureShown();
    // The picture area took another size: the window fits around it.
    void resized();

private:
    void onShown(const QImage& display, bool blurred, const QString& message, bool persistent, double seconds);
    void onStandIn(const QImage& display, bool coarse);
    void onFailed();

    PictureJobs* m_jobs;
    PictureView* m_view;
    StatusArea* m_status;
    AnimationControls* m_animation;
    const Prompter& m_prompter;
    std::function<bool()> m_dragging;
    // Copy Picture waits for the picture on its way.
    bool m_copyPending = false;
};
