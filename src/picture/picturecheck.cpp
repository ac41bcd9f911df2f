#include "picture/picturecheck.h"

#include <QByteArray>
#include <QImage>
#include <QtEndian>
#include <cstring>
#include <zlib.h>

#include "fileio/fileaccess.h"

namespace {

// Whether every chunk of a PNG fits the file and has the right check sum, up to IEND at the
// very end. A damaged chunk is found here, quietly: the decoder's library would say so on
// standard error.
bool pngChunksWhole(const QByteArray& bytes)
{
    qsizetype at = 8;
    while (bytes.size() - at >= 12) {
        const quint32 length = qFromBigEndian<quint32>(bytes.constData() + at);
        if (length > quint64(bytes.size() - at - 12))
            return false;
        const auto* typeAndData = reinterpret_cast<const Bytef*>(bytes.constData() + at + 4);
        if (crc32(crc32(0, nullptr, 0), typeAndData, uInt(length) + 4) !=
            qFromBigEndian<quint32>(bytes.constData() + at + 8 + length))
            return false;
        at += 12 + qsizetype(length);
        if (std::memcmp(typeAndData, "IEND", 4) == 0)
            return at == bytes.size();
    }
    return false;
}

// Whether `bytes` end where their format says they end.
bool endsWhole(const QByteArray& bytes, QSize size)
{
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return bytes.endsWith(QByteArray("\0\0\0\0IEND\xae\x42\x60\x82", 12)) && pngChunksWhole(bytes);
    if (bytes.startsWith("\xff\xd8"))
        return bytes.endsWith("\xff\xd9");
    if (bytes.startsWith("BM") && bytes.size() >= 6)
        return qFromLittleEndian<quint32>(bytes.constData() + 2) == quint32(bytes.size());
    if (bytes.startsWith("P6")) {
        const QByteArray header = QStringLiteral("P6\n%1 %2\n255\n").arg(size.width()).arg(size.height()).toLatin1();
        return bytes.startsWith(header) && bytes.size() == header.size() + qint64(size.width()) * size.height() * 3;
    }
    return false;
}

} // namespace

bool isWholePicture(const QString& path, QSize size)
{
    // Room for any of the formats at this size, uncompressed, and then some.
    const qint64 limit = qint64(size.width()) * size.height() * 5 + (1 << 20);
    QByteArray bytes;
    if (readWholeFile(path, limit, "a picture", bytes, nullptr) != FileRead::Read)
        return false;
    if (!endsWhole(bytes, size))
        return false;
    const QImage img = QImage::fromData(bytes);
    return !img.isNull() && img.size() == size;
}
