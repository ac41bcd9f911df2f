#pragma once

// What lumivex-render says on standard error: one line for every failure, nothing else.

#include <QString>

#include "scene/scene.h"

// Says what went wrong on one line and gives the exit status for it. Whatever the message
// quotes reaches the terminal escaped.
int fail(int status, const QString& message);

// An option's value as messages quote it.
QString quoted(const QString& value);

// Status 1 with "not enough memory <doing> a W x H picture".
int notEnoughMemory(const char* doing, const Scene& scene);

// Keeps Qt's and the image libraries' own messages (a "libpng error: ..." while a damaged frame
// is checked, say) off standard error: the command's lines are the only ones there.
void keepOtherMessagesQuiet();
