#include "picture/picturefile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"

namespace {

QByteArray formatOf(const QString& path)
{
    if (path == "-")
        return "png";
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "png" || suffix == "bmp" || suffix == "ppm")
        return suffix.toLatin1();
    if (suffix == "jpg" || suffix == "jpeg")
        return "jpeg";
    // A device or pipe such as /dev/stdout has no suffix to go by.
    if (isSpecialFile(path))
        return "png";
    return QByteArray();
}

} // namespace

bool pictureFormatKnown(const QString& path)
{
    return !formatOf(path).isEmpty();
}

bool writePicture(const QImage& img, const QString& path, QString& why)
{
    const QByteArray format = formatOf(path);
    if (format.isEmpty()) {
        why = QStringLiteral("cannot tell the picture format of %1: use .png, .jpg, .bmp or .ppm")
                  .arg(printableName(path));
        return false;
    }
    // "-" is standard output; a device, pipe or socket is written into as it is. Anything else
    // is replaced only once the whole picture is written.
    const bool direct = path == "-" || isSpecialFile(path);
    QFile stream;
    QSaveFile saved(path);
    QFileDevice& file = direct ? static_cast<QFileDevice&>(stream) : saved;
    const bool opened = path == "-" ? stream.open(stdout, QIODevice::WriteOnly)
                                    : (direct ? (stream.setFileName(path), stream.open(QIODevice::WriteOnly))
                                              : saved.open(QIODevice::WriteOnly));
    if (!opened) {
        why = QStringLiteral("cannot open %1 for writing: %2").arg(printableName(path), file.errorString());
        return false;
    }
    bool ok;
    if (format == "ppm") {
        // Binary P6, written here so that every Qt build writes the same bytes.
        QByteArray bytes = QStringLiteral("P6\n%1 %2\n255\n").arg(img.width()).arg(img.height()).toLatin1();
        bytes.reserve(bytes.size() + qsizetype(img.width()) * img.height() * 3);
        for (int y = 0; y < img.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                bytes.append(char(qRed(line[x])));
                bytes.append(char(qGreen(line[x])));
                bytes.append(char(qBlue(line[x])));
            }
        }
        ok = file.write(bytes) == bytes.size();
    } else {
        // Encoded in memory first: a failing file then fails here, with one message, and not
        // inside the image library, which would print its own.
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (format == "jpeg")
            writer.setQuality(95);
        // PNG keeps the picture as it is; the others have no use for its alpha channel.
        ok = writer.write(format == "png" ? img : img.convertToFormat(QImage::Format_RGB32)) &&
             file.write(encoded) == encoded.size();
    }
    if (!finishWriting(file, ok)) {
        why = QStringLiteral("cannot write %1").arg(printableName(path));
        return false;
    }
    return true;
}
