#pragma once

// The progress line of lumivex-render, on standard error when it is a terminal.

#include <QtGlobal>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "picture/animation.h"

// Shows how far the work has come every quarter second while it goes on, from `state`, which
// the work keeps up to date: a percentage of `total` renders, or frame by frame with the rate
// and the time left. The line never shows more than the total, nor less than before.
class Progress {
public:
    enum Style { Percent, Frames };
    Progress(bool on, Style style, qint64 total);
    // Clears the line.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    AnimationProgress state;

private:
    void loop();

    bool m_on;
    Style m_style;
    qint64 m_total;
    bool m_done = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};
