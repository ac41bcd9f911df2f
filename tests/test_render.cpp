#include <QCryptographicHash>
#include <QtTest>
#include <cmath>

#include "picture/blur.h"

#include "render/distancefield.h"
#include "render/lighting.h"
#include "render/tracer.h"

namespace {

QString rgb(QRgb c)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// A scene with one sphere on the axis in front of the camera and everything else far away.
Scene oneSphere(const Mater& m)
{
    Scene s = Scene::builtIn();
    for (Sphere* sp : {&s.Sphere1, &s.Sphere2})
        sp->SetPos(Vector3D(0, 0, 500));
    for (Thor* t : {&s.Thor1, &s.Thor2, &s.Thor3})
        t->SetPosCen(Vector3D(0, 500, 0));
    s.Sphere1.SetPos(Vector3D(0, 0, 3));
    s.Sphere1.SetMater(m);
    s.Wid = 16;
    s.Hey = 12;
    return s;
}

} // namespace

class TestRender : public QObject {
    Q_OBJECT

private slots:
    void wholePicturesKnownAnswers_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<bool>("blur");
        QTest::addColumn<QString>("sha1");
        Scene s = Scene::builtIn();
        QTest::newRow("built-in") << s << false << "833f6655512ef4cd84a9bd2df38f7dd68d7ee2fd";
        QTest::newRow("built-in, blurred") << s << true << "4248b8db30d1e78953f32a7eceb335183e5eec7f";
        s.CamPos = Vector3D(1, 0.5f, -3);
        QTest::newRow("back (1,0.5,-3)") << s << false << "ebc603ab57ccfe40608ff28964c3ef828adf45db";
        s.CamPos = Vector3D(4, -2, -0.5f);
        QTest::newRow("by the tori (4,-2,-0.5)") << s << true << "21ad6ce7e8e9a6aae9965efcf44d938fb64324ba";
        // Five see-through objects in a row on the axis: the middle rays meet all five.
        Scene row = Scene::builtIn();
        row.Wid = 64;
        row.Hey = 48;
        row.CamPos = Vector3D(0.01f, 0.02f, -3);
        const float zs[5] = {0, 1.5f, 3, 4.5f, 6};
        Mater* mats[5] = {&row.Sphere1.Material, &row.Sphere2.Material, &row.Thor1.Material, &row.Thor2.Material,
                          &row.Thor3.Material};
        row.Sphere1.Position = Vector3D(0, 0, zs[0]);
        row.Sphere2.Position = Vector3D(0, 0, zs[1]);
        row.Sphere1.Radius = row.Sphere2.Radius = 0.3f;
        Thor* tori[3] = {&row.Thor1, &row.Thor2, &row.Thor3};
        for (int k = 0; k < 3; ++k) {
            tori[k]->PosCen = Vector3D(0, 0, zs[k + 2]);
            tori[k]->Radius = 0; // a ring of radius 0: a ball of the tube's width
            tori[k]->Width = 0.3f;
        }
        for (int k = 0; k < 5; ++k) {
            mats[k]->Reflectivity = Vector3D(0.2f, 0.2f, 0.2f);
            mats[k]->Colour = Vector3D(k % 2 ? 0.1f : 0.05f, 0.02f * k, 0.03f);
        }
        QTest::newRow("five in a row") << row << false << "4c3e00b41e2554e09fe7882ba8c3e68232177555";
    }

    void wholePicturesKnownAnswers()
    {
        // Whole pictures as rendered and checked once: any change to any formula shows here.
        QFETCH(Scene, scene);
        QFETCH(bool, blur);
        QFETCH(QString, sha1);
        QImage img = render(scene);
        if (blur)
            img = blurImage(img);
        img = img.convertToFormat(QImage::Format_ARGB32);
        const QByteArray bits(reinterpret_cast<const char*>(img.constBits()), img.sizeInBytes());
        QCOMPARE(QString(QCryptographicHash::hash(bits, QCryptographicHash::Sha1).toHex()), sha1);
    }

    void distanceCandidates_data()
    {
        QTest::addColumn<Vector3D>("p");
        QTest::addColumn<int>("object");
        QTest::addColumn<float>("expected");
        QTest::addColumn<float>("tolerance");
        const Vector3D cam(0, 0, -1.5f);
        QTest::newRow("camera, Sphere1") << cam << 1 << 4.4083f << 1e-4f;
        QTest::newRow("camera, Sphere2") << cam << 2 << 2.5f << 0.0f;
        QTest::newRow("camera, Thor1") << cam << 3 << 2.3889f << 1e-4f;
        QTest::newRow("camera, Thor2") << cam << 4 << 4.4021f << 1e-4f;
        QTest::newRow("camera, Thor3") << cam << 5 << 4.4885f << 1e-4f;
        QTest::newRow("Thor1 tube centre") << Vector3D(-1, 1, 1) << 3 << -0.4f << 1e-6f;
        QTest::newRow("Thor2 ring centre") << Vector3D(4, 2, 3) << 4 << 0.6f << 1e-6f;
        // The eighth-power norms give square profiles; a circle would put these outside.
        QTest::newRow("inside Thor3's square ring") << Vector3D(4.4f, -1.6f, 3) << 5 << -0.0638f << 1e-4f;
        QTest::newRow("inside Thor2's square tube") << Vector3D(4.98f, 2, 3.18f) << 4 << -0.0037f << 1e-4f;
    }

    void distanceCandidates()
    {
        QFETCH(Vector3D, p);
        QFETCH(int, object);
        QFETCH(float, expected);
        QFETCH(float, tolerance);
        const Scene s = Scene::builtIn();
        bool on[5] = {false, false, false, false, false};
        on[object - 1] = true;
        int numObj = 0;
        const float d = countMinDist(s, p, &numObj, on[0], on[1], on[2], on[3], on[4]);
        QCOMPARE(numObj, object);
        QVERIFY2(std::fabs(d - expected) <= tolerance, qPrintable(QString::number(d, 'g', 9)));
    }

    void nearestObjectAndTies()
    {
        const Scene s = Scene::builtIn();
        int n = 0;
        const Vector3D cam(0, 0, -1.5f);
        QVERIFY(std::fabs(countMinDist(s, cam, &n, true, true, true, true, true) - 2.3889f) < 1e-4f);
        QCOMPARE(n, 3);
        QCOMPARE(countMinDist(s, cam, &n, true, true, false, true, true), 2.5f);
        QCOMPARE(n, 2);
        // Where the spheres touch both are 0: the lower index keeps the tie.
        QCOMPARE(countMinDist(s, Vector3D(2, 0, 3), &n, true, true, true, true, true), 0.0f);
        QCOMPARE(n, 1);
        QCOMPARE(countMinDist(s, Vector3D(0, 0, 3), &n, true, true, true, true, true), -2.0f);
        QCOMPARE(n, 2);
        n = 7;
        QCOMPARE(countMinDist(s, cam, &n, false, false, false, false, false), kFarAway);
        QCOMPARE(n, 1);
        // Beyond a million every enabled object loses to the lowest disabled one.
        QCOMPARE(countMinDist(s, Vector3D(3e6f, 0, 0), &n, true, false, true, true, true), kFarAway);
        QCOMPARE(n, 2);
    }

    void lighting()
    {
        Light l;
        l.SetColor(Vector3D(0.1f, 0.4f, 0.9f));
        l.SetLinear(0.05f);
        l.SetQuadric(0.05f);
        l.SetPos(Vector3D(0, 0, 2));
        const Vector3D at(0, 0, 0), behind(0, 0, 4);
        Vector3D c = countLites(at, Vector3D(229.5f, 0, 0), Vector3D(), l);
        QVERIFY(std::fabs(c.X - 76.5f) < 1e-3f);
        QCOMPARE(c.Y, 0.0f);
        QCOMPARE(countLites(behind, Vector3D(229.5f, 0, 0), Vector3D(), l), c); // only distance counts
        c = countLites(at, Vector3D(229.5f, 0, 0), Vector3D(0.9f, 0, 0), l);
        QVERIFY(std::fabs(c.X - 145.35f) < 1e-3f);
        // Capped from above only.
        QCOMPARE(countLites(at, Vector3D(5000, 0, 0), Vector3D(), l).X, 255.0f);
        QVERIFY(countLites(at, Vector3D(-5000, 0, 0), Vector3D(), l).X < -100.0f);
        // No attenuation at all: lit channels saturate, dark ones are 0 x infinity.
        Light bare;
        bare.SetColor(Vector3D(1, 0, 1));
        c = countLites(at, Vector3D(10, 10, 0), Vector3D(), bare);
        QCOMPARE(c.X, 255.0f);
        QVERIFY(std::isnan(c.Y));
        QVERIFY(std::isnan(c.Z));
    }

    void screenPoints()
    {
        QCOMPARE(screenPoint(0, 0, 1024, 768), Vector3D(-2, -1.5f, 0));
        QCOMPARE(screenPoint(512, 384, 1024, 768), Vector3D(0, 0, 0));
        QCOMPARE(screenPoint(1023, 767, 1024, 768), Vector3D(1.99609375f, 1.49609375f, 0));
    }

    void builtInPixels()
    {
        const Scene s = Scene::builtIn();
        QCOMPARE(rgb(packColour(tracePixel(s, 512, 384))), QStringLiteral("(0, 36, 173)"));
        // Through the blue sphere (weight 0.7) onto the red one, blue capped.
        QCOMPARE(rgb(packColour(tracePixel(s, 700, 384))), QStringLiteral("(81, 69, 255)"));
        QCOMPARE(packColour(tracePixel(s, 0, 0)), qRgb(0, 0, 0));
        QCOMPARE(packColour(tracePixel(s, 1023, 767)), qRgb(0, 0, 0));
    }

    void packing()
    {
        QCOMPARE(packColour(Vector3D(255.9f, 300, 12.99f)), qRgb(255, 255, 12));
        QCOMPARE(packColour(Vector3D(-3, NAN, 0.5f)), qRgb(0, 0, 0));
        QCOMPARE(qAlpha(packColour(Vector3D())), 255);
    }

    void passThroughWeights()
    {
        // A stopping surface ends the ray; a 0.3 one lets 0.7 through to what lies behind.
        Mater red;
        red.SetRef(Vector3D(1, 1, 1));
        red.SetCol(Vector3D(1, 0, 0));
        Scene s = oneSphere(red);
        s.Sphere2.SetPos(Vector3D(0, 0, 6));
        s.Sphere2.SetMater(red);
        const Vector3D alone = tracePixel(oneSphere(red), 8, 6);
        QCOMPARE(tracePixel(s, 8, 6), alone);

        Mater glass = red;
        glass.SetRef(Vector3D(0.3f, 0.3f, 0.3f));
        glass.SetCol(Vector3D(0, 0, 0.1f));
        Scene layered = oneSphere(glass);
        Mater green;
        green.SetRef(Vector3D(1, 1, 1));
        green.SetCol(Vector3D(0, 0.5f, 0));
        layered.Sphere2.SetPos(Vector3D(0, 0, 8));
        layered.Sphere2.SetMater(green);
        const Vector3D c = tracePixel(layered, 8, 6);
        QVERIFY(c.Z > 0); // the first surface, at full weight
        QVERIFY(c.Y > 0); // the one behind, seen through it
        // Shading the green sphere alone with weight 0.7 gives the same green channel.
        Mater dimmed = green;
        dimmed.SetCol(Vector3D(0, 0.5f * 0.7f, 0));
        Scene behind = oneSphere(dimmed);
        behind.Sphere1.SetPos(Vector3D(0, 0, 8));
        behind.Sphere1.SetRad(layered.Sphere2.GetRad());
        QVERIFY(std::fabs(tracePixel(behind, 8, 6).Y - c.Y) < 0.05f);
    }

    void capsPerHitAndPerPixel()
    {
        // A bright surface is capped at 255 per hit; two such hits still give 255 per channel.
        Mater bright;
        bright.SetRef(Vector3D(0, 0, 0));
        bright.SetCol(Vector3D(50, 50, 50));
        Scene s = oneSphere(bright);
        s.Sphere2.SetPos(Vector3D(0, 0, 8));
        s.Sphere2.SetMater(bright);
        const Vector3D c = tracePixel(s, 8, 6);
        QCOMPARE(c.X, 510.0f);
        QCOMPARE(packColour(c), qRgb(255, 255, 255));
    }

    void cameraInsideAndFarAway()
    {
        Mater red;
        red.SetRef(Vector3D(1, 1, 1));
        red.SetCol(Vector3D(1, 0, 0));
        Scene s = oneSphere(red);
        s.CamPos = Vector3D(0, 0, 3); // inside the sphere: a hit at the first step
        QVERIFY(tracePixel(s, 3, 3).X > 0);
        s.CamPos = Vector3D(0, 0, -40); // more than 30 from the origin: one step only
        QCOMPARE(tracePixel(s, 3, 3), Vector3D());
        // A camera on a pixel's screen point gives that pixel no direction: black.
        s = oneSphere(red);
        s.CamPos = screenPoint(3, 3, s.Wid, s.Hey);
        QCOMPARE(packColour(tracePixel(s, 3, 3)), qRgb(0, 0, 0));
    }

    void renderMatchesPixels()
    {
        Scene s = Scene::builtIn();
        s.Wid = 64;
        s.Hey = 48;
        const QImage img = render(s, RenderOptions{1, true});
        QCOMPARE(img.size(), QSize(64, 48));
        for (int i = 0; i < 64; i += 7)
            for (int j = 0; j < 48; j += 5)
                QCOMPARE(img.pixel(i, j), packColour(tracePixel(s, i, j)));
        QCOMPARE(render(s, RenderOptions{1, true}), img);
    }
};

QTEST_APPLESS_MAIN(TestRender)
#include "test_render.moc"
