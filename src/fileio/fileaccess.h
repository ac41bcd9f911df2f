#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

// True for a name that exists and is neither a regular file nor a folder: a device, pipe or
// socket. Such a file is written into as it is, never replaced (think of /dev/null).
bool isSpecialFile(const QString& fileName);

// How readWholeFile ended.
enum class FileRead {
    Read,       // the whole file is in `bytes`
    Missing,    // there is no such file
    NotRegular, // a folder, pipe, device or socket: not read at all
    TooLarge,   // more than the limit: reading stopped there
    Failed,     // it could not be opened or read
};

// Reads the whole of `fileName`, which must be a regular file of at most `limit` bytes. Only
// regular files are opened, and what is opened is checked again on its descriptor, so a pipe
// or device put in place meanwhile is never read (a pipe could block for ever, a device never
// end). Reading stops once more than `limit` bytes have come, whatever size the file claims:
// pseudo-files claim 0.
// Unless the result is Read, `why` (when given) says what is wrong, naming the file and `kind`
// ("a scene file"), and `bytes` is empty.
FileRead readWholeFile(const QString& fileName, qint64 limit, const char* kind, QByteArray& bytes, QString* why);

// Finishes writing `file`. `writesOk` says whether every write the caller made succeeded. A
// QSaveFile puts its new contents in place of the old file, or discards them; any other file
// is flushed. A write that failed while the file flushed its buffer shows only in error(),
// which QSaveFile::commit() does not look at, so it is checked here. True only when everything
// was written (for a QSaveFile: the new file is in place; otherwise the old one is as it was).
bool finishWriting(QFileDevice& file, bool writesOk);
