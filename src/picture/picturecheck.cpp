#include "picture/picturecheck.h"

#include <QByteArray>
#include <QImage>
#include <QtEndian>
#include <zlib.h>

#include "fileio/fileaccess.h"

namespace {

// Whether `bytes` end where their format says they end.
bool endsWhole(const QByteArray& bytes, QSize size)
{
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return bytes.endsWith(QByteArray("\0\0\0\0IEND\xae\x42\x60\x82", 12));
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

// Whether `bytes`, a PNG, are whole: every chunk's CRC holds, IHDR gives `size`, and the image
// data inflates, its check value holding, to exactly the filtered rows of that size, each with
// a known filter. Read here rather than by the image library, whose PNG decoder prints
// "libpng error: ..." on standard error for every damaged file it is shown. 0 for no, 1 for
// yes, -1 for an interlaced picture, whose rows this does not follow.
int isWholePng(const QByteArray& bytes, QSize size)
{
    const auto u32 = [&](qsizetype at) { return qFromBigEndian<quint32>(bytes.constData() + at); };
    qsizetype at = 8;
    qint64 rowBytes = 0, expected = 0, inflated = 0;
    bool header = false, ended = false, streamEnded = false;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return 0;
    struct End {
        z_stream& zs;
        ~End() { inflateEnd(&zs); }
    } end{zs};
    unsigned char out[1 << 16];
    while (!ended) {
        if (bytes.size() - at < 12)
            return 0;
        const quint32 length = u32(at);
        if (length > quint32(bytes.size() - at - 12))
            return 0;
        const char* type = bytes.constData() + at + 4;
        const auto* data = reinterpret_cast<const Bytef*>(bytes.constData() + at + 8);
        if (crc32(0, reinterpret_cast<const Bytef*>(type), 4 + length) != u32(at + 8 + length))
            return 0;
        const QByteArray name(type, 4);
        if (!header) {
            if (name != "IHDR" || length != 13)
                return 0;
            const quint32 w = u32(at + 8), h = u32(at + 12);
            const int depth = data[8], colour = data[9], interlace = data[12];
            const int channels = colour == 0 ? 1 : colour == 2 ? 3 : colour == 3 ? 1 : colour == 4 ? 2 : colour == 6 ? 4 : 0;
            if (w != quint32(size.width()) || h != quint32(size.height()) || channels == 0 ||
                (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16))
                return 0;
            if (interlace != 0)
                return -1;
            rowBytes = 1 + (qint64(w) * channels * depth + 7) / 8;
            expected = rowBytes * h;
            header = true;
        } else if (name == "IDAT") {
            zs.next_in = const_cast<Bytef*>(data);
            zs.avail_in = length;
            while (zs.avail_in > 0) {
                if (streamEnded)
                    return 0; // data after the stream's end
                zs.next_out = out;
                zs.avail_out = sizeof out;
                const int status = inflate(&zs, Z_NO_FLUSH);
                if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                    return 0;
                const qint64 made = qint64(sizeof out - zs.avail_out);
                // Each row begins with its filter, 0 to 4.
                for (qint64 k = (rowBytes - inflated % rowBytes) % rowBytes; k < made; k += rowBytes)
                    if (out[k] > 4)
                        return 0;
                inflated += made;
                if (inflated > expected)
                    return 0;
                streamEnded = status == Z_STREAM_END;
                if (status == Z_BUF_ERROR && made == 0)
                    return 0;
            }
        } else if (name == "IEND") {
            ended = true;
        }
        at += 12 + qsizetype(length);
    }
    return header && streamEnded && inflated == expected && at == bytes.size() ? 1 : 0;
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
    // A damaged PNG never reaches the decoder; a whole one decodes without a word.
    if (bytes.startsWith("\x89PNG\r\n\x1a\n") && isWholePng(bytes, size) == 0)
        return false;
    const QImage img = QImage::fromData(bytes);
    return !img.isNull() && img.size() == size;
}
