#include <QRandomGenerator>
#include <QtTest>

#include "picture/blur.h"
#include "render/tracer.h"

namespace {

QImage blackImage(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(qRgb(0, 0, 0));
    return img;
}

QImage noise(int w, int h, quint32 seed)
{
    QRandomGenerator gen(seed);
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(gen.bounded(256), gen.bounded(256), gen.bounded(256)));
    return img;
}

} // namespace

class TestBlur : public QObject {
    Q_OBJECT

private slots:
    void kernel()
    {
        const BlurKernel k = makeBlurKernel();
        QCOMPARE(k.N, 4);
        QCOMPARE(int(k.wind.size()), 9);
        QCOMPARE(k.wind[4], 1.0);
        const double expected[] = {0.000335463, 0.011108997, 0.135335283, 0.606530660};
        for (int i = 0; i < 4; ++i) {
            QVERIFY(std::fabs(k.wind[i] - expected[i]) < 1e-9);
            QCOMPARE(k.wind[8 - i], k.wind[i]);
        }
        double sum = 0;
        for (double w : k.wind)
            sum += w;
        QVERIFY(std::fabs(sum - 2.50662080) < 1e-8);
    }

    void brightPixelSpreads()
    {
        QImage img = blackImage(21, 21);
        img.setPixel(10, 10, qRgb(255, 255, 255));
        const QImage out = blurReference(img);
        // 255 / S truncated is 101 after the first pass, 101 / S truncated is 40 after the second.
        QCOMPARE(qRed(out.pixel(10, 10)), 40);
        QCOMPARE(qGreen(out.pixel(10, 10)), 40);
        // The spread stops 4 pixels away: beyond, nothing.
        QCOMPARE(out.pixel(15, 10), qRgb(0, 0, 0));
        QCOMPARE(out.pixel(10, 5), qRgb(0, 0, 0));
        QVERIFY(qRed(out.pixel(14, 10)) == 0 && qRed(out.pixel(11, 10)) > 0);
        QCOMPARE(out.format(), QImage::Format_RGB32);
    }

    void cornerWindowIsRenormalised()
    {
        // A flat picture stays flat up to the truncation of the quotient, corners included.
        QImage img = blackImage(9, 7);
        img.fill(qRgb(200, 100, 0));
        const QImage out = blurReference(img);
        for (const QPoint p : {QPoint(0, 0), QPoint(8, 6), QPoint(4, 3)}) {
            QVERIFY(qAbs(qRed(out.pixel(p)) - 200) <= 1);
            QVERIFY(qAbs(qGreen(out.pixel(p)) - 100) <= 1);
        }
        // A lone corner pixel is averaged over the 5 x 5 taps that stay inside.
        QImage corner = blackImage(12, 12);
        corner.setPixel(0, 0, qRgb(255, 0, 0));
        const BlurKernel k = makeBlurKernel();
        const double cut = k.wind[4] + k.wind[5] + k.wind[6] + k.wind[7] + k.wind[8];
        const int once = int(255 * k.wind[4] / cut);
        QCOMPARE(qRed(blurReference(corner).pixel(0, 0)), int(once * k.wind[4] / cut));
    }

    void fastBlurMatchesReference_data()
    {
        QTest::addColumn<QImage>("source");
        QTest::addColumn<int>("threads");
        QTest::newRow("noise 37x23, 1 thread") << noise(37, 23, 1) << 1;
        QTest::newRow("noise 5x3, 2 threads") << noise(5, 3, 2) << 2;
        QTest::newRow("single column") << noise(1, 40, 3) << 2;
        QTest::newRow("single pixel") << noise(1, 1, 4) << 1;
        // Lines of 8 and 9 pixels: no whole window, one whole window; blocks of rows on three
        // threads, each reaching into the next.
        QTest::newRow("8 x 8") << noise(8, 8, 12) << 1;
        QTest::newRow("9 x 9") << noise(9, 9, 13) << 2;
        QTest::newRow("tall, 3 threads") << noise(41, 131, 14) << 3;
        QImage alpha = noise(20, 20, 5);
        alpha.setPixel(3, 3, qRgba(10, 20, 30, 0)); // alpha is ignored
        QTest::newRow("non-opaque pixel") << alpha << 2;
        QTest::newRow("RGB32 source") << noise(33, 17, 6).convertToFormat(QImage::Format_RGB32) << 3;
        Scene s = Scene::builtIn();
        s.Wid = 200;
        s.Hey = 150;
        QTest::newRow("rendered scene") << render(s) << 0;
    }

    void fastBlurMatchesReference()
    {
        QFETCH(QImage, source);
        QFETCH(int, threads);
        QCOMPARE(blurImage(source, threads), blurReference(source));
    }
};

QTEST_APPLESS_MAIN(TestBlur)
#include "test_blur.moc"
