#pragma once

#include <QImage>
#include <QString>
#include <memory>

// True when writePicture can write a picture named `path`: it ends in .png, .jpg, .jpeg, .bmp
// or .ppm (binary P6), in any case, or is "-" or a device or pipe (both PNG).
bool pictureFormatKnown(const QString& path);

// True when a picture named `path` is written as its rows come (PNG and PPM), so that it need
// never be held whole.
bool pictureStreams(const QString& path);

// Writes a picture to a file band by band, in the format its name ends in, through a temporary
// file, so that a failure or an unfinished picture leaves the old file, if any, as it was. "-" is
// standard output (PNG), and a path that is a device, pipe or socket is written into directly,
// never replaced. PNG pieces are compressed on every core into one stream; the bytes depend on
// the pixels alone, not on how the rows were cut into bands.
class PictureWriter {
public:
    PictureWriter();
    // An unfinished picture is dropped.
    ~PictureWriter();
    PictureWriter(const PictureWriter&) = delete;
    PictureWriter& operator=(const PictureWriter&) = delete;

    // Opens `path` for a width x height picture; `alpha`: keep the pixels' alpha (PNG), else
    // every pixel is written opaque. False, with the reason in `why`, when it cannot.
    bool open(const QString& path, int width, int height, QString& why, bool alpha = false);
    // Writes the rows of `band`, the next ones of the picture: a 32-bit image `width` wide.
    bool write(const QImage& band, QString& why);
    // Writes what is left and puts the file in place. False, with the reason, when any write
    // failed or rows are missing.
    bool finish(QString& why);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes `img` to `path` in the format its name ends in, as PictureWriter does. `why` says what
// went wrong.
bool writePicture(const QImage& img, const QString& path, QString& why);
