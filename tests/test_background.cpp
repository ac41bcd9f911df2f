// The background renderer and the order of picture work above it, with small scenes and a
// clock the tests set.
#include <QSignalSpy>
#include <QtTest>

#include "jobs/picturejobs.h"
#include "picture/blur.h"
#include "jobs/background.h"
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

    // PictureJobs: which pictures are made and shown, in which order.

    void requestsEndAsOneByOne_data()
    {
        QTest::addColumn<QString>("steps");
        // R renders the next camera, B blurs, P previews the next camera, F lets the next blur
        // run again (as the scene commands do). Each ends with a full picture: a preview is not
        // kept.
        for (const char* steps : {"R", "RB", "RBR", "RBB", "BRB", "PB", "PPR", "RPB", "BPR", "RBPRB", "BFB", "RBFB",
                                  "RBFBFB", "PBFB", "RBFBR"})
            QTest::newRow(steps) << QString(steps);
    }

    void requestsEndAsOneByOne()
    {
        QFETCH(QString, steps);
        PictureJobs quick, patient;
        quick.adopt(render(small()));
        patient.adopt(render(small()));
        QString quickMessage, patientMessage;
        connect(&quick, &PictureJobs::shown, this, [&](const QImage&, bool, const QString& m) { quickMessage = m; });
        connect(&patient, &PictureJobs::shown, this, [&](const QImage&, bool, const QString& m) { patientMessage = m; });
        // The same steps, given all at once and one after another's picture.
        float x = 0;
        for (PictureJobs* jobs : {&quick, &patient}) {
            x = 0;
            for (QChar step : steps) {
                if (step == 'R')
                    jobs->render(small(x + 0.1f), "rendered");
                else if (step == 'P')
                    jobs->preview(small(x + 0.1f));
                else if (step == 'F')
                    jobs->forgetBlur();
                else
                    jobs->blur(small(x), "blurred");
                if (step == 'R' || step == 'P')
                    x += 0.1f;
                if (jobs == &patient)
                    QTRY_VERIFY_WITH_TIMEOUT(!patient.busy(), 20000);
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(!quick.busy(), 20000);
        QCOMPARE(quick.blurred(), patient.blurred());
        QCOMPARE(quick.picture(), patient.picture());
        QCOMPARE(quickMessage, patientMessage);
        // Known answer: the last camera's picture, blurred once for each blur since the camera
        // last moved (a blur on a blurred picture does nothing until F).
        int blurs = 0;
        bool blurred = false;
        for (QChar step : steps) {
            if (step == 'B' && !blurred)
                ++blurs;
            if (step == 'R' || step == 'P')
                blurs = 0;
            blurred = step == 'B' || (blurred && step != 'F' && step != 'R' && step != 'P');
        }
        QImage expected = render(small(x));
        for (; blurs > 0; --blurs)
            expected = blurReference(expected);
        QCOMPARE(rgb(quick.picture()), rgb(expected));
    }

    void previewsFasterThanTheyAreMadeStillShow()
    {
        // Previews asked for far faster than one is made, as a quick drag does: the one on its
        // way is let finish, so pictures follow while the requests go on.
        PictureJobs jobs;
        jobs.adopt(render(small()));
        int shown = 0;
        connect(&jobs, &PictureJobs::standIn, this, [&] { ++shown; });
        QElapsedTimer clock;
        clock.start();
        float x = 0;
        while (shown < 3 && clock.elapsed() < 20000) {
            jobs.preview(small(x += 0.001f, 256, 192));
            QCoreApplication::processEvents();
        }
        QVERIFY2(shown >= 3, qPrintable(QStringLiteral("%1 previews shown").arg(shown)));
        // A full picture asked for ends them: no preview shows after it, and it is the picture kept.
        const int before = shown;
        jobs.render(small(x), "rendered");
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.busy(), 20000);
        drain();
        QCOMPARE(shown, before);
        QCOMPARE(jobs.picture(), render(small(x)));
    }

    void largePicturesShowCoarseFirst_data()
    {
        QTest::addColumn<qint64>("coarseFrom");
        QTest::addColumn<bool>("coarse");
        QTest::newRow("above the limit") << qint64(64 * 48 - 1) << true;
        QTest::newRow("at the limit") << qint64(64 * 48) << false;
    }

    void largePicturesShowCoarseFirst()
    {
        QFETCH(qint64, coarseFrom);
        QFETCH(bool, coarse);
        PictureJobs jobs;
        jobs.setCoarseFrom(coarseFrom);
        QList<QImage> standIns;
        bool fullSeen = false;
        connect(&jobs, &PictureJobs::standIn, this, [&](const QImage& display, bool isCoarse) {
            QVERIFY(isCoarse && !fullSeen);
            standIns << display;
        });
        connect(&jobs, &PictureJobs::shown, this, [&] { fullSeen = true; });
        jobs.render(small(), "rendered");
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.busy(), 20000);
        QVERIFY(fullSeen);
        QCOMPARE(standIns.size(), coarse ? 1 : 0);
        if (coarse)
            QCOMPARE(standIns[0], rgb(render(small(0, 64 / PictureJobs::kCoarseDivisor, 48 / PictureJobs::kCoarseDivisor))));
    }

    void previewsAreSizedByTheLastRender_data()
    {
        QTest::addColumn<int>("renderMs");
        QTest::addColumn<QSize>("preview");
        // Whole while the last render took a frame of 16 ms or less; above that, reduced so that
        // a preview takes about a frame: by the square root of the frames the last render took,
        // rounded up.
        QTest::newRow("quick render: whole") << 5 << QSize(64, 48);
        QTest::newRow("a frame: whole") << 16 << QSize(64, 48);
        QTest::newRow("just over a frame: a half") << 17 << QSize(32, 24);
        QTest::newRow("30 ms: a half") << 30 << QSize(32, 24);
        QTest::newRow("300 ms: a fifth") << 300 << QSize(12, 9);
        QTest::newRow("1 s: an eighth") << 1000 << QSize(8, 6);
    }

    void previewsAreSizedByTheLastRender()
    {
        QFETCH(int, renderMs);
        QFETCH(QSize, preview);
        qint64 now = 0;
        PictureJobs jobs;
        jobs.setClock([&now] { return now; });
        double seconds = -1;
        QImage standIn;
        connect(&jobs, &PictureJobs::shown, this,
                [&](const QImage&, bool, const QString&, bool, double s) { seconds = s; });
        connect(&jobs, &PictureJobs::standIn, this, [&](const QImage& display) { standIn = display; });
        jobs.render(small(), QString());
        now = renderMs;
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.busy(), 20000);
        QCOMPARE(seconds, renderMs / 1000.0);
        jobs.preview(small(0.3f));
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.busy(), 20000);
        QCOMPARE(standIn.size(), preview);
        QCOMPARE(standIn, rgb(render(small(0.3f, preview.width(), preview.height()))));
        // A preview is shown, never kept.
        QCOMPARE(jobs.picture(), render(small()));
    }

    void fullPictureDoesNotWaitForARunningPreview_data()
    {
        QTest::addColumn<bool>("blur");
        QTest::newRow("render") << false;
        QTest::newRow("blur") << true;
    }

    void fullPictureDoesNotWaitForARunningPreview()
    {
        // A drag's preview is on its way when the drag ends: the full picture asked for then
        // stops it rather than waiting for it. Previews let each other finish; full pictures
        // do not. Deterministic: a preview that finished meanwhile is dropped on arrival.
        QFETCH(bool, blur);
        PictureJobs jobs;
        jobs.adopt(render(small()));
        auto* renderer = jobs.findChild<BackgroundRenderer*>();
        QVERIFY(renderer);
        QSignalSpy arrived(renderer, &BackgroundRenderer::finished);
        QSignalSpy standIn(&jobs, &PictureJobs::standIn);
        // No render measured yet: the preview is whole, and takes a while.
        jobs.preview(small(0.1f, 1024, 768));
        if (blur)
            QVERIFY(jobs.blur(small(0.1f), "blurred"));
        else
            jobs.render(small(0.1f), "rendered");
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.busy(), 20000);
        drain();
        QCOMPARE(arrived.size(), 1);
        QCOMPARE(standIn.size(), 0);
        QCOMPARE(jobs.picture(), blur ? blurReference(render(small(0.1f))) : render(small(0.1f)));
    }

    void renderedPictureAndScreenFormShareOneBuffer()
    {
        // The picture is rendered once, in the screen's 32-bit RGB format; its ARGB32 form is
        // the same bytes, not a copy.
        PictureJobs jobs;
        jobs.render(small(0.2f), "rendered");
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.busy(), 20000);
        QCOMPARE(jobs.picture().format(), QImage::Format_ARGB32);
        QCOMPARE(jobs.display().format(), QImage::Format_RGB32);
        QCOMPARE(jobs.picture().constBits(), jobs.display().constBits());
        QCOMPARE(jobs.picture(), render(small(0.2f)));
        QCOMPARE(jobs.display(), rgb(render(small(0.2f))));
        // A picture taken before the window shows is shared the same way.
        PictureJobs adopted;
        adopted.adopt(render(small(0.3f)));
        QCOMPARE(adopted.display().constBits(), adopted.picture().constBits());
        QCOMPARE(adopted.display(), rgb(render(small(0.3f))));
    }

    void sameBitsAs_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("shared");
        const QImage argb = render(small(0, 16, 12));
        QTest::newRow("ARGB32 as RGB32") << argb << int(QImage::Format_RGB32) << true;
        QTest::newRow("RGB32 as ARGB32") << rgb(argb) << int(QImage::Format_ARGB32) << true;
        QTest::newRow("same format") << argb << int(QImage::Format_ARGB32) << true;
        // Other formats hold other bytes: converted.
        QTest::newRow("RGB888 as RGB32") << argb.convertToFormat(QImage::Format_RGB888) << int(QImage::Format_RGB32)
                                         << false;
        QTest::newRow("ARGB32 as premultiplied") << argb << int(QImage::Format_ARGB32_Premultiplied) << false;
        QTest::newRow("null") << QImage() << int(QImage::Format_RGB32) << false;
    }

    void sameBitsAs()
    {
        QFETCH(QImage, image);
        QFETCH(int, format);
        QFETCH(bool, shared);
        const QImage expected = image.convertToFormat(QImage::Format(format));
        QImage seen = ::sameBitsAs(image, QImage::Format(format));
        QCOMPARE(seen, expected);
        QCOMPARE(!image.isNull() && seen.constBits() == image.constBits(), shared);
        if (image.isNull())
            return;
        // Writing to either leaves the other as it was.
        const QImage before = image.copy();
        seen.setPixel(0, 0, qRgb(1, 2, 3));
        QCOMPARE(image, before);
        image.setPixel(1, 0, qRgb(4, 5, 6));
        QCOMPARE(seen.pixel(1, 0), expected.pixel(1, 0));
        // The view keeps the memory alive after the image it was made from has gone.
        const QImage kept = ::sameBitsAs(before.copy(), QImage::Format(format));
        QCOMPARE(kept, expected);
    }

    void stopKeepsThePictureAndForgetsTheBlur()
    {
        PictureJobs jobs;
        jobs.adopt(render(small()));
        QSignalSpy shown(&jobs, &PictureJobs::shown);
        QSignalSpy busy(&jobs, &PictureJobs::busyChanged);
        jobs.render(small(0.2f), "rendered");
        QVERIFY(jobs.blur(small(0.2f), "blurred"));
        QVERIFY(!jobs.blur(small(0.2f), "blurred")); // already on its way
        jobs.stop();
        QVERIFY(!jobs.busy());
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy[1][0].toBool(), false);
        drain();
        QCOMPARE(shown.size(), 0);
        QCOMPARE(jobs.picture(), render(small()));
        // The blur never came, so the next one renders the camera and blurs it.
        QVERIFY(!jobs.blurred());
        QVERIFY(jobs.blur(small(0.2f), "blurred"));
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.busy(), 20000);
        QCOMPARE(jobs.picture(), blurReference(render(small(0.2f))));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0][2].toString(), QStringLiteral("blurred"));
    }
};

QTEST_MAIN(TestBackground)
#include "test_background.moc"
