#include <QAbstractButton>
#include <QDockWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSpinBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>
#include <cstring>

#include "jobs/scenechange.h"
#include "window/scenepanel.h"
#include "fileio/textio.h"
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

// Types into a panel field and presses Return, as a user would.
void edit(ScenePanel* panel, const QString& path, const QString& text)
{
    QWidget* field = panel->field(path);
    QVERIFY2(field, qPrintable(path));
    if (auto* spin = qobject_cast<QSpinBox*>(field))
        spin->selectAll();
    else
        static_cast<QLineEdit*>(field)->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

QString fieldText(ScenePanel* panel, const QString& path)
{
    QWidget* field = panel->field(path);
    if (auto* spin = qobject_cast<QSpinBox*>(field))
        return spin->cleanText();
    return static_cast<QLineEdit*>(field)->text();
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

QMenu* recentMenu(MainWindow& w)
{
    for (QMenu* m : w.findChildren<QMenu*>())
        if (m->title() == "Open &Recent")
            return m;
    return nullptr;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
            QTest::newRow(qPrintable(floatText(v))) << v;
    }

    void floatTextReadsBack()
    {
        QFETCH(float, value);
        float back;
        QVERIFY(readFloatEntry(floatText(value), back));
        QVERIFY(std::memcmp(&back, &value, sizeof back) == 0);
    }

    // The panel takes a number exactly when a scene file does, as the same float.
    void panelReadsNumbersAsFilesDo_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        QTest::newRow("too small for a float") << "1e-50" << true;
        QTest::newRow("hexadecimal") << "0x1p-1" << true;
        QTest::newRow("plus sign, blanks around") << " +2.5 " << true;
        QTest::newRow("rounded once") << "1.00000005960464477539062500000000001" << true;
        QTest::newRow("beyond a float") << "-3.5e38" << false;
    }

    void panelReadsNumbersAsFilesDo()
    {
        QFETCH(QString, text);
        QFETCH(bool, taken);
        float panel = 42, file = 42;
        QCOMPARE(readFloatEntry(text, panel), taken);
        QCOMPARE(readFloat(text.trimmed().toLatin1(), file) == NumberText::Ok, taken);
        QVERIFY(std::memcmp(&panel, &file, sizeof panel) == 0);
    }

    void floatTextIsShortest()
    {
        QCOMPARE(floatText(0.1f), QStringLiteral("0.1"));
        QCOMPARE(floatText(1.0f / 3), QStringLiteral("0.33333334"));
        QCOMPARE(floatText(-1.5f), QStringLiteral("-1.5"));
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
        QCOMPARE(w.scene().Thor2.Radius, 1.25f);
        QCOMPARE(w.picture(), render(want));
        QVERIFY(!w.isRendering());
        edit(panel, "Picture/Width", "64");
        edit(panel, "Picture/Height", "48");
        edit(panel, "Light2/Quadratic", "0");
        SETTLE(w);
        want.Wid = 64;
        want.Hey = 48;
        want.Light2.QuadricAttenuation = 0;
        QCOMPARE(w.picture(), render(want));
        // Camera keys show in the panel.
        QTest::keyClick(&w, Qt::Key_D);
        QCOMPARE(fieldText(panel, "Camera/Position/X"), floatText(w.scene().CamPos.X));
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
        QCOMPARE(w.scene().CamPos, Vector3D(0, 0, -1.5f));
        QVERIFY(open(path));
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("RayTraced"));
        QCOMPARE(w.picture(), render(s));
        // The panel shows the file's values exactly.
        // Files hold six decimals: the panel shows the float they read back as.
        QCOMPARE(fieldText(panel, "Sphere2/Radius"), QStringLiteral("0.333333"));
        QCOMPARE(fieldText(panel, "Sphere2/Radius"), floatText(w.scene().Sphere2.Radius));
        QCOMPARE(fieldText(panel, "Camera/Position/Y"), QStringLiteral("-0.2"));
        QCOMPARE(fieldText(panel, "Picture/Height"), QStringLiteral("60"));
        // Remembered for File > Open Recent, newest first, across windows.
        MainWindow other;
        QMenu* recent = recentMenu(other);
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
        pictureExport(w)->setAsker([](ExportSettings&) { return true; });
        QTest::keyClick(&w, Qt::Key_Q); // the blurred picture is the one on screen
        SETTLE(w);
        for (QAction* a : w.findChildren<QAction*>())
            if (a->text() == "&Export Picture...")
                a->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!pictureExport(w)->isRunning(), 30000);
        const QImage written(dir.filePath(name));
        QCOMPARE(written.convertToFormat(QImage::Format_RGB32), w.picture().convertToFormat(QImage::Format_RGB32));
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
        const QByteArray start = savedBytes(w.scene(), out);
        for (int n = 0; n < 5; ++n)
            QTest::keyClick(&w, Qt::Key_D); // a burst: one step
        const QByteArray moved = savedBytes(w.scene(), out);
        edit(panel, "Light1/Colour/Y", "0.3");
        const QByteArray edited = savedBytes(w.scene(), out);
        QVERIFY(w.openFile(other));
        QCOMPARE(undo->count(), 3);
        undo->undo();
        QCOMPARE(savedBytes(w.scene(), out), edited);
        undo->undo();
        QCOMPARE(savedBytes(w.scene(), out), moved);
        undo->undo();
        QCOMPARE(savedBytes(w.scene(), out), start);
        undo->redo();
        undo->redo();
        undo->redo();
        QCOMPARE(savedBytes(w.scene(), out), savedBytes(o, dir.filePath("o2.xml")));
        SETTLE(w);
        QCOMPARE(w.picture(), render(o));
    }

    void refusedEntriesStayMarkedWithTheReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reason");
        QTest::newRow("letters") << "Sphere1/Position/Y" << "abc" << "Sphere1 Position Y: not a number";
        QTest::newRow("trailing junk") << "Sphere1/Position/Y" << "1.5x" << "Sphere1 Position Y: not a number";
        QTest::newRow("decimal comma") << "Camera/Position/X" << "1,5" << "Camera Position X: not a number";
        QTest::newRow("empty") << "Thor2/Radius" << "" << "Thor2 Radius: a number is needed";
        QTest::newRow("beyond float") << "Thor2/Radius" << "1e39" << "Thor2 Radius: out of range";
        QTest::newRow("nan") << "Light1/Linear" << "nan" << "Light1 Linear: not a finite number";
        QTest::newRow("inf") << "Light1/Linear" << "-inf" << "Light1 Linear: not a finite number";
        QTest::newRow("side 0") << "Picture/Width" << "0"
                                << "Picture Width: a picture side is a whole number from 1 to 8192";
        QTest::newRow("side 9000") << "Picture/Height" << "9000"
                                   << "Picture Height: a picture side is a whole number from 1 to 8192";
    }

    void refusedEntriesStayMarkedWithTheReason()
    {
        QFETCH(QString, path);
        QFETCH(QString, text);
        QFETCH(QString, reason);
        MainWindow w;
        auto* panel = w.findChild<ScenePanel*>();
        const Scene before = w.scene();
        edit(panel, path, text);
        QCOMPARE(fieldText(panel, path), text);
        QVERIFY(panel->isRefused(path));
        QCOMPARE(status(w), reason);
        QCOMPARE(panel->field(path)->toolTip(), reason.section(": ", 1));
        QVERIFY(!w.isRendering());
        QVERIFY(SceneChange::sameScene(w.scene(), before));
        // Another value's change leaves the entry there; a good entry takes its place.
        Scene moved = w.scene();
        moved.CamPos.Z = -2;
        w.applyScene(moved);
        QCOMPARE(fieldText(panel, path), text);
        QVERIFY(panel->isRefused(path));
        edit(panel, path, "2");
        QVERIFY(!panel->isRefused(path));
        QVERIFY(panel->field(path)->toolTip().isEmpty());
        SETTLE(w);
        QCOMPARE(w.picture(), render(w.scene()));
        QVERIFY(!SceneChange::sameScene(w.scene(), moved));
    }

    void colourButtonsPickColours()
    {
        MainWindow w;
        auto* panel = w.findChild<ScenePanel*>();
        QColor offered;
        QString title;
        QColor answer(255, 0, 51);
        panel->setColourAsker([&](const QColor& initial, const QString& t) {
            offered = initial;
            title = t;
            return answer;
        });
        panel->colourButton("Light1/Colour")->click();
        QCOMPARE(offered, QColor::fromRgbF(0.1f, 0.4f, 0.9f));
        QCOMPARE(title, QStringLiteral("Light1 Colour"));
        // Channels on the 0..1 scale, divided in double and stored as floats.
        QCOMPARE(w.scene().Light1.Colour, Vector3D(1, 0, float(51 / 255.0)));
        QCOMPARE(fieldText(panel, "Light1/Colour/Z"), QStringLiteral("0.2"));
        panel->colourButton("Thor1/Colour")->click();
        QCOMPARE(w.scene().Thor1.Material.Colour, Vector3D(1, 0, 0.2f));
        SETTLE(w);
        QCOMPARE(w.picture(), render(w.scene()));
        // Cancelled, or accepted as offered (the dialog gives its 8-bit channels back, which
        // are no colour of 0.9 on the 0..1 scale): nothing changes, nothing renders.
        const Scene before = w.scene();
        for (const bool cancelled : {true, false}) {
            SETTLE(w);
            panel->setColourAsker([&](const QColor& initial, const QString&) {
                return cancelled ? QColor() : QColor(initial.red(), initial.green(), initial.blue());
            });
            panel->colourButton("Sphere1/Colour")->click();
            QVERIFY(!w.isRendering());
            QVERIFY(SceneChange::sameScene(w.scene(), before));
        }
    }

    void undoKeysFromAPanelField()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        findAction(w, "Scene &Panel")->trigger();
        auto* panel = w.findChild<ScenePanel*>();
        const float radius = w.scene().Thor2.Radius;
        QWidget* field = panel->field("Thor2/Radius");
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        edit(panel, "Thor2/Radius", "1.25");
        QCOMPARE(w.scene().Thor2.Radius, 1.25f);
        // The entry is taken: the keys reach the scene's undo and redo.
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.scene().Thor2.Radius, radius);
        QCOMPARE(fieldText(panel, "Thor2/Radius"), floatText(radius));
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.scene().Thor2.Radius, 1.25f);
        // Typing not taken yet: the keys undo the typing, the scene stays.
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClicks(field, "7");
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(fieldText(panel, "Thor2/Radius"), QStringLiteral("1.25"));
        QCOMPARE(w.scene().Thor2.Radius, 1.25f);
        // The same in a picture side's spin box.
        QWidget* width = panel->field("Picture/Width");
        width->setFocus();
        QTRY_VERIFY(width->hasFocus());
        edit(panel, "Picture/Width", "64");
        QCOMPARE(w.scene().Wid, 64);
        QTest::keyClick(width, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.scene().Wid, 1024);
        QCOMPARE(fieldText(panel, "Picture/Width"), QStringLiteral("1024"));
        SETTLE(w);
    }

    void saveWritesTheOpenFileInItsFormat_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::newRow("xml") << true;
        QTest::newRow("bin") << false;
    }

    void saveWritesTheOpenFileInItsFormat()
    {
        QFETCH(bool, xml);
        QTemporaryDir dir;
        // The name says nothing of the format: the file's content decides.
        const QString path = dir.filePath("scene.dat"), check = dir.filePath("check");
        XMLS xmlWriter;
        BinS binWriter;
        Serializer& writer = xml ? static_cast<Serializer&>(xmlWriter) : binWriter;
        QVERIFY(saveScene(writer, path, Scene::builtIn()));
        MainWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Lumivex"));
        int asked = 0;
        w.setFileNameAsker([&](bool) {
            ++asked;
            return QString();
        });
        QVERIFY(w.openFile(path));
        QCOMPARE(w.windowTitle(), QStringLiteral("scene.dat — Lumivex"));
        QCOMPARE(w.windowFilePath(), QFileInfo(path).absoluteFilePath());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_D);
        const QStringList boxes = dismissBoxes([&] { QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier); });
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));
        QCOMPARE(asked, 0);
        QCOMPARE(status(w), xml ? QStringLiteral("Serialized in XML") : QStringLiteral("Serialized in Bin"));
        QVERIFY(saveScene(writer, check, w.scene()));
        QCOMPARE(fileBytes(path), fileBytes(check));
        QCOMPARE(w.scene().CamPos.X, float(0.1)); // Ctrl+S did not move the camera
    }

    void saveWithNoOpenFileAsksLikeSaveXml()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("new.xml");
        MainWindow w;
        int asked = 0;
        w.setFileNameAsker([&](bool forSaving) {
            asked += forSaving ? 1 : 100;
            return path;
        });
        QCOMPARE(dismissBoxes([&] { w.saveOpenFile(); }),
                 QStringList{"Message: Input file name for writing in XML format in"});
        QCOMPARE(asked, 1);
        QCOMPARE(status(w), QStringLiteral("Serialized in XML"));
        QVERIFY(fileBytes(path).startsWith("<?xml"));
        QCOMPARE(w.windowTitle(), QStringLiteral("new.xml — Lumivex"));
        QCOMPARE(recentMenu(w)->actions().first()->text(), QStringLiteral("new.xml"));
        // From now on Save writes there without asking.
        QTest::keyClick(&w, Qt::Key_A);
        QVERIFY(dismissBoxes([&] { w.saveOpenFile(); }).isEmpty());
        QCOMPARE(asked, 1);
        Scene back = Scene::builtIn();
        XMLL reader;
        QVERIFY(loadScene(reader, path, back));
        QCOMPARE(back.CamPos, w.scene().CamPos);
    }

    void exportTakesTheChosenTypesSuffix()
    {
        QTemporaryDir dir;
        MainWindow w;
        w.setFileNameAsker([&](bool) { return dir.filePath("picture"); });
        pictureExport(w)->setAsker([](ExportSettings&) { return true; });
        QVERIFY(dismissBoxes([&] {
                    findAction(w, "&Export Picture...")->trigger();
                    QTRY_VERIFY_WITH_TIMEOUT(!pictureExport(w)->isRunning(), 30000);
                }).isEmpty());
        // No type chosen in the dialog: the first of the list, PNG.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"picture.png"});
        QImage written;
        QVERIFY(written.load(dir.filePath("picture.png"), "PNG"));
        QCOMPARE(written.convertToFormat(QImage::Format_RGB32), w.picture().convertToFormat(QImage::Format_RGB32));
    }

    void commandLineOptionsNeedNoDisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: " << "";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "Lumivex " LUMIVEX_VERSION "\n" << "";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << ""
                                        << "lumivex: Unknown option 'bogus'.\nUsage: ";
        QTest::newRow("Qt's own option") << QStringList{"-platform", "offscreen"} << 2 << "" << "lumivex: Unknown option";
        QTest::newRow("two files") << QStringList{"a.xml", "b.xml"} << 2 << "" << "lumivex: one scene file at most\n";
        QTest::newRow("no display") << QStringList{} << 1 << "" << "lumivex: no display";
        QTest::newRow("no display, a file") << QStringList{"a.xml"} << 1 << "" << "lumivex: no display";
    }

    void commandLineOptionsNeedNoDisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        p.setProcessEnvironment(env);
        p.start(LUMIVEX_PROGRAM, args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), qPrintable(stdOut));
        QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.startsWith(err), qPrintable(stdErr));
        if (exitCode == 1)
            QCOMPARE(stdErr.count('\n'), 1); // one line
    }
};

QTEST_MAIN(TestSceneEditor)
#include "test_sceneeditor.moc"
