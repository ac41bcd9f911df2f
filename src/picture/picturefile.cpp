#include "picture/picturefile.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include "serial/savefile.h"

namespace {

QByteArray formatOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == "png" || suffix == "bmp" || suffix == "ppm")
        return suffix.toLatin1();
    if (suffix == "jpg" || suffix == "jpeg")
        return "jpeg";
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
        why = QStringLiteral("cannot tell the picture format of %1: use .png, .jpg, .bmp or .ppm").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        why = QStringLiteral("cannot open %1 for writing: %2").arg(path, file.errorString());
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
        QImageWriter writer(&file, format);
        if (format == "jpeg")
            writer.setQuality(95);
        // PNG keeps the picture as it is; the others have no use for its alpha channel.
        ok = writer.write(format == "png" ? img : img.convertToFormat(QImage::Format_RGB32));
    }
    if (!commitSaveFile(file, ok)) {
        why = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}
