#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "window/animationcontrols.h"
#include "window/mainwindow.h"
#include "window/pictureexport.h"
#include "serial/xmlserial.h"

// Runs `action` while a timer closes every modal message box that opens; returns each box as
// "Title: text" in the order they appeared.
inline QStringList dismissBoxes(const std::function<void()>& action)
{
    QStringList seen;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen << box->windowTitle() + ": " + box->text();
            box->done(QMessageBox::Ok);
        }
    });
    timer.start();
    action();
    return seen;
}

// Runs `action` while a timer answers every modal message box with `button` (Save, Discard,
// Cancel...); returns each box as "Title: text" in the order they appeared.
inline QStringList answerBoxes(QMessageBox::StandardButton button, const std::function<void()>& action)
{
    QStringList seen;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&seen, button] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen << box->windowTitle() + ": " + box->text();
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                box->done(button);
        }
    });
    timer.start();
    action();
    return seen;
}

// Writes the built-in scene at another picture size as an XML file `path`; false on failure.
inline bool writeSizedScene(const QString& path, int wid, int hey)
{
    Scene s = Scene::builtIn();
    s.Wid = wid;
    s.Hey = hey;
    XMLS writer;
    return saveScene(writer, path, s);
}

// The window's action whose menu text is `text`, such as "&Stop Rendering".
inline QAction* findAction(MainWindow& w, const QString& text)
{
    for (QAction* a : w.findChildren<QAction*>())
        if (a->text() == text)
            return a;
    return nullptr;
}

// The window's key frames, preview and Render Animation; its Export Picture.
inline AnimationControls* animation(MainWindow& w)
{
    return w.findChild<AnimationControls*>();
}

inline PictureExport* pictureExport(MainWindow& w)
{
    return w.findChild<PictureExport*>();
}

inline QString status(MainWindow& w)
{
    return w.statusBar()->currentMessage();
}

// Waits until the window has no picture on its way: every event's render and blur are done.
#define SETTLE(w) QTRY_VERIFY_WITH_TIMEOUT(!(w).isRendering(), 30000)
