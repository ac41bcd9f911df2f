#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include "picture/blur.h"
#include "render/tracer.h"
#include "serial/xmlserial.h"
#include "windowharness.h"

namespace {

void sendMouse(MainWindow& w, QEvent::Type type, QPoint pos)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent ev(type, QPointF(pos), w.mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &ev);
}

void sendWheel(MainWindow& w, QPoint angle)
{
    QWheelEvent ev(QPointF(10, 10), w.mapToGlobal(QPointF(10, 10)), QPoint(), angle, Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &ev);
}

// The pictures as pixels: a render after a blur keeps the blur's 32-bit RGB format.
QImage pixels(const QImage& img)
{
    return img.convertToFormat(QImage::Format_RGB32);
}

QAction* menuItem(MainWindow& w, int menu, int item)
{
    return w.menuBar()->actions().at(menu * 2)->menu()->actions().at(item);
}

enum { FileMenu = 0, LoadMenu = 1, SaveMenu = 2, Xml = 0, Bin = 1 };

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

float stepped(float v, double d)
{
    return float(double(v) + d);
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void startUp()
    {
        MainWindow w;
        QCOMPARE(status(w), QStringLiteral("Ready"));
        QCOMPARE(w.curImage->size(), QSize(1024, 768));
        QCOMPARE(w.labelIm->pixmap().size(), QSize(1024, 768));
        QCOMPARE(*w.curImage, render(Scene::builtIn()));
        QCOMPARE(w.labelIm->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
                 w.curImage->convertToFormat(QImage::Format_RGB32));
        QVERIFY(!w.AntiAl);
        QCOMPARE(w.ptrMousePosition, QPoint(0, 0));
        // The window cannot shrink below the picture but may grow.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(300, 200);
        QApplication::processEvents();
        QVERIFY(w.labelIm->width() >= 1024 && w.labelIm->height() >= 768);
        w.resize(1400, 1000);
        QApplication::processEvents();
        QCOMPARE(w.size(), QSize(1400, 1000));
    }

    void keysMoveTheCamera_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Vector3D>("delta");
        QTest::newRow("A") << int(Qt::Key_A) << Vector3D(-1, 0, 0);
        QTest::newRow("D") << int(Qt::Key_D) << Vector3D(1, 0, 0);
        QTest::newRow("W") << int(Qt::Key_W) << Vector3D(0, -1, 0);
        QTest::newRow("S") << int(Qt::Key_S) << Vector3D(0, 1, 0);
        QTest::newRow("Z") << int(Qt::Key_Z) << Vector3D(0, 0, -1);
        QTest::newRow("X") << int(Qt::Key_X) << Vector3D(0, 0, 1);
        QTest::newRow("Space renders, camera stays") << int(Qt::Key_Space) << Vector3D(0, 0, 0);
        QTest::newRow("F1 renders, camera stays") << int(Qt::Key_F1) << Vector3D(0, 0, 0);
    }

    void keysMoveTheCamera()
    {
        QFETCH(int, key);
        QFETCH(Vector3D, delta);
        MainWindow w;
        w.AntiAl = true; // a render always replaces a blurred picture
        QTest::keyClick(&w, Qt::Key(key));
        SETTLE(w);
        const Vector3D expected(stepped(0, 0.1 * delta.X), stepped(0, 0.1 * delta.Y),
                                stepped(-1.5f, 0.1 * delta.Z));
        QCOMPARE(w.scene.CamPos, expected);
        QCOMPARE(status(w), QStringLiteral("Made"));
        QVERIFY(!w.AntiAl);
        QCOMPARE(*w.curImage, render(w.scene));
        QCOMPARE(w.labelIm->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
                 w.curImage->convertToFormat(QImage::Format_RGB32));
    }

    void stepsAreRoundedToFloat()
    {
        MainWindow w;
        for (int k = 0; k < 5; ++k)
            QTest::keyClick(&w, Qt::Key_X);
        QCOMPARE(w.scene.CamPos.Z, -0.99999988f);
        QTest::keyClick(&w, Qt::Key_X);
        QCOMPARE(w.scene.CamPos.Z, -0.89999986f);
    }

    void wheel_data()
    {
        QTest::addColumn<QPoint>("angle");
        QTest::addColumn<float>("z");
        QTest::newRow("forward") << QPoint(0, 120) << stepped(-1.5f, -0.1);
        QTest::newRow("backward") << QPoint(0, -120) << stepped(-1.5f, 0.1);
        QTest::newRow("large turn, same step") << QPoint(0, 2400) << stepped(-1.5f, -0.1);
        QTest::newRow("horizontal only") << QPoint(-15, 0) << stepped(-1.5f, 0.1);
        QTest::newRow("no turn still renders") << QPoint(0, 0) << -1.5f;
    }

    void wheel()
    {
        QFETCH(QPoint, angle);
        QFETCH(float, z);
        MainWindow w;
        w.statusBar()->showMessage("before");
        sendWheel(w, angle);
        SETTLE(w);
        QCOMPARE(w.scene.CamPos, Vector3D(0, 0, z));
        QCOMPARE(status(w), QStringLiteral("Zoomed"));
        QCOMPARE(*w.curImage, render(w.scene));
    }

    void dragMovesAndRendersOnRelease()
    {
        MainWindow w;
        const QImage before = *w.curImage;
        sendMouse(w, QEvent::MouseButtonPress, QPoint(100, 100));
        float y = 0;
        for (int dy : {10, 20, 30}) {
            sendMouse(w, QEvent::MouseMove, QPoint(100, 100 + dy));
            // Each move adds the whole way from the press point.
            y = stepped(y, dy / 3.0 / 768);
        }
        QCOMPARE(w.scene.CamPos.Y, y);
        QVERIFY(std::fabs(y - 20.0f / 768) < 1e-6f);
        QCOMPARE(w.scene.CamPos.X, 0.0f);
        QCOMPARE(*w.curImage, before); // previews do not replace the picture
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(100, 130));
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("Translated"));
        QCOMPARE(w.ptrMousePosition, QPoint(100, 130));
        QCOMPARE(*w.curImage, render(w.scene));

        sendMouse(w, QEvent::MouseButtonPress, QPoint(50, 50));
        sendMouse(w, QEvent::MouseMove, QPoint(80, 50));
        QCOMPARE(w.scene.CamPos.X, stepped(0, 30 / 3.0 / 1024));
    }

    void clickRendersNothingRoundTripDragRendersQuietly()
    {
        MainWindow w;
        const QImage before = *w.curImage;
        w.statusBar()->showMessage("before");
        sendMouse(w, QEvent::MouseButtonPress, QPoint(10, 20));
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(10, 20));
        QCOMPARE(status(w), QStringLiteral("before"));
        QVERIFY(!w.isRendering());
        QCOMPARE(*w.curImage, before);
        // A drag that comes back to its press point moves the camera and renders it without a
        // message, so that no preview stays on screen.
        sendMouse(w, QEvent::MouseButtonPress, QPoint(10, 20));
        sendMouse(w, QEvent::MouseMove, QPoint(40, 20));
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(10, 20));
        SETTLE(w);
        QVERIFY(w.scene.CamPos.X > 0);
        QCOMPARE(status(w), QStringLiteral("before"));
        QCOMPARE(*w.curImage, render(w.scene));
        QCOMPARE(w.labelIm->pixmap().toImage().convertToFormat(QImage::Format_RGB32), pixels(*w.curImage));
    }

    void blurKeyLifeCycle()
    {
        MainWindow w;
        const QImage sharp = *w.curImage;
        QTest::keyClick(&w, Qt::Key_Q);
        QVERIFY(w.AntiAl);
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("AntiAliasing Made"));
        const QImage blurred = blurReference(sharp);
        QCOMPARE(*w.curImage, blurred);
        QCOMPARE(w.labelIm->pixmap().toImage().convertToFormat(QImage::Format_RGB32), blurred);
        // A second Q before the next render changes nothing, not even the status bar.
        w.statusBar()->showMessage("before");
        QTest::keyClick(&w, Qt::Key_Q);
        QVERIFY(!w.isRendering());
        QCOMPARE(*w.curImage, blurred);
        QCOMPARE(status(w), QStringLiteral("before"));
        // Any other key renders the sharp picture again, and Q may blur once more.
        QTest::keyClick(&w, Qt::Key_Space);
        QVERIFY(!w.AntiAl);
        SETTLE(w);
        QCOMPARE(pixels(*w.curImage), pixels(sharp));
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        QCOMPARE(*w.curImage, blurred);
    }

    void passingMessagesTimeOut()
    {
        MainWindow w;
        QTest::keyClick(&w, Qt::Key_D);
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("Made"));
        QTest::qWait(1500);
        QCOMPARE(status(w), QStringLiteral("Made"));
        QTRY_COMPARE_WITH_TIMEOUT(status(w), QString(), 2000);
    }

    void escapeCloses()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QStringList boxes = dismissBoxes([&] { QTest::keyClick(&w, Qt::Key_Escape); });
        QVERIFY(boxes.isEmpty());
        QVERIFY(!w.isVisible());
        QCOMPARE(status(w), QStringLiteral("Made"));
    }


    void saveAndLoadThroughTheMenus_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("saveBox");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("loadBox");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("xml") << int(Xml) << "Message: Input file name for writing in XML format in"
                             << "Serialized in XML" << "Message: Input file name for reading in XML format from"
                             << "Loaded from Xml";
        QTest::newRow("bin") << int(Bin) << "Message: Input file name for writing in Binary format in"
                             << "Serialized in Bin" << "Message: Input file name for reading in Binary format from"
                             << "Loaded from Bin";
    }

    void saveAndLoadThroughTheMenus()
    {
        QFETCH(int, format);
        QFETCH(QString, saveBox);
        QFETCH(QString, saved);
        QFETCH(QString, loadBox);
        QFETCH(QString, loaded);
        QTemporaryDir dir;
        const QString path = dir.filePath("scene");
        MainWindow w;
        QList<bool> asked;
        w.setFileNameAsker([&](bool forSaving) {
            asked << forSaving;
            return path;
        });
        w.AntiAl = true;
        QCOMPARE(dismissBoxes([&] { menuItem(w, SaveMenu, format)->trigger(); }), QStringList{saveBox});
        QCOMPARE(status(w), saved);
        QVERIFY(!w.AntiAl);
        QCOMPARE(fileBytes(path).size(), format == Xml ? 3265 : 2055);
        QTest::keyClick(&w, Qt::Key_D);
        QTest::keyClick(&w, Qt::Key_Q);
        QCOMPARE(dismissBoxes([&] { menuItem(w, LoadMenu, format)->trigger(); }), QStringList{loadBox});
        QCOMPARE(status(w), loaded);
        SETTLE(w);
        QCOMPARE(asked, QList<bool>({true, false}));
        QCOMPARE(status(w), QStringLiteral("RayTraced"));
        QVERIFY(!w.AntiAl);
        QCOMPARE(w.scene.CamPos, Vector3D(0, 0, -1.5f));
        QCOMPARE(pixels(*w.curImage), pixels(render(Scene::builtIn())));
        QCOMPARE(w.labelIm->pixmap().toImage().convertToFormat(QImage::Format_RGB32), pixels(*w.curImage));
    }

    void loadSetsThePictureSize()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("small.xml");
        QVERIFY(writeSizedScene(path, 64, 48));
        Scene small = Scene::builtIn();
        small.Wid = 64;
        small.Hey = 48;
        MainWindow w;
        w.setFileNameAsker([&](bool) { return path; });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize big = w.size();
        dismissBoxes([&] { w.LoadFromXml(); });
        SETTLE(w);
        QCOMPARE(w.curImage->size(), QSize(64, 48));
        QCOMPARE(w.labelIm->pixmap().size(), QSize(64, 48));
        QCOMPARE(*w.curImage, render(small));
        // The window fits the smaller picture again.
        QTRY_VERIFY(w.width() < big.width() && w.height() < big.height());
        // The next camera move renders at the loaded size too, and the drag uses it.
        QTest::keyClick(&w, Qt::Key_A);
        SETTLE(w);
        QCOMPARE(*w.curImage, render(w.scene));
    }

    void afterASaveTheBlurRunsAgain()
    {
        QTemporaryDir dir;
        MainWindow w;
        w.setFileNameAsker([&](bool) { return dir.filePath("s.bin"); });
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        const QImage once = *w.curImage;
        dismissBoxes([&] { w.SerializeInBin(); });
        QVERIFY(!w.isRendering());
        QCOMPARE(*w.curImage, once); // a save renders nothing
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        QCOMPARE(*w.curImage, blurReference(once));
    }

    void cancelledCommandsDoNothing()
    {
        QTemporaryDir dir;
        MainWindow w;
        w.setFileNameAsker([](bool) { return QString(); });
        QTest::keyClick(&w, Qt::Key_S);
        SETTLE(w);
        const Vector3D cam = w.scene.CamPos;
        const QImage before = *w.curImage;
        w.statusBar()->showMessage("before");
        for (auto slot : {&MainWindow::SerializeInXml, &MainWindow::SerializeInBin, &MainWindow::LoadFromXml,
                          &MainWindow::LoadFromBin}) {
            QCOMPARE(dismissBoxes([&] { (w.*slot)(); }).size(), 1);
            QCOMPARE(status(w), QStringLiteral("before"));
        }
        QCOMPARE(w.scene.CamPos, cam);
        QCOMPARE(*w.curImage, before);
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void failedCommandsSayErrorAndChangeNothing()
    {
        QTemporaryDir dir;
        const QString broken = dir.filePath("broken.xml");
        {
            QFile f(broken);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<?xml version = \"1.0\"?>\n<Scene>\n<Screen>\n<String Name = \"Attribute\"> Screen </String>\n");
        }
        MainWindow w;
        QTest::keyClick(&w, Qt::Key_W);
        SETTLE(w);
        const Vector3D cam = w.scene.CamPos;
        const QImage before = *w.curImage;
        QImage* const buffer = w.curImage;
        for (const QString& name : {broken, dir.filePath("missing.xml")}) {
            w.setFileNameAsker([&](bool) { return name; });
            w.statusBar()->showMessage("before");
            dismissBoxes([&] { w.LoadFromXml(); });
            QCOMPARE(status(w), QStringLiteral("Error"));
            QCOMPARE(w.scene.CamPos, cam);
            QCOMPARE(w.curImage, buffer); // not rebuilt
            QCOMPARE(*w.curImage, before);
        }
        w.setFileNameAsker([&](bool) { return dir.filePath("no/such/folder/scene.xml"); });
        dismissBoxes([&] { w.SerializeInXml(); });
        QCOMPARE(status(w), QStringLiteral("Error"));
    }

    void quickKeysEndWithTheLastCamerasPicture()
    {
        // Keys faster than the renders: only the newest camera's picture needs to be made.
        MainWindow w;
        QRandomGenerator gen(12);
        const Qt::Key keys[] = {Qt::Key_A, Qt::Key_D, Qt::Key_W, Qt::Key_S, Qt::Key_Z, Qt::Key_X, Qt::Key_Space};
        for (int n = 0; n < 100; ++n)
            QTest::keyClick(&w, keys[gen.bounded(7)]);
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("Made"));
        QCOMPARE(*w.curImage, render(w.scene));
        QCOMPARE(w.labelIm->pixmap().toImage().convertToFormat(QImage::Format_RGB32), pixels(*w.curImage));
    }

    void blurSequencesEndAsOneByOne_data()
    {
        QTest::addColumn<QString>("keys");
        for (const char* k : {"DQD", "DQ", "QDQ", "QQ", "DQQ", "QDQD", "DSQ"})
            QTest::newRow(k) << QString(k);
    }

    void blurSequencesEndAsOneByOne()
    {
        QFETCH(QString, keys);
        MainWindow quick, patient;
        for (QChar k : keys) {
            const Qt::Key key = Qt::Key(k.unicode());
            QTest::keyClick(&quick, key);
            QTest::keyClick(&patient, key);
            SETTLE(patient);
        }
        SETTLE(quick);
        QCOMPARE(quick.scene.CamPos, patient.scene.CamPos);
        QCOMPARE(quick.AntiAl, patient.AntiAl);
        QCOMPARE(status(quick), status(patient));
        QCOMPARE(*quick.curImage, *patient.curImage);
    }

    void dragShowsTheMovingCamera()
    {
        MainWindow w;
        const QImage before = *w.curImage;
        sendMouse(w, QEvent::MouseButtonPress, QPoint(100, 100));
        sendMouse(w, QEvent::MouseMove, QPoint(160, 100));
        // A frame this small renders quickly: the preview is the whole picture.
        QTRY_COMPARE(w.labelIm->pixmap().toImage().convertToFormat(QImage::Format_RGB32), pixels(render(w.scene)));
        QCOMPARE(*w.curImage, before);
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(160, 100));
        SETTLE(w);
        QCOMPARE(*w.curImage, render(w.scene));
    }

    void longRenderKeepsTheWindowLiveAndClosesCleanly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("big.xml");
        QVERIFY(writeSizedScene(path, 4096, 3072));
        MainWindow w;
        w.setFileNameAsker([&](bool) { return path; });
        dismissBoxes([&] { w.LoadFromXml(); });
        QVERIFY(w.isRendering());
        // An event posted now is handled while the picture is still being made.
        bool handled = false, duringRender = false;
        QTimer::singleShot(0, &w, [&] {
            handled = true;
            duringRender = w.isRendering();
        });
        QTRY_VERIFY(handled);
        QVERIFY(duringRender);
        // Past a moment the status bar shows how far it has come.
        auto* bar = w.findChild<QProgressBar*>();
        QVERIFY(bar);
        QTRY_VERIFY_WITH_TIMEOUT(!bar->isHidden() || !w.isRendering(), 60000);
        // Closing stops the work at once.
        w.close();
        QVERIFY(!w.isRendering());
    }

    void menus()
    {
        MainWindow w;
        const QList<QAction*> top = w.menuBar()->actions();
        QStringList titles;
        for (QAction* a : top)
            titles << (a->isSeparator() ? QStringLiteral("|") : a->text());
        // The three first menus as they always were, then the newer ones.
        QCOMPARE(titles, QStringList({"&File", "|", "&Load", "|", "&Save", "|", "&Edit", "&View"}));
        const auto items = [](QAction* menu) {
            QStringList out;
            for (QAction* a : menu->menu()->actions())
                out << (a->isSeparator() ? QStringLiteral("|") : a->text() + " / " + a->shortcut().toString());
            return out;
        };
        QCOMPARE(items(top[0]), QStringList({"&Open... / Ctrl+O", "Open &Recent / ", "&Export Picture... / Ctrl+E",
                                             "|", "E&xit / " + QKeySequence(QKeySequence::Quit).toString()}));
        QCOMPARE(top[0]->menu()->actions().last()->statusTip(), QStringLiteral("Exit Lumivex"));
        QCOMPARE(top[0]->menu()->actions().last()->shortcuts(), QKeySequence::keyBindings(QKeySequence::Quit));
        const auto tips = [](QAction* menu) {
            QStringList out;
            for (QAction* a : menu->menu()->actions())
                out << a->text() + " / " + a->statusTip();
            return out;
        };
        QCOMPARE(tips(top[2]), QStringList({"&XML / Load attributes from XML format",
                                            "&Bin / Load attributes from Binary format"}));
        QCOMPARE(tips(top[4]), QStringList({"&XML / Save attributes in XML format",
                                            "&Bin / Save attributes in Binary format"}));
        QCOMPARE(items(top[6]), QStringList({"&Undo / Ctrl+Z", "&Redo / Ctrl+Shift+Z", "|", "&Copy Picture / Ctrl+C"}));
        QCOMPARE(items(top[7]), QStringList({"Scene &Panel / Ctrl+P"}));
    }

    void exitSaysGoodbyeAndCloses()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QAction* exitAct = w.menuBar()->actions().first()->menu()->actions().last();
        const QStringList boxes = dismissBoxes([&] { exitAct->trigger(); });
        QCOMPARE(boxes, QStringList({"Exit: Thank you for using my Program)) Goodbye!!"}));
        QVERIFY(!w.isVisible());
    }

    void closeControlShowsNoBox()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(dismissBoxes([&] { w.close(); }).isEmpty());
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
