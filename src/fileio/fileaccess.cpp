#include "fileio/fileaccess.h"

#include <QFileInfo>
#include <QSaveFile>

bool isSpecialFile(const QString& fileName)
{
    const QFileInfo info(fileName);
    return info.exists() && !info.isFile() && !info.isDir();
}

bool regularOrAbsent(const QString& fileName, QString* why)
{
    const QFileInfo info(fileName);
    if (!info.exists() || info.isFile())
        return true;
    if (why)
        *why = QStringLiteral("%1 is not a regular file").arg(fileName);
    return false;
}

bool finishWriting(QFileDevice& file, bool writesOk)
{
    const bool ok = writesOk && file.flush() && file.error() == QFileDevice::NoError;
    auto* saved = qobject_cast<QSaveFile*>(&file);
    if (!saved)
        return ok;
    if (!ok)
        saved->cancelWriting();
    return saved->commit() && ok;
}
