#include <QtTest>
#include <cmath>

#include "scene/scene.h"

class TestScene : public QObject {
    Q_OBJECT

private slots:
    void vectorArithmetic()
    {
        Vector3D v(3, 4, 0);
        QCOMPARE(v.Length(), 5.0f);
        QCOMPARE(v.SqrLen(), 25.0f);
        QCOMPARE(v.NormVect(), Vector3D(0.6f, 0.8f, 0.0f));
        QCOMPARE(v, Vector3D(3, 4, 0)); // NormVect leaves the vector alone
        QCOMPARE(Vector3D(1, 2, 3) * Vector3D(4, 5, 6), 32.0f);
        QCOMPARE(Vector3D(1, 2, 3) * 2.0f, Vector3D(2, 4, 6));
        QCOMPARE(-Vector3D(1, -2, 3), Vector3D(-1, 2, -3));
        QCOMPARE(Vector3D(), Vector3D(0, 0, 0));
    }

    void plusAssignReturnsACopy()
    {
        Vector3D a(1, 1, 1);
        Vector3D r = a += Vector3D(1, 2, 3);
        QCOMPARE(a, Vector3D(2, 3, 4));
        QCOMPARE(r, a);
        r.X = 100;
        QCOMPARE(a.X, 2.0f);
    }

    void rays()
    {
        const Ray r(Vector3D(0, 0, 0), Vector3D(0, 0, -1.5f));
        QCOMPARE(r.Start, Vector3D(0, 0, 0));
        QCOMPARE(r.GetDir(), Vector3D(0, 0, 1));
        QCOMPARE(r.GetDirLen(), 1.0f);
        const Ray none;
        QCOMPARE(none.Start, Vector3D());
        QCOMPARE(none.Direction, Vector3D());
        // Equal points and the zero vector have no direction.
        const Ray degenerate(Vector3D(1, 2, 3), Vector3D(1, 2, 3));
        QVERIFY(std::isnan(degenerate.Direction.X) && std::isnan(degenerate.Direction.Y) &&
                std::isnan(degenerate.Direction.Z));
        const Vector3D n = Vector3D().NormVect();
        QVERIFY(std::isnan(n.X) && std::isnan(n.Y) && std::isnan(n.Z));
    }

    void objectsOwnTheirMaterials()
    {
        Mater m;
        m.SetRef(Vector3D(1, 2, 3));
        m.SetSpe(Vector3D(4, 5, 6));
        m.SetCol(Vector3D(7, 8, 9));
        Sphere s;
        QCOMPARE(s.GetPos(), Vector3D());
        QCOMPARE(s.GetRad(), 1.0f);
        QCOMPARE(s.GetMater(), Mater());
        s.SetMater(m);
        Thor t;
        t.SetMater(m);
        QCOMPARE(s.GetMater(), m);
        QCOMPARE(t.GetMater().GetSpe(), Vector3D(4, 5, 6));
        m.SetCol(Vector3D());
        QCOMPARE(s.GetMater().GetCol(), Vector3D(7, 8, 9));
        Vector3D p = s.GetPos();
        p.X = 5;
        QCOMPARE(p.X, 5.0f);
        QCOMPARE(s.GetPos(), Vector3D());
    }

    void builtInScene()
    {
        Scene s = Scene::builtIn();
        QCOMPARE(s.CamPos, Vector3D(0, 0, -1.5f));
        QCOMPARE(s.Wid, 1024);
        QCOMPARE(s.Hey, 768);
        QCOMPARE(s.Thor1.GetMater().GetSpe(), Vector3D(0, 0.9f, 0));
        for (const Mater& m : {s.Sphere1.Material, s.Sphere2.Material, s.Thor2.Material, s.Thor3.Material})
            QCOMPARE(m.GetSpe(), Vector3D());
        QCOMPARE(s.Sphere1.GetMater(), s.Thor3.GetMater());
        QCOMPARE(s.Sphere2.GetMater(), s.Thor2.GetMater());
        QCOMPARE(s.Thor2.GetRad(), 0.8f);
        QCOMPARE(s.Thor2.GetWid(), 0.2f);
        QCOMPARE(s.Light2.GetColor(), Vector3D(0.9f, 0.4f, 0.1f));
        QCOMPARE(s.Light2.GetLinear(), 0.1f);
        // The templates are independent of the objects once copied.
        s.Material1.SetCol(Vector3D(0, 0, 1));
        QCOMPARE(s.Sphere1.GetMater().GetCol(), Vector3D(0.9f, 0, 0));
        QCOMPARE(s.materialOf(4), s.Thor2.Material);
    }
};

QTEST_APPLESS_MAIN(TestScene)
#include "test_scene.moc"
