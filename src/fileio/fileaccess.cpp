#include "fileio/fileaccess.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio/textio.h"

bool isSpecialFile(const QString& fileName)
{
    const QFileInfo info(fileName);
    return info.exists() && !info.isFile() && !info.isDir();
}

namespace {

int openNoWait(const QByteArray& path)
{
    int fd;
    do
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

FileRead readWholeFile(const QString& fileName, qint64 limit, const char* kind, QByteArray& bytes, QString* why)
{
    bytes.clear();
    const QString name = printableName(fileName);
    const auto refuse = [&](FileRead result, const QString& reason) {
        if (why)
            *why = reason;
        bytes.clear();
        return result;
    };
    const auto notRegular = [&] {
        return refuse(FileRead::NotRegular, QStringLiteral("%1 is not a regular file").arg(name));
    };
    const auto cannotOpen = [&](int error) {
        return refuse(error == ENOENT ? FileRead::Missing : FileRead::Failed,
                      QStringLiteral("cannot open %1 for reading: %2")
                          .arg(name, QString::fromLocal8Bit(std::strerror(error))));
    };
    const QByteArray path = QFile::encodeName(fileName);
    // Looked at first, so that a device is not even opened (opening some has effects of its
    // own), and again on the descriptor, which is what is read.
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return cannotOpen(errno);
    if (!S_ISREG(st.st_mode))
        return notRegular();
    // Without O_NONBLOCK, opening a pipe put here since the look above would wait for a writer.
    const int fd = openNoWait(path);
    if (fd < 0)
        return cannotOpen(errno);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    QByteArray data;
    data.reserve(qsizetype(std::min<qint64>(st.st_size, limit) + 1));
    // Whole blocks: some pseudo-files read only in multiples of 8 bytes.
    static constexpr qint64 kBlock = 1 << 16;
    qint64 total = 0;
    // One byte beyond the limit tells a file over it from one of exactly that size.
    while (total <= limit) {
        data.resize(qsizetype(total + kBlock));
        const ssize_t n = ::read(fd, data.data() + total, size_t(kBlock));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return refuse(FileRead::Failed,
                          QStringLiteral("cannot read %1: %2").arg(name, QString::fromLocal8Bit(std::strerror(error))));
        }
        if (n == 0)
            break;
        total += n;
    }
    ::close(fd);
    if (total > limit)
        return refuse(FileRead::TooLarge, QStringLiteral("%1 is too large for %2 (more than %3 bytes)")
                                              .arg(name, QLatin1String(kind))
                                              .arg(limit));
    data.resize(qsizetype(total));
    bytes = std::move(data);
    return FileRead::Read;
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
