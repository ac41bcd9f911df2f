#include "serial/savefile.h"

#include <QSaveFile>

bool commitSaveFile(QSaveFile& file, bool writesOk)
{
    const bool ok = writesOk && file.flush() && file.error() == QFileDevice::NoError;
    if (!ok)
        file.cancelWriting();
    return file.commit() && ok;
}
