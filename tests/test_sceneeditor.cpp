#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>
#include <cstring>

#include "app/scenepanel.h"
#include "render/tracer.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"
#include "windowharness.h"

namespace {

QByteArray savedBytes(const Scene& s, const QString& path)
{
    XMLS writer;
    if (!saveScene(writer, path, s))
        return QByteArray();
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Types into a panel field and leaves it, as a user would.
void edit(ScenePanel* panel, const QString& path, const QString& text)
{
    QLineEdit* e = panel->field(path);
    QVERIFY2(e, qPrintable(path));
    e->setText(text);
    emit e->editingFinished();
}

void drop(MainWindow& w, const QString& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &dropped);
}

} // namespace

class TestSceneEditor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Recent files go to a settings file of the tests' own.
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("LumivexTests");
        QSettings().clear();
    }

    void floatTextReadsBack_data()
    {
        QTest::addColumn<float>("value");
        for (float v : {0.1f, -0.0f, 1.0f / 3, 1e-45f, 3.4028235e38f, -1.5f, 1e-7f, 123456.78f})
            QTest::newRow(qPrintable(ScenePanel::floatText(v))) << v;
    }

    void floatTextReadsBack()
    {
        QFETCH(float, value);
        float back;
        QVERIFY(ScenePanel::readFloat(ScenePanel::floatText(value), &back));
        QVERIFY(std::memcmp(&back, &value, sizeof back) == 0);
    }

    void floatTextIsShortest()
    {
        QCOMPARE(ScenePanel::floatText(0.1f), QStringLiteral("0.1"));
        QCOMPARE(ScenePanel::floatText(1.0f / 3), QStringLiteral("0.33333334"));
        QCOMPARE(ScenePanel::floatText(-1.5f), QStringLiteral("-1.5"));
    }

    void panelEditsRenderTheEditedScene()
    {
        MainWindow w;
        auto* panel = w.findChild<ScenePanel*>();
        QVERIFY(panel);
        QVERIFY(!w.findChild<QDockWidget*>()->isVisible()); // hidden at start
        edit(panel, "Thor2/Radius", "1.25");
        SETTLE(w);
        Scene want = Scene::builtIn();
        want.Thor2.Radius = 1.25f;
        QCOMPARE(w.scene.Thor2.Radius, 1.25f);
        QCOMPARE(*w.curImage, render(want));
        // Refused: the field shows the stored value again and nothing changes.
        for (const char* bad : {"abc", "inf", "nan", "1e39", "", "1.5x"}) {
            edit(panel, "Sphere1/Position/Y", bad);
            QCOMPARE(panel->field("Sphere1/Position/Y")->text(), ScenePanel::floatText(want.Sphere1.Position.Y));
        }
        for (const char* bad : {"0", "8193", "-4", "12.5"}) {
            edit(panel, "Picture/Width", bad);
            QCOMPARE(panel->field("Picture/Width")->text(), QStringLiteral("1024"));
        }
        QVERIFY(!w.isRendering());
        edit(panel, "Picture/Width", "64");
        edit(panel, "Picture/Height", "48");
        edit(panel, "Light2/Quadratic", "0");
        SETTLE(w);
        want.Wid = 64;
        want.Hey = 48;
        want.Light2.QuadricAttenuation = 0;
        QCOMPARE(*w.curImage, render(want));
        // Camera keys show in the panel.
        QTest::keyClick(&w, Qt::Key_D);
        QCOMPARE(panel->field("Camera/Position/X")->text(), ScenePanel::floatText(w.scene.CamPos.X));
    }

    void openingReadsBothFormatsAndRefusesDamage_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::addColumn<bool>("byDrop");
        QTest::newRow("xml, open") << true << false;
        QTest::newRow("bin, open") << false << false;
        QTest::newRow("xml, drop") << true << true;
        QTest::newRow("bin, drop") << false << true;
    }

    void openingReadsBothFormatsAndRefusesDamage()
    {
        QFETCH(bool, xml);
        QFETCH(bool, byDrop);
        QTemporaryDir dir;
        // The names say nothing: the content decides.
        const QString path = dir.filePath("scene.dat"), broken = dir.filePath("broken.dat");
        Scene s = Scene::builtIn();
        s.Wid = 80;
        s.Hey = 60;
        s.CamPos = Vector3D(0.1f, -0.2f, -2.5f);
        s.Sphere2.Radius = 1.0f / 3;
        XMLS xmlWriter;
        BinS binWriter;
        QVERIFY(xml ? saveScene(xmlWriter, path, s) : saveScene(binWriter, path, s));
        QFile whole(path), cut(broken);
        QVERIFY(whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly));
        cut.write(whole.readAll().left(200));
        cut.close();

        MainWindow w;
        auto* panel = w.findChild<ScenePanel*>();
        const auto open = [&](const QString& name) {
            bool ok = true;
            const QStringList boxes = dismissBoxes([&] {
                if (byDrop)
                    drop(w, name);
                else
                    ok = w.openFile(name);
            });
            return byDrop ? boxes.isEmpty() : ok;
        };
        QVERIFY(!open(broken));
        QCOMPARE(status(w), QStringLiteral("Error"));
        QVERIFY(!open(dir.path())); // a folder: refused at once
        QCOMPARE(w.scene.CamPos, Vector3D(0, 0, -1.5f));
        QVERIFY(open(path));
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("RayTraced"));
        QCOMPARE(*w.curImage, render(s));
        // The panel shows the file's values exactly.
        // Files hold six decimals: the panel shows the float they read back as.
        QCOMPARE(panel->field("Sphere2/Radius")->text(), QStringLiteral("0.333333"));
        QCOMPARE(panel->field("Sphere2/Radius")->text(), ScenePanel::floatText(w.scene.Sphere2.Radius));
        QCOMPARE(panel->field("Camera/Position/Y")->text(), QStringLiteral("-0.2"));
        QCOMPARE(panel->field("Picture/Height")->text(), QStringLiteral("60"));
        // Remembered for File > Open Recent, newest first, across windows.
        MainWindow other;
        QMenu* recent = nullptr;
        for (QMenu* m : other.findChildren<QMenu*>())
            if (m->title() == "Open &Recent")
                recent = m;
        QVERIFY(recent && !recent->actions().isEmpty());
        QCOMPARE(recent->actions().first()->text(), QStringLiteral("scene.dat"));
    }

    void commandLineOpensAFileOrSaysWhy()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath("missing.xml");
        QProcess p;
        p.start(LUMIVEX_PROGRAM, {missing});
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains(missing.toLocal8Bit()), 10000);
        QVERIFY(err.contains("lumivex: cannot open " + missing.toLocal8Bit()));
        QCOMPARE(p.state(), QProcess::Running); // the window stays, with the built-in scene
        p.kill();
        p.waitForFinished();
    }

    void exportWritesThePictureOnScreen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("png") << "picture.png";
        QTest::newRow("bmp") << "picture.BMP";
        QTest::newRow("ppm") << "picture.ppm";
    }

    void exportWritesThePictureOnScreen()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        MainWindow w;
        w.setFileNameAsker([&](bool forSaving) { return forSaving ? dir.filePath(name) : QString(); });
        QTest::keyClick(&w, Qt::Key_Q); // the blurred picture is the one on screen
        SETTLE(w);
        for (QAction* a : w.findChildren<QAction*>())
            if (a->text() == "&Export Picture...")
                a->trigger();
        const QImage written(dir.filePath(name));
        QCOMPARE(written.convertToFormat(QImage::Format_RGB32), w.curImage->convertToFormat(QImage::Format_RGB32));
        QCOMPARE(status(w), QStringLiteral("Picture exported"));
    }

    void undoRestoresTheSceneExactly()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("check.xml"), other = dir.filePath("other.xml");
        Scene o = Scene::builtIn();
        o.Wid = 32;
        o.Hey = 24;
        o.Thor1.Width = 0.7f;
        QVERIFY(!savedBytes(o, other).isEmpty());
        MainWindow w;
        auto* undo = w.findChild<QUndoStack*>();
        auto* panel = w.findChild<ScenePanel*>();
        const QByteArray start = savedBytes(w.scene, out);
        for (int n = 0; n < 5; ++n)
            QTest::keyClick(&w, Qt::Key_D); // a burst: one step
        const QByteArray moved = savedBytes(w.scene, out);
        edit(panel, "Light1/Colour/Y", "0.3");
        const QByteArray edited = savedBytes(w.scene, out);
        QVERIFY(w.openFile(other));
        QCOMPARE(undo->count(), 3);
        undo->undo();
        QCOMPARE(savedBytes(w.scene, out), edited);
        undo->undo();
        QCOMPARE(savedBytes(w.scene, out), moved);
        undo->undo();
        QCOMPARE(savedBytes(w.scene, out), start);
        undo->redo();
        undo->redo();
        undo->redo();
        QCOMPARE(savedBytes(w.scene, out), savedBytes(o, dir.filePath("o2.xml")));
        SETTLE(w);
        QCOMPARE(*w.curImage, render(o));
    }
};

QTEST_MAIN(TestSceneEditor)
#include "test_sceneeditor.moc"
