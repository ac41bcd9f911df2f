#include <QTemporaryDir>
#include <QtTest>

#include <cfloat>

#include "picture/animation.h"
#include "picture/blur.h"
#include "picture/picturecheck.h"
#include "picture/picturefile.h"
#include "picture/supersample.h"
#include "picture/videowriter.h"
#include "render/tracer.h"

namespace {

// Each k x k block of `fine` as one pixel, pixel by pixel: the reduction as it is defined.
QImage reducedByHand(const QImage& fine, int k)
{
    QImage out(fine.width() / k, fine.height() / k, QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            int sum[3] = {0, 0, 0};
            for (int dy = 0; dy < k; ++dy)
                for (int dx = 0; dx < k; ++dx) {
                    const QRgb c = fine.pixel(x * k + dx, y * k + dy);
                    sum[0] += qRed(c);
                    sum[1] += qGreen(c);
                    sum[2] += qBlue(c);
                }
            const int n = k * k;
            out.setPixel(x, y, qRgb((sum[0] + n / 2) / n, (sum[1] + n / 2) / n, (sum[2] + n / 2) / n));
        }
    return out;
}

Scene sized(int wid, int hey, Vector3D camera = Vector3D(0, 0, -1.5f))
{
    Scene s = Scene::builtIn();
    s.Wid = wid;
    s.Hey = hey;
    s.CamPos = camera;
    return s;
}

} // namespace

