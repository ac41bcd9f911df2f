#include <QtTest>

#include "render/raybounds.h"

class TestRayBounds : public QObject {
    Q_OBJECT

private slots:
    void sphereMarginAllowsForTheDrift_data()
    {
        // Sphere1 of the built-in scene: centre (3, 0, 3), radius 1; 1024 columns make the step
        // floor 0.01. A march may drift about 0.01 off its ray, so a ray passing the centre
        // closer than about 1 + 0.01 + 0.01 may still meet the sphere; farther, it cannot.
        QTest::addColumn<double>("distance");
        QTest::addColumn<bool>("clear");
        QTest::newRow("through the sphere") << 0.5 << false;
        QTest::newRow("within the step floor") << 1.005 << false;
        QTest::newRow("within the drift beyond the floor") << 1.015 << false;
        QTest::newRow("beyond the drift") << 1.025 << true;
        QTest::newRow("far away") << 2.0 << true;
    }

    void sphereMarginAllowsForTheDrift()
    {
        QFETCH(double, distance);
        QFETCH(bool, clear);
        const Scene scene = Scene::builtIn();
        const bool onlySphere1[5] = {true, false, false, false, false};
        const Vector3D start(float(3 + distance), 0, -5);
        const Clearance c = ClearanceTest(scene)(start, Vector3D(0, 0, 1), onlySphere1);
        QCOMPARE(c.clear, clear);
        if (!clear)
            QVERIFY(std::isfinite(c.retestAt) && c.retestAt > 8); // past the sphere, a new test may succeed
    }
};

QTEST_APPLESS_MAIN(TestRayBounds)
#include "test_raybounds.moc"
