#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <zlib.h>

#include "picture/picturecheck.h"
#include "picture/picturefile.h"
#include "picture/supersample.h"
#include "render/tracer.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Noise with long runs of one colour, as rendered pictures have; `alpha` makes some pixels
// see-through.
QImage picture(int w, int h, quint32 seed, bool alpha = false)
{
    QRandomGenerator gen(seed);
    QImage img(w, h, QImage::Format_ARGB32);
    QRgb c = qRgb(0, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (gen.bounded(8) == 0)
                c = qRgba(int(gen.bounded(256)), int(gen.bounded(256)), int(gen.bounded(256)),
                          alpha ? int(gen.bounded(256)) : 255);
            img.setPixel(x, y, c);
        }
    return img;
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes `img` through PictureWriter in bands of `band` rows.
bool writeInBands(const QImage& img, const QString& path, int band, bool alpha = false)
{
    QString why;
    PictureWriter w;
    if (!w.open(path, img.width(), img.height(), why, alpha))
        return false;
    for (int y = 0; y < img.height(); y += band)
        if (!w.write(img.copy(0, y, img.width(), std::min(band, img.height() - y)), why))
            return false;
    return w.finish(why);
}

quint32 bigEndian(const char* p)
{
    const auto* u = reinterpret_cast<const uchar*>(p);
    return quint32(u[0]) << 24 | quint32(u[1]) << 16 | quint32(u[2]) << 8 | u[3];
}

// Reads a PNG strictly, with zlib alone: every chunk's CRC, the whole stream inflated with its
// check value, no filter but "none" and "up" (undone here). The rows' bytes, or a note of what
// is wrong.
QByteArray strictPngRows(const QByteArray& png, QString& wrong)
{
    QByteArray stream;
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype n = bigEndian(png.constData() + at);
        const QByteArray typeAndData = png.mid(at + 4, 4 + n);
        if (crc32(0, reinterpret_cast<const Bytef*>(typeAndData.constData()), uInt(typeAndData.size())) !=
            bigEndian(png.constData() + at + 8 + n))
            wrong = "chunk CRC";
        if (typeAndData.startsWith("IDAT"))
            stream += typeAndData.mid(4);
        at += 12 + n;
    }
    const qsizetype w = bigEndian(png.constData() + 16), h = bigEndian(png.constData() + 20);
    const int channels = png.at(25) == 6 ? 4 : 3;
    QByteArray raw(h * (1 + w * channels), Qt::Uninitialized);
    uLongf size = uLongf(raw.size());
    if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &size, reinterpret_cast<const Bytef*>(stream.constData()),
                   uLong(stream.size())) != Z_OK ||
        size != uLongf(raw.size()))
        wrong = "zlib stream";
    const qsizetype rowBytes = 1 + w * channels;
    for (qsizetype y = 0; y < h && wrong.isEmpty(); ++y) {
        char* row = raw.data() + y * rowBytes;
        if (row[0] == 2 && y > 0)
            for (qsizetype i = 1; i < rowBytes; ++i)
                row[i] = char(uchar(row[i]) + uchar(row[i - rowBytes]));
        else if (row[0] != 0 && row[0] != 2)
            wrong = "filter";
    }
    return raw;
}

// Gives a chunk its right CRC again, after its type or data were changed.
void fixCrc(QByteArray& png, qsizetype chunk)
{
    const qsizetype n = bigEndian(png.constData() + chunk);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + chunk + 4), uInt(4 + n)));
    for (int b = 0; b < 4; ++b)
        png[chunk + 8 + n + b] = char(crc >> (24 - 8 * b));
}

// Where the chunks of `type` begin, in order.
QList<qsizetype> chunksOf(const QByteArray& png, const QByteArray& type)
{
    QList<qsizetype> at;
    for (qsizetype c = 8; c + 12 <= png.size(); c += 12 + bigEndian(png.constData() + c))
        if (png.mid(c + 4, 4) == type)
            at << c;
    return at;
}