class TestAnimation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The window's settings stay out of the user's.
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("LumivexTests");
    }

    // One block of k x k pixels whose red, green and blue sums fall on either side of a half.
    void blockMeansRoundHalfUp_data()
    {
        QTest::addColumn<int>("k");
        QTest::addColumn<QList<int>>("values"); // the block's red values; green is 255 - red, blue 0 or 255
        QTest::addColumn<QRgb>("expected");
        QTest::newRow("2: 0.5 up, 254.5 up") << 2 << QList<int>{0, 0, 1, 1} << qRgb(1, 255, 0);
        QTest::newRow("2: 0.25 down, 254.75 up") << 2 << QList<int>{0, 0, 0, 1} << qRgb(0, 255, 0);
        QTest::newRow("2: 0.75 up, 254.25 down") << 2 << QList<int>{1, 1, 1, 0} << qRgb(1, 254, 0);
        QTest::newRow("3: 4/9 down") << 3 << QList<int>{1, 1, 1, 1, 0, 0, 0, 0, 0} << qRgb(0, 255, 0);
        QTest::newRow("3: 5/9 up") << 3 << QList<int>{1, 1, 1, 1, 1, 0, 0, 0, 0} << qRgb(1, 254, 0);
        QList<int> half(64, 0);
        std::fill(half.begin(), half.begin() + 32, 255);
        QTest::newRow("8: 127.5 up, all 255 stays") << 8 << half << qRgb(128, 128, 255);
    }

    void blockMeansRoundHalfUp()
    {
        QFETCH(int, k);
        QFETCH(QList<int>, values);
        QFETCH(QRgb, expected);
        // Two blocks side by side, the second with red and green swapped.
        QImage band(2 * k, k, QImage::Format_ARGB32);
        for (int i = 0; i < k * k; ++i) {
            const int r = values[i], blue = qBlue(expected);
            band.setPixel(i % k, i / k, qRgb(r, 255 - r, blue));
            band.setPixel(k + i % k, i / k, qRgb(255 - r, r, blue));
        }
        QImage out(2, 3, QImage::Format_ARGB32);
        out.fill(Qt::white);
        reduceBlocks(band, k, out, 1);
        QCOMPARE(out.pixel(0, 1), expected);
        QCOMPARE(out.copy(0, 1, 2, 1), reducedByHand(band, k));
        QCOMPARE(out.pixel(0, 0), qRgb(255, 255, 255)); // rows outside the band untouched
        QCOMPARE(out.pixel(1, 2), qRgb(255, 255, 255));
        // A band cut inside a block, or one that does not fit, draws nothing.
        const QImage before = out;
        reduceBlocks(band.copy(0, 0, 2 * k, k - 1), k, out, 0);
        reduceBlocks(band, k, out, 3);
        reduceBlocks(band.copy(0, 0, k, k), k, out, 0);
        QCOMPARE(out, before);
    }

    // The finished picture against the k times finer render reduced pixel by pixel: odd sizes,
    // several bands, the plain tracer, the blur after the reduction; k = 1 is the render itself.
    void supersampledEqualsTheFineRenderReduced_data()
    {
        QTest::addColumn<int>("wid");
        QTest::addColumn<int>("hey");
        QTest::addColumn<int>("k");
        QTest::addColumn<bool>("blur");
        QTest::addColumn<bool>("reference");
        QTest::newRow("160 x 120, k 1") << 160 << 120 << 1 << false << false;
        QTest::newRow("160 x 120, k 1, blurred") << 160 << 120 << 1 << true << false;
        QTest::newRow("37 x 23, k 2") << 37 << 23 << 2 << false << false;
        QTest::newRow("37 x 23, k 3, blurred") << 37 << 23 << 3 << true << false;
        QTest::newRow("plain tracer, k 2, blurred") << 19 << 11 << 2 << true << true;
        // 65536 rays a row: three bands of 8, 8 and 4 rows.
        QTest::newRow("8192 x 20, k 8") << 8192 << 20 << 8 << false << false;
        QTest::newRow("1 x 8192, k 8") << 1 << 8192 << 8 << false << false;
    }

    void supersampledEqualsTheFineRenderReduced()
    {
        QFETCH(int, wid);
        QFETCH(int, hey);
        QFETCH(int, k);
        QFETCH(bool, blur);
        QFETCH(bool, reference);
        const Scene scene = sized(wid, hey, Vector3D(0.3f, -0.2f, -1.8f));
        QImage expected = reducedByHand(render(sized(k * wid, k * hey, scene.CamPos)), k);
        if (blur)
            expected = blurReference(expected);
        std::atomic<int> columns{0};
        RenderOptions options;
        options.reference = reference;
        options.columnsDone = &columns;
        QImage picture;
        QCOMPARE(makePicture(scene, PictureSettings{k, blur}, options, picture), PictureResult::Whole);
        QCOMPARE(picture.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(columns.load(), pictureColumns(scene, PictureSettings{k, blur}));
    }

    void refusedAndStoppedPicturesSaySo()
    {
        QImage picture;
        QString why;
        QCOMPARE(makePicture(sized(8193, 10), PictureSettings{}, RenderOptions(), picture, &why), PictureResult::Refused);
        QCOMPARE(makePicture(sized(10, 10), PictureSettings{9, false}, RenderOptions(), picture, &why),
                 PictureResult::Refused);
        QVERIFY(picture.isNull());
        QVERIFY(why.contains("10 x 10"));
        const std::atomic<bool> stop{true};
        RenderOptions options;
        options.cancel = &stop;
        QCOMPARE(makePicture(sized(40, 30), PictureSettings{2, true}, options, picture), PictureResult::Stopped);
    }

    void pathTextReadsBackTheSameFloats()
    {
        CameraPath path;
        path.keys = {{0, Vector3D(0, 0, -1.5f)},
                     {24, Vector3D(0.1f, -0.0f, 1.0f / 3)},
                     {48, Vector3D(FLT_MAX, FLT_TRUE_MIN, -FLT_MIN)},
                     {2147483647, Vector3D(1e-7f, 123456.79f, -2.5e38f)}};
        const QByteArray text = cameraPathText(path);
        QVERIFY2(text.startsWith("0 0 0 -1.5\n24 0.1 -0 0.33333334\n"), text.constData());
        CameraPath back;
        QString why;
        QVERIFY2(parseCameraPath(text, "keys", back, &why), qPrintable(why));
        QCOMPARE(back.keys.size(), path.keys.size());
        for (size_t i = 0; i < path.keys.size(); ++i) {
            QCOMPARE(back.keys[i].frame, path.keys[i].frame);
            QCOMPARE(cameraPathText(CameraPath{{back.keys[i]}}), cameraPathText(CameraPath{{path.keys[i]}}));
            QVERIFY(std::memcmp(&back.keys[i].camera, &path.keys[i].camera, sizeof(Vector3D)) == 0);
        }
        QTemporaryDir dir;
        QVERIFY(writeCameraPath(dir.filePath("keys.txt"), path, &why));
        QVERIFY(readCameraPath(dir.filePath("keys.txt"), back, &why));
        QCOMPARE(cameraPathText(back), text);
        QVERIFY(!writeCameraPath(dir.filePath("no/such/keys.txt"), path, &why));
        QVERIFY(why.contains("cannot open"));
    }

    // A picture cut at its very end may still decode (a PNG without IEND does); the check that
    // --skip-existing trusts must see that it is not whole.
    void picturesCutAtTheirEndAreNotWhole_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("cut"); // bytes taken off the end
        QTest::newRow("PNG without its IEND chunk") << QByteArray("png") << 12;
        QTest::newRow("JPEG without its end marker") << QByteArray("jpg") << 2;
        QTest::newRow("BMP a byte short") << QByteArray("bmp") << 1;
        QTest::newRow("PPM a byte short") << QByteArray("ppm") << 1;
    }

    void picturesCutAtTheirEndAreNotWhole()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, cut);
        QTemporaryDir dir;
        const QString name = dir.filePath("f." + format);
        QVERIFY(render(sized(40, 30)).save(name, format.constData()));
        QVERIFY(isWholePicture(name, QSize(40, 30)));
        QVERIFY(!isWholePicture(name, QSize(30, 40)));
        QFile file(name);
        QVERIFY(file.resize(file.size() - cut));
        QVERIFY(!isWholePicture(name, QSize(40, 30)));
    }

    void videoWriterRefusesWhatItCannotMake()
    {
        if (VideoWriter::ffmpegProgram().isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder.mp4"));
        VideoWriter video;
        QString why;
        QVERIFY(!video.open(dir.filePath("folder.mp4"), QSize(4, 4), 24, why));
        QVERIFY2(why.contains("is a folder"), qPrintable(why));
        QVERIFY(!video.open(dir.filePath("v.mp4"), QSize(0, 4), 24, why));
        QVERIFY(!video.open(dir.filePath("v.mp4"), QSize(4, 4), 0, why));
        QVERIFY(!video.isOpen());
        // A frame of another size gives the video up.
        QVERIFY2(video.open(dir.filePath("v.mp4"), QSize(4, 4), 24, why), qPrintable(why));
        QImage frame(4, 4, QImage::Format_RGB32);
        frame.fill(Qt::red);
        QVERIFY(video.addFrame(frame, why));
        QVERIFY(!video.addFrame(frame.copy(0, 0, 4, 2), why));
        QVERIFY(!video.isOpen());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // The frames the loop hands out are the pictures made one by one at each frame's camera;
    // a stop in the middle leaves whole files only.
    void framesAreThePicturesAtTheirCameras()
    {
        QTemporaryDir dir;
        AnimationJob job;
        job.scene = sized(30, 20);
        QVERIFY(parseCameraPath("3 0 0 -1.5\n9 1 0.5 -3\n", "keys", job.path, nullptr));
        job.smooth = true;
        job.first = 4;
        job.last = 8;
        job.picture = PictureSettings{2, true};
        job.pattern = dir.filePath("f%d.bmp");
        std::atomic<bool> stop{false};
        job.render.cancel = &stop;
        QList<qint64> seen;
        qint64 stopAfter = 6;
        job.frameDone = [&](qint64 f, const QImage& picture) {
            Scene at = job.scene;
            at.CamPos = job.path.cameraAt(f, true);
            QImage expected;
            QCOMPARE(makePicture(at, job.picture, RenderOptions(), expected), PictureResult::Whole);
            QCOMPARE(picture, expected);
            seen << f;
            if (f == stopAfter)
                stop = true;
        };
        AnimationProgress progress;
        AnimationResult r = renderAnimation(job, &progress);
        QCOMPARE(r.end, AnimationResult::Stopped);
        QCOMPARE(seen, (QList<qint64>{4, 5, 6}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"f4.bmp", "f5.bmp", "f6.bmp"}));
        // Resumed: the frames there are kept, the rest made.
        stop = false;
        stopAfter = -1;
        job.skipExisting = true;
        seen.clear();
        r = renderAnimation(job, &progress);
        QCOMPARE(r.end, AnimationResult::Done);
        QCOMPARE(r.written, qint64(2));
        QCOMPARE(r.kept, qint64(3));
        QCOMPARE(progress.framesDone.load(), qint64(3 + 5));
    }

    // A frame counts as written once its file is in place: a stop that comes just then (and
    // gives the video up) still counts it, so that the count is the files there.
    void aFrameCountsOnceItsFileIsInPlace_data()
    {
        QTest::addColumn<bool>("video");
        QTest::newRow("frames only") << false;
        QTest::newRow("frames and a video") << true;
    }

    void aFrameCountsOnceItsFileIsInPlace()
    {
        QFETCH(bool, video);
        if (video && VideoWriter::ffmpegProgram().isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        AnimationJob job;
        job.scene = sized(16, 12);
        QVERIFY(parseCameraPath("0 0 0 -1.5\n9 1 0.5 -3\n", "keys", job.path, nullptr));
        job.first = 0;
        job.last = 9;
        job.pattern = dir.filePath("f%d.ppm");
        if (video)
            job.video = dir.filePath("v.mp4");
        std::atomic<bool> stop{false};
        job.render.cancel = &stop;
        // The stop comes the moment frame 3's file is in place.
        job.writeFrame = [&](const QImage& picture, const QString& name, QString& why) {
            const bool written = writePicture(picture, name, why);
            if (name.endsWith("f3.ppm"))
                stop = true;
            return written;
        };
        const AnimationResult r = renderAnimation(job);
        QCOMPARE(r.end, AnimationResult::Stopped);
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        QCOMPARE(files, (QStringList{"f0.ppm", "f1.ppm", "f2.ppm", "f3.ppm"}));
        QCOMPARE(r.written, qint64(files.size()));
    }

    // Frames done, as the progress shows them, never go back and never pass the frames asked
    // for: read before, during and after each frame, kept ones too.
    void progressOnlyGoesForward()
    {
        QTemporaryDir dir;
        AnimationJob job;
        job.scene = sized(24, 16);
        QVERIFY(parseCameraPath("0 0 0 -1.5\n4 1 0.5 -3\n", "keys", job.path, nullptr));
        job.first = 0;
        job.last = 4;
        job.picture = PictureSettings{2, false};
        job.pattern = dir.filePath("f%d.bmp");
        job.skipExisting = true;
        QVERIFY(render(job.scene).save(dir.filePath("f2.bmp")));
        AnimationProgress progress;
        QList<double> seen;
        job.makeFrame = [&](const Scene& scene, const PictureSettings& settings, const RenderOptions& options,
                            QImage& picture, QString* why) {
            seen << progress.frames();
            const PictureResult r = makePicture(scene, settings, options, picture, why);
            seen << progress.frames();
            return r;
        };
        job.frameDone = [&](qint64, const QImage&) { seen << progress.frames(); };
        const AnimationResult r = renderAnimation(job, &progress);
        seen << progress.frames();
        QCOMPARE(r.end, AnimationResult::Done);
        QCOMPARE(r.kept, qint64(1));
        QCOMPARE(seen.size(), 4 * 3 + 1 + 1);
        for (int k = 1; k < seen.size(); ++k)
            QVERIFY2(seen[k - 1] <= seen[k] && seen[k] <= 5, qPrintable(QString::number(k)));
        QCOMPARE(seen.last(), 5.0);
        QCOMPARE(progress.encoding.load(), false);
    }
};

QTEST_GUILESS_MAIN(TestAnimation)
#include "test_animation.moc"
