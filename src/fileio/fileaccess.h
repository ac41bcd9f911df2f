#pragma once

#include <QString>

class QFileDevice;

// True for a name that exists and is neither a regular file nor a folder: a device, pipe or
// socket. Such a file is written into as it is, never replaced (think of /dev/null), and never
// read as a scene or path, as it could block or never end.
bool isSpecialFile(const QString& fileName);

// True when `fileName` is a regular file or does not exist (opening it will tell); otherwise
// false with the reason in *why, when given. Looked at before opening: opening a pipe with no
// writer would block.
bool regularOrAbsent(const QString& fileName, QString* why);

// Finishes writing `file`. `writesOk` says whether every write the caller made succeeded. A
// QSaveFile puts its new contents in place of the old file, or discards them; any other file
// is flushed. A write that failed while the file flushed its buffer shows only in error(),
// which QSaveFile::commit() does not look at, so it is checked here. True only when everything
// was written (for a QSaveFile: the new file is in place; otherwise the old one is as it was).
bool finishWriting(QFileDevice& file, bool writesOk);
