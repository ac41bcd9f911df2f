#pragma once

// The options of lumivex-render, read by one table that also makes --help.

#include <QSize>
#include <QString>
#include <QStringList>

#include "picture/animation.h"
#include "scene/vector3d.h"

struct Options {
    QString output, loadXml, loadBin, saveXml, saveBin;
    bool haveCamera = false;
    Vector3D camera;
    bool blur = false;
    int repeat = 1;
    bool repeatGiven = false;
    int threads = 0;
    bool reference = false;
    QString path;
    bool smooth = false;
    bool haveFrames = false;
    qint64 firstFrame = 0, lastFrame = 0;
    bool skipExisting = false;
    bool quiet = false;
    int supersample = 1;
    QSize size;
    QString video;
    int fps = kDefaultFps;
    bool fpsGiven = false;
};

// Reads the arguments (the program's name first) into `options`. Returns -1 to go on, or the
// exit status: 0 after --help or --version, 2 after saying on one line what is wrong.
int parseOptions(const QStringList& args, Options& options);