// What `work` prints on this process's standard error, the image library's own printing
// included.
QByteArray standardErrorOf(const std::function<void()>& work, const QString& into)
{
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(QFile::encodeName(into).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    work();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return bytesOf(into);
}

} // namespace

class TestPictureFile : public QObject {
    Q_OBJECT

private slots:
    void pngDecodesToThePicture_data()
    {
        QTest::addColumn<QImage>("img");
        QTest::addColumn<int>("band");
        QTest::newRow("1 x 1") << picture(1, 1, 1) << 1;
        QTest::newRow("3 x 5, bands of 2") << picture(3, 5, 2) << 2;
        QTest::newRow("8193 x 2, row by row") << picture(8193, 2, 3) << 1;
        // Pieces of 499 rows: bands that end inside pieces and across them.
        QTest::newRow("700 x 1100, bands of 7") << picture(700, 1100, 4) << 7;
        QTest::newRow("700 x 1100, bands of 600") << picture(700, 1100, 5) << 600;
        QTest::newRow("see-through pixels") << picture(57, 33, 6, true) << 5;
        // Large enough for the fast compression.
        QTest::newRow("4100 x 4100") << picture(4100, 4100, 7) << 1000;
        Scene s = Scene::builtIn();
        s.Wid = 333;
        s.Hey = 250;
        QTest::newRow("rendered picture") << render(s) << 64;
    }

    void pngDecodesToThePicture()
    {
        QFETCH(QImage, img);
        QFETCH(int, band);
        QTemporaryDir dir;
        const QString whole = dir.filePath("whole.png"), banded = dir.filePath("banded.png");
        QString why;
        QVERIFY2(writePicture(img, whole, why), qPrintable(why));
        const bool alpha = QTest::currentDataTag() == QLatin1String("see-through pixels");
        QVERIFY(writeInBands(img, banded, band, alpha));
        // The bytes depend on the pixels alone, not on the bands they came in.
        QCOMPARE(bytesOf(banded), bytesOf(whole));
        QString wrong;
        const QByteArray rows = strictPngRows(bytesOf(whole), wrong);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        const int channels = alpha ? 4 : 3;
        for (int y = 0; y < img.height(); y += std::max(1, img.height() / 7))
            for (int x = 0; x < img.width(); x += std::max(1, img.width() / 9)) {
                const char* px = rows.constData() + y * (1 + qsizetype(img.width()) * channels) + 1 + x * channels;
                QCOMPARE(qRgba(uchar(px[0]), uchar(px[1]), uchar(px[2]), channels == 4 ? uchar(px[3]) : 255),
                         img.pixel(x, y));
            }
        QImage back(whole, "png");
        QVERIFY(!back.isNull());
        QCOMPARE(back.size(), img.size());
        QCOMPARE(back.convertToFormat(QImage::Format_ARGB32), img);
    }

    void pngRowsThatRepeatTakeAlmostNothing_data()
    {
        QTest::addColumn<int>("band");
        QTest::newRow("whole") << 0;
        QTest::newRow("bands of 7 rows") << 7;
    }

