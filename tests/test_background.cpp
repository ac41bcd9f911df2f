// The background renderer, with small scenes and a clock the tests set.
#include <QSignalSpy>
#include <QtTest>

#include "picture/blur.h"
#include "render/background.h"
#include "render/tracer.h"

namespace {

Scene small(float x = 0, int wid = 64, int hey = 48)
{
    Scene s = Scene::builtIn();
    s.CamPos.X = x;
    s.Wid = wid;
    s.Hey = hey;
    return s;
}

PictureJob job(const Scene& s, quint64 tag, bool blur = false)
{
    PictureJob j;
    j.scene = s;
    j.tag = tag;
    j.blur = blur;
    return j;
}

QImage rgb(const QImage& img)
{
    return img.convertToFormat(QImage::Format_RGB32);
}

// Waits for every job, given-up ones too, then delivers what they sent.
void drain()
{
    BackgroundRenderer::waitForWorkers();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

#define SETTLE_JOBS(r) QTRY_VERIFY_WITH_TIMEOUT(!(r).busy(), 20000)

} // namespace

class TestBackground : public QObject {
    Q_OBJECT

private slots:
    void newestRequestWins()
    {
        BackgroundRenderer r;
        QSignalSpy done(&r, &BackgroundRenderer::finished);
        // Submitted before any can be delivered: the first is cancelled, the second replaced.
        r.submit(job(small(0.1f), 1));
        r.submit(job(small(0.2f), 2));
        r.submit(job(small(0.3f), 3));
        SETTLE_JOBS(r);
        drain();
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toULongLong(), 3ull);
        QCOMPARE(done[0][1].value<QImage>(), render(small(0.3f)));
        QCOMPARE(done[0][2].value<QImage>(), rgb(render(small(0.3f))));
    }

    void aRunningJobStillWantedFinishes()
    {
        BackgroundRenderer r;
        QSignalSpy done(&r, &BackgroundRenderer::finished);
        r.submit(job(small(0.1f), 1));
        r.submit(job(small(0.1f), 2, true), true);
        SETTLE_JOBS(r);
        QCOMPARE(done.size(), 2);
        QCOMPARE(done[0][0].toULongLong(), 1ull);
        QCOMPARE(done[0][1].value<QImage>(), render(small(0.1f)));
        QCOMPARE(done[1][0].toULongLong(), 2ull);
        QCOMPARE(done[1][1].value<QImage>(), blurReference(render(small(0.1f))));
    }

    void blurOfAGivenPicture()
    {
        BackgroundRenderer r;
        QSignalSpy done(&r, &BackgroundRenderer::finished);
        PictureJob j = job(small(), 7, true);
        j.source = render(small(-0.4f));
        r.submit(j);
        SETTLE_JOBS(r);
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][1].value<QImage>(), blurReference(j.source));
    }

    void coarsePictureComesFirst()
    {
        BackgroundRenderer r;
        QStringList order;
        QImage coarse;
        connect(&r, &BackgroundRenderer::coarse, this, [&](quint64 tag, const QImage& display) {
            order << QStringLiteral("coarse %1").arg(tag);
            coarse = display;
        });
        connect(&r, &BackgroundRenderer::finished, this,
                [&](quint64 tag, const QImage&, const QImage&, double) { order << QStringLiteral("full %1").arg(tag); });
        PictureJob j = job(small(), 5);
        j.coarse = 8;
        r.submit(j);
        SETTLE_JOBS(r);
        QCOMPARE(order, QStringList({"coarse 5", "full 5"}));
        QCOMPARE(coarse, rgb(render(small(0, 8, 6))));
    }

    void stopAllDropsEverythingAtOnce()
    {
        BackgroundRenderer r;
        QSignalSpy done(&r, &BackgroundRenderer::finished);
        r.submit(job(small(0, 1024, 768), 1));
        r.submit(job(small(0.5f), 2));
        r.stopAll();
        QVERIFY(!r.busy());
        // A new request starts at once, not after the stopped one.
        r.submit(job(small(0.7f), 3));
        QCOMPARE(r.runningTag(), 3ull);
        SETTLE_JOBS(r);
        drain();
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toULongLong(), 3ull);
    }

    void destroyedWhileAJobRuns()
    {
        bool arrived = false;
        {
            BackgroundRenderer r;
            connect(&r, &BackgroundRenderer::finished, this, [&] { arrived = true; });
            r.submit(job(small(0, 512, 384), 1, true));
        }
        drain();
        QVERIFY(!arrived);
    }

    void theClockTimesTheJobs()
    {
        qint64 now = 10000;
        BackgroundRenderer r;
        r.setClock([&now] { return now; });
        QSignalSpy done(&r, &BackgroundRenderer::finished);
        r.submit(job(small(), 1));
        now = 10300;
        QCOMPARE(r.runningMs(), 300);
        now = 10450;
        SETTLE_JOBS(r);
        QCOMPARE(done[0][3].toDouble(), 0.45);
        QCOMPARE(r.runningMs(), 0);
    }
};

QTEST_MAIN(TestBackground)
#include "test_background.moc"