    void pngRowsThatRepeatTakeAlmostNothing()
    {
        // Rows of noise too long for the compressor to find the row above (36 KB against its
        // 32 KB window): only the filtering against the row above leaves runs to compress.
        QFETCH(int, band);
        QRandomGenerator gen(9);
        QImage img(12000, 60, QImage::Format_ARGB32);
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, 0, qRgb(int(gen.bounded(256)), int(gen.bounded(256)), int(gen.bounded(256))));
        for (int y = 1; y < img.height(); ++y)
            std::copy_n(img.constScanLine(0), img.bytesPerLine(), img.scanLine(y));
        QTemporaryDir dir;
        const QString path = dir.filePath("rows.png");
        QString why;
        QVERIFY(band == 0 ? writePicture(img, path, why) : writeInBands(img, path, band));
        const qint64 size = QFileInfo(path).size();
        QVERIFY2(size > 0 && size < 100000, qPrintable(QString::number(size)));
        QCOMPARE(QImage(path, "png").convertToFormat(QImage::Format_ARGB32), img);
    }

    void ppmBytes()
    {
        const QImage img = picture(5, 3, 8);
        QTemporaryDir dir;
        QString why;
        QVERIFY(writePicture(img, dir.filePath("a.ppm"), why));
        QByteArray want = "P6\n5 3\n255\n";
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                want += char(qRed(img.pixel(x, y)));
                want += char(qGreen(img.pixel(x, y)));
                want += char(qBlue(img.pixel(x, y)));
            }
        QCOMPARE(bytesOf(dir.filePath("a.ppm")), want);
        QVERIFY(writeInBands(img, dir.filePath("b.ppm"), 2));
        QCOMPARE(bytesOf(dir.filePath("b.ppm")), want);
    }

    void jpegAndBmpAsTheImageLibraryWritesThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("JPEG") << "p.jpg" << QByteArray("jpeg");
        QTest::newRow("BMP") << "p.bmp" << QByteArray("bmp");
    }

    void jpegAndBmpAsTheImageLibraryWritesThem()
    {
        // The same bytes as the image library gives for the opaque picture, in bands or whole.
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        const QImage img = picture(61, 47, 9);
        QByteArray want;
        QBuffer buffer(&want);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (format == "jpeg")
            writer.setQuality(95);
        QVERIFY(writer.write(img.convertToFormat(QImage::Format_RGB32)));
        QTemporaryDir dir;
        QString why;
        QVERIFY(writePicture(img, dir.filePath(name), why));
        QCOMPARE(bytesOf(dir.filePath(name)), want);
        QVERIFY(writeInBands(img, dir.filePath("b-" + name), 10));
        QCOMPARE(bytesOf(dir.filePath("b-" + name)), want);
    }

    void wrongRowsLeaveNoFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("bandWidth");
        QTest::addColumn<int>("rows");
        QTest::newRow("PNG, rows missing") << "a.png" << 20 << 9;
        QTest::newRow("PNG, too many rows") << "a.png" << 20 << 11;
        QTest::newRow("PNG, narrower rows") << "a.png" << 19 << 10;
        QTest::newRow("PPM, rows missing") << "a.ppm" << 20 << 1;
        QTest::newRow("JPEG, wider rows") << "a.jpg" << 21 << 10;
        QTest::newRow("BMP, no rows") << "a.bmp" << 20 << 0;
    }

    void wrongRowsLeaveNoFile()
    {
        QFETCH(QString, name);
        QFETCH(int, bandWidth);
        QFETCH(int, rows);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        }
        QString why;
        PictureWriter w;
        QVERIFY(w.open(path, 20, 10, why));
        bool ok = true;
        if (rows > 0)
            ok = w.write(picture(bandWidth, rows, 10), why);
        ok = w.finish(why) && ok;
        QVERIFY(!ok);
        QVERIFY(why.contains(path));
        QCOMPARE(bytesOf(path), QByteArray("old"));
    }

    // --skip-existing trusts a PNG frame only when it is whole, and finds out without a word:
    // the image library's PNG decoder would print "libpng error: ..." for each damaged one.
    void damagedPngsAreNotWholeAndSayNothing_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("whole");
        QTest::newRow("none") << "none" << true;
        QTest::newRow("image data changed, CRC as it was") << "data" << false;
        QTest::newRow("image data changed, CRC made again") << "data, CRC" << false;
        QTest::newRow("stream's check value changed, CRC made again") << "check, CRC" << false;
        QTest::newRow("another width in the header, CRC made again") << "width, CRC" << false;
        QTest::newRow("a byte taken out of the image data") << "cut" << false;
        QTest::newRow("an image data chunk left out") << "drop" << false;
    }

    void damagedPngsAreNotWholeAndSayNothing()
    {
        QFETCH(QString, damage);
        QFETCH(bool, whole);
        QTemporaryDir dir;
        const QString path = dir.filePath("f.png");
        QString why;
        QVERIFY(writePicture(picture(300, 200, 5), path, why));
        QByteArray png = bytesOf(path);
        const QList<qsizetype> idat = chunksOf(png, "IDAT");
        QVERIFY(idat.size() >= 3); // the stream's header, its data, its check value
        const qsizetype data = idat[1], check = idat.last();
        if (damage.startsWith("data"))
            png[data + 8 + bigEndian(png.constData() + data) / 2] ^= 0x10;
        else if (damage.startsWith("check"))
            png[check + 8] ^= 0x01;
        else if (damage.startsWith("width"))
            png[8 + 8 + 3] ^= 0x01;
        else if (damage == "cut")
            png.remove(data + 20, 1);
        else if (damage == "drop")
            png.remove(data, 12 + bigEndian(png.constData() + data));
        if (damage.endsWith("CRC"))
            fixCrc(png, damage.startsWith("data") ? data : damage.startsWith("check") ? check : 8);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(png) == png.size());
        f.close();
        bool found = !whole;
        const QByteArray said =
            standardErrorOf([&] { found = isWholePicture(path, QSize(300, 200)); }, dir.filePath("stderr"));
        QCOMPARE(found, whole);
        QVERIFY2(said.isEmpty(), said.constData());
    }

    // A band that does not fit is refused and draws nothing, so that a caller's mistake is
    // reported rather than left as rows never written.
    void reduceBlocksRefusesSizesThatDisagree_data()
    {
        QTest::addColumn<int>("k");
        QTest::addColumn<QSize>("band");
        QTest::addColumn<QSize>("out");
        QTest::addColumn<int>("outRow");
        QTest::addColumn<bool>("fits");
        QTest::newRow("fits") << 2 << QSize(8, 4) << QSize(4, 3) << 1 << true;
        QTest::newRow("cut inside a block") << 2 << QSize(8, 3) << QSize(4, 3) << 0 << false;
        QTest::newRow("wider than k times the picture") << 2 << QSize(10, 4) << QSize(4, 3) << 0 << false;
        QTest::newRow("narrower than k times the picture") << 2 << QSize(6, 4) << QSize(4, 3) << 0 << false;
        QTest::newRow("rows past the picture's end") << 2 << QSize(8, 4) << QSize(4, 3) << 2 << false;
        QTest::newRow("a row before the first") << 2 << QSize(8, 4) << QSize(4, 3) << -1 << false;
        QTest::newRow("k of 0") << 0 << QSize(8, 4) << QSize(4, 3) << 0 << false;
    }

    void reduceBlocksRefusesSizesThatDisagree()
    {
        QFETCH(int, k);
        QFETCH(QSize, band);
        QFETCH(QSize, out);
        QFETCH(int, outRow);
        QFETCH(bool, fits);
        QImage fine(band, QImage::Format_ARGB32), coarse(out, QImage::Format_ARGB32);
        fine.fill(qRgb(10, 20, 30));
        coarse.fill(Qt::white);
        const QImage before = coarse.copy();
        QCOMPARE(reduceBlocks(fine, k, coarse, outRow), fits);
        if (fits)
            QCOMPARE(coarse.pixel(0, outRow), qRgb(10, 20, 30));
        else
            QCOMPARE(coarse, before);
    }

    void unwritablePlaces()
    {
        QTemporaryDir dir;
        QString why;
        PictureWriter w;
        QVERIFY(!w.open(dir.filePath("no/such/folder/a.png"), 4, 4, why));
        QVERIFY(why.startsWith("cannot open"));
        QVERIFY(!writePicture(picture(4, 4, 11), dir.filePath("a.gif"), why));
        QVERIFY(why.contains("cannot tell the picture format"));
    }
};

QTEST_MAIN(TestPictureFile)
#include "test_picturefile.moc"
