#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>

#include <QAbstractButton>
#include <QDockWidget>
#include <QScrollBar>
#include <QSpinBox>
#include <QLineEdit>
#include <QTableView>
#include <QUndoStack>

#include "window/exportdialog.h"
#include "window/keyframepanel.h"
#include "window/pictureview.h"
#include "window/scenepanel.h"
#include "window/statusarea.h"
#include "picture/blur.h"
#include "jobs/background.h"
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

// A wheel turn delivered to `target` as the window system does, in `target`'s coordinates: it
// goes on to the parents that leave it unused.
void wheelOn(QWidget* target, int angle)
{
    const QPointF at(target->width() / 2, target->height() / 2);
    QWheelEvent ev(at, target->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    // Only a turn from the window system goes on to the parents.
    QSpontaneKeyEvent::setSpontaneous(&ev);
    qApp->notify(target, &ev);
}

// A key where the keyboard is: the focus widget, or the active window when nothing has focus.
void keyWhereFocusIs(MainWindow& w, Qt::Key key)
{
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target ? target : &w, key);
}

void addKeyFrames(MainWindow& w, int count)
{
    for (int k = 0; k < count; ++k)
        findAction(w, "&Add Key Frame")->trigger();
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void startUp()
    {
        MainWindow w;
        QCOMPARE(status(w), QStringLiteral("Ready"));
        QCOMPARE(w.picture().size(), QSize(1024, 768));
        QCOMPARE(w.shownPicture().size(), QSize(1024, 768));
        QCOMPARE(w.picture(), render(Scene::builtIn()));
        QCOMPARE(w.shownPicture(),
                 w.picture().convertToFormat(QImage::Format_RGB32));
        QVERIFY(!w.isBlurred());
        QCOMPARE(w.mousePosition(), QPoint(0, 0));
        // The window cannot shrink below the picture but may grow.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(300, 200);
        QApplication::processEvents();
        // (or below the screen, where the screen is smaller: then it scrolls)
        const QScrollArea* scroll = w.findChild<QScrollArea*>();
        QCOMPARE(w.findChild<PictureView*>()->size(), QSize(1024, 768));
        QVERIFY(scroll->width() >= scroll->minimumWidth() && scroll->height() >= scroll->minimumHeight());
        QVERIFY(scroll->minimumWidth() >= std::min(1024, w.screen()->availableGeometry().width() / 2));
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
        QTest::newRow("F2 renders, camera stays") << int(Qt::Key_F2) << Vector3D(0, 0, 0);
        QTest::newRow("Left renders, picture does not scroll") << int(Qt::Key_Left) << Vector3D(0, 0, 0);
    }

    void keysMoveTheCamera()
    {
        QFETCH(int, key);
        QFETCH(Vector3D, delta);
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // As typed: to whatever has the keyboard focus in the window.
        QWidget* typedTo = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
        QTest::keyClick(typedTo, Qt::Key_Q); // a render always replaces a blurred picture
        SETTLE(w);
        QTest::keyClick(typedTo, Qt::Key(key));
        SETTLE(w);
        const Vector3D expected(stepped(0, 0.1 * delta.X), stepped(0, 0.1 * delta.Y),
                                stepped(-1.5f, 0.1 * delta.Z));
        QCOMPARE(w.scene().CamPos, expected);
        QCOMPARE(status(w), QStringLiteral("Made"));
        QVERIFY(!w.isBlurred());
        QCOMPARE(w.picture(), render(w.scene()));
        QCOMPARE(w.shownPicture(),
                 w.picture().convertToFormat(QImage::Format_RGB32));
    }

    void stepsAreRoundedToFloat()
    {
        MainWindow w;
        for (int k = 0; k < 5; ++k)
            QTest::keyClick(&w, Qt::Key_X);
        QCOMPARE(w.scene().CamPos.Z, -0.99999988f);
        QTest::keyClick(&w, Qt::Key_X);
        QCOMPARE(w.scene().CamPos.Z, -0.89999986f);
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
        QCOMPARE(w.scene().CamPos, Vector3D(0, 0, z));
        QCOMPARE(status(w), QStringLiteral("Zoomed"));
        QCOMPARE(w.picture(), render(w.scene()));
    }

    void dragMovesAndRendersOnRelease()
    {
        MainWindow w;
        const QImage before = w.picture();
        sendMouse(w, QEvent::MouseButtonPress, QPoint(100, 100));
        float y = 0;
        for (int dy : {10, 20, 30}) {
            sendMouse(w, QEvent::MouseMove, QPoint(100, 100 + dy));
            // Each move adds the whole way from the press point.
            y = stepped(y, dy / 3.0 / 768);
        }
        QCOMPARE(w.scene().CamPos.Y, y);
        QVERIFY(std::fabs(y - 20.0f / 768) < 1e-6f);
        QCOMPARE(w.scene().CamPos.X, 0.0f);
        QCOMPARE(w.picture(), before); // previews do not replace the picture
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(100, 130));
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("Translated"));
        QCOMPARE(w.mousePosition(), QPoint(100, 130));
        QCOMPARE(w.picture(), render(w.scene()));

        sendMouse(w, QEvent::MouseButtonPress, QPoint(50, 50));
        sendMouse(w, QEvent::MouseMove, QPoint(80, 50));
        QCOMPARE(w.scene().CamPos.X, stepped(0, 30 / 3.0 / 1024));
    }

    void clickRendersNothingRoundTripDragRendersQuietly()
    {
        MainWindow w;
        const QImage before = w.picture();
        w.statusBar()->showMessage("before");
        sendMouse(w, QEvent::MouseButtonPress, QPoint(10, 20));
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(10, 20));
        QCOMPARE(status(w), QStringLiteral("before"));
        QVERIFY(!w.isRendering());
        QCOMPARE(w.picture(), before);
        // A drag that comes back to its press point moves the camera and renders it without a
        // message, so that no preview stays on screen.
        sendMouse(w, QEvent::MouseButtonPress, QPoint(10, 20));
        sendMouse(w, QEvent::MouseMove, QPoint(40, 20));
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(10, 20));
        SETTLE(w);
        QVERIFY(w.scene().CamPos.X > 0);
        QCOMPARE(status(w), QStringLiteral("before"));
        QCOMPARE(w.picture(), render(w.scene()));
        QCOMPARE(w.shownPicture(), pixels(w.picture()));
    }

    void blurKeyLifeCycle()
    {
        MainWindow w;
        const QImage sharp = w.picture();
        QTest::keyClick(&w, Qt::Key_Q);
        QVERIFY(w.isBlurred());
        SETTLE(w);
        QCOMPARE(status(w), QStringLiteral("AntiAliasing Made"));
        const QImage blurred = blurReference(sharp);
        QCOMPARE(w.picture(), blurred);
        QCOMPARE(w.shownPicture(), blurred);
        // A second Q before the next render changes nothing, not even the status bar.
        w.statusBar()->showMessage("before");
        QTest::keyClick(&w, Qt::Key_Q);
        QVERIFY(!w.isRendering());
        QCOMPARE(w.picture(), blurred);
        QCOMPARE(status(w), QStringLiteral("before"));
        // Any other key renders the sharp picture again, and Q may blur once more.
        QTest::keyClick(&w, Qt::Key_Space);
        QVERIFY(!w.isBlurred());
        SETTLE(w);
        QCOMPARE(pixels(w.picture()), pixels(sharp));
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        QCOMPARE(w.picture(), blurred);
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
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("saveBox");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("loadBox");
        QTest::addColumn<QString>("loaded");
        const char* const xml[] = {"Message: Input file name for writing in XML format in", "Serialized in XML",
                                   "Message: Input file name for reading in XML format from", "Loaded from Xml"};
        const char* const bin[] = {"Message: Input file name for writing in Binary format in", "Serialized in Bin",
                                   "Message: Input file name for reading in Binary format from", "Loaded from Bin"};
        // A name without a suffix takes the format's; any other suffix stays.
        QTest::newRow("xml") << int(Xml) << "scene" << "scene.xml" << xml[0] << xml[1] << xml[2] << xml[3];
        QTest::newRow("bin") << int(Bin) << "scene" << "scene.bin" << bin[0] << bin[1] << bin[2] << bin[3];
        QTest::newRow("xml named .txt") << int(Xml) << "scene.txt" << "scene.txt" << xml[0] << xml[1] << xml[2]
                                        << xml[3];
        QTest::newRow("bin named .xml") << int(Bin) << "scene.xml" << "scene.xml" << bin[0] << bin[1] << bin[2]
                                        << bin[3];
    }

    void saveAndLoadThroughTheMenus()
    {
        QFETCH(int, format);
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(QString, saveBox);
        QFETCH(QString, saved);
        QFETCH(QString, loadBox);
        QFETCH(QString, loaded);
        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        MainWindow w;
        QList<bool> asked;
        w.setFileNameAsker([&](bool forSaving) {
            asked << forSaving;
            return forSaving ? dir.filePath(name) : path;
        });
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        QCOMPARE(dismissBoxes([&] { menuItem(w, SaveMenu, format)->trigger(); }), QStringList{saveBox});
        QCOMPARE(status(w), saved);
        QVERIFY(!w.isBlurred());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{file});
        QCOMPARE(w.windowTitle(), file + " — Lumivex");
        QCOMPARE(fileBytes(path).size(), format == Xml ? 3265 : 2055);
        QTest::keyClick(&w, Qt::Key_D);
        QTest::keyClick(&w, Qt::Key_Q);
        QCOMPARE(dismissBoxes([&] { menuItem(w, LoadMenu, format)->trigger(); }), QStringList{loadBox});
        QCOMPARE(status(w), loaded);
        SETTLE(w);
        QCOMPARE(asked, QList<bool>({true, false}));
        QCOMPARE(status(w), QStringLiteral("RayTraced"));
        QVERIFY(!w.isBlurred());
        QCOMPARE(w.scene().CamPos, Vector3D(0, 0, -1.5f));
        QCOMPARE(pixels(w.picture()), pixels(render(Scene::builtIn())));
        QCOMPARE(w.shownPicture(), pixels(w.picture()));
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
        QCOMPARE(w.picture().size(), QSize(64, 48));
        QCOMPARE(w.shownPicture().size(), QSize(64, 48));
        QCOMPARE(w.picture(), render(small));
        // The window fits the smaller picture again.
        QTRY_VERIFY(w.width() < big.width() && w.height() < big.height());
        // The next camera move renders at the loaded size too, and the drag uses it.
        QTest::keyClick(&w, Qt::Key_A);
        SETTLE(w);
        QCOMPARE(w.picture(), render(w.scene()));
    }

    void afterASaveTheBlurRunsAgain()
    {
        QTemporaryDir dir;
        MainWindow w;
        w.setFileNameAsker([&](bool) { return dir.filePath("s.bin"); });
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        const QImage once = w.picture();
        dismissBoxes([&] { w.SerializeInBin(); });
        QVERIFY(!w.isRendering());
        QCOMPARE(w.picture(), once); // a save renders nothing
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        QCOMPARE(w.picture(), blurReference(once));
    }

    void cancelledCommandsDoNothing()
    {
        QTemporaryDir dir;
        MainWindow w;
        w.setFileNameAsker([](bool) { return QString(); });
        QTest::keyClick(&w, Qt::Key_S);
        SETTLE(w);
        const Vector3D cam = w.scene().CamPos;
        const QImage before = w.picture();
        w.statusBar()->showMessage("before");
        for (auto slot : {&MainWindow::SerializeInXml, &MainWindow::SerializeInBin, &MainWindow::LoadFromXml,
                          &MainWindow::LoadFromBin}) {
            QCOMPARE(dismissBoxes([&] { (w.*slot)(); }).size(), 1);
            QCOMPARE(status(w), QStringLiteral("before"));
        }
        QCOMPARE(w.scene().CamPos, cam);
        QCOMPARE(w.picture(), before);
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    void failedCommandsSayWhyAndChangeNothing_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("why");
        QTest::newRow("cut file") << "broken.xml" << "LoadFromXml" << "ends before the scene is complete";
        QTest::newRow("missing file") << "missing.xml" << "LoadFromXml" << "cannot open";
        QTest::newRow("XML file through Load > Bin") << "good.xml" << "LoadFromBin" << "good.xml";
        QTest::newRow("save into a missing folder") << "no/such/folder/scene.xml" << "SerializeInXml"
                                                    << "cannot open";
    }

    void failedCommandsSayWhyAndChangeNothing()
    {
        QFETCH(QString, file);
        QFETCH(QString, command);
        QFETCH(QString, why);
        QTemporaryDir dir;
        {
            QFile f(dir.filePath("broken.xml"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<?xml version = \"1.0\"?>\n<Scene>\n<Screen>\n<String Name = \"Attribute\"> Screen </String>\n");
        }
        QVERIFY(writeSizedScene(dir.filePath("good.xml"), 64, 48));
        MainWindow w;
        QTest::keyClick(&w, Qt::Key_W);
        SETTLE(w);
        const Vector3D cam = w.scene().CamPos;
        const QImage before = w.picture();
        const QString path = dir.filePath(file);
        w.setFileNameAsker([&](bool) { return path; });
        w.statusBar()->showMessage("before");
        const QStringList boxes =
            dismissBoxes([&] { QMetaObject::invokeMethod(&w, qPrintable(command), Qt::DirectConnection); });
        QCOMPARE(status(w), QStringLiteral("Error"));
        // The box after the command's own names the file and says what is wrong.
        QCOMPARE(boxes.size(), 2);
        QVERIFY2(boxes[1].startsWith("Lumivex: ") && boxes[1].contains(path) && boxes[1].contains(why),
                 qPrintable(boxes[1]));
        QCOMPARE(w.scene().CamPos, cam);
        QCOMPARE(w.picture().cacheKey(), before.cacheKey()); // not replaced
        QVERIFY(!w.isRendering());
        QCOMPARE(w.windowTitle(), QStringLiteral("Lumivex"));
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
        QCOMPARE(w.picture(), render(w.scene()));
        QCOMPARE(w.shownPicture(), pixels(w.picture()));
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
        QCOMPARE(quick.scene().CamPos, patient.scene().CamPos);
        QCOMPARE(quick.isBlurred(), patient.isBlurred());
        QCOMPARE(status(quick), status(patient));
        QCOMPARE(quick.picture(), patient.picture());
    }

    void dragShowsTheMovingCamera()
    {
        MainWindow w;
        const QImage before = w.picture();
        sendMouse(w, QEvent::MouseButtonPress, QPoint(100, 100));
        sendMouse(w, QEvent::MouseMove, QPoint(160, 100));
        // A frame this small renders quickly: the preview is the whole picture.
        QTRY_COMPARE(w.shownPicture(), pixels(render(w.scene())));
        QCOMPARE(w.picture(), before);
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(160, 100));
        SETTLE(w);
        QCOMPARE(w.picture(), render(w.scene()));
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
        QCOMPARE(titles, QStringList({"&File", "|", "&Load", "|", "&Save", "|", "&Edit", "&View", "&Animation", "&Help"}));
        const auto items = [](QAction* menu) {
            QStringList out;
            for (QAction* a : menu->menu()->actions())
                out << (a->isSeparator() ? QStringLiteral("|") : a->text() + " / " + a->shortcut().toString());
            return out;
        };
        QCOMPARE(items(top[0]), QStringList({"&Open... / Ctrl+O", "Open &Recent / ", "&Save / Ctrl+S",
                                             "&Export Picture... / Ctrl+E", "|",
                                             "E&xit / " + QKeySequence(QKeySequence::Quit).toString()}));
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
        QCOMPARE(items(top[7]), QStringList({"Scene &Panel / Ctrl+P", "&Key Frames / ", "|", "&Stop Rendering / Ctrl+."}));
        QCOMPARE(items(top[8]), QStringList({"&Add Key Frame / Ctrl+K", "|", "&Open Key Frames... / ",
                                             "&Save Key Frames... / ", "|", "S&mooth Path / ", "&Play Preview / ",
                                             "&Render Animation... / "}));
        QCOMPARE(items(top[9]), QStringList({"&Keys and Mouse / F1", "&About Lumivex / "}));
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
    void modifierKeysOnlyReachShortcuts_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("moves");
        QTest::newRow("Ctrl alone") << int(Qt::Key_Control) << int(Qt::ControlModifier) << false;
        QTest::newRow("Shift alone") << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << false;
        QTest::newRow("Alt alone") << int(Qt::Key_Alt) << int(Qt::AltModifier) << false;
        QTest::newRow("Meta alone") << int(Qt::Key_Meta) << int(Qt::MetaModifier) << false;
        QTest::newRow("Caps Lock") << int(Qt::Key_CapsLock) << 0 << false;
        QTest::newRow("Ctrl+Z, nothing to undo") << int(Qt::Key_Z) << int(Qt::ControlModifier) << false;
        QTest::newRow("Ctrl+Shift+X") << int(Qt::Key_X) << int(Qt::ControlModifier | Qt::ShiftModifier) << false;
        QTest::newRow("Alt+D") << int(Qt::Key_D) << int(Qt::AltModifier) << false;
        QTest::newRow("Meta+A") << int(Qt::Key_A) << int(Qt::MetaModifier) << false;
        QTest::newRow("Shift+D moves as D") << int(Qt::Key_D) << int(Qt::ShiftModifier) << true;
    }

    void modifierKeysOnlyReachShortcuts()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, moves);
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        const QImage blurred = w.picture();
        QTest::keyClick(&w, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (moves) {
            SETTLE(w);
            QCOMPARE(w.scene().CamPos, Vector3D(stepped(0, 0.1), 0, -1.5f));
            QCOMPARE(status(w), QStringLiteral("Made"));
            QVERIFY(!w.isBlurred());
            return;
        }
        QVERIFY(!w.isRendering());
        QCOMPARE(w.scene().CamPos, Vector3D(0, 0, -1.5f));
        QVERIFY(w.isBlurred());
        QCOMPARE(w.shownPicture(), pixels(blurred));
    }

    void shortcutsAfterABlurTakeTheBlurredPicture()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("shot.png");
        MainWindow w;
        w.setFileNameAsker([&](bool) { return path; });
        pictureExport(w)->setAsker([](ExportSettings&) { return true; });
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        const QImage blurred = pixels(w.picture());
        QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
        QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
        SETTLE(w);
        QTRY_VERIFY_WITH_TIMEOUT(!pictureExport(w)->isRunning(), 30000);
        QVERIFY(w.isBlurred());
        QCOMPARE(pixels(w.picture()), blurred);
        QCOMPARE(pixels(QImage(path)), blurred);
        QCOMPARE(pixels(QGuiApplication::clipboard()->image()), blurred);
        // Whether or not the export took long enough to show its box, the keys are the window's.
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // With a step to undo, Ctrl+Z and Ctrl+Shift+Z reach undo and redo.
        QTest::keyClick(&w, Qt::Key_D);
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.scene().CamPos, Vector3D(0, 0, -1.5f));
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.scene().CamPos, Vector3D(stepped(0, 0.1), 0, -1.5f));
    }

    void statusAreaShowsCameraSizeTimeAndBlur()
    {
        qint64 now = 1000;
        MainWindow w;
        w.setClock([&now] { return now; });
        const auto area = [&w] { return w.findChild<StatusArea*>()->text(); };
        QTest::keyClick(&w, Qt::Key_D);
        now = 1250;
        SETTLE(w);
        QCOMPARE(area(), QStringLiteral("Camera 0.1, 0, -1.5 | 1024 × 768 | 250 ms"));
        QTest::keyClick(&w, Qt::Key_Q);
        now = 9000; // a blur is no render
        SETTLE(w);
        QCOMPARE(area(), QStringLiteral("Camera 0.1, 0, -1.5 | 1024 × 768 | 250 ms | blurred"));
        // The camera shows at once, before its picture.
        QTest::keyClick(&w, Qt::Key_W);
        QVERIFY2(area().startsWith(QStringLiteral("Camera 0.1, -0.1, -1.5 | 1024 × 768")), qPrintable(area()));
        SETTLE(w);
        QVERIFY2(!area().contains("blurred"), qPrintable(area()));
        // The passing messages keep their place and timing beside it.
        QCOMPARE(status(w), QStringLiteral("Made"));
    }

    void stopRenderingKeepsThePicture()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("large.xml");
        QVERIFY(writeSizedScene(path, 2048, 1536));
        MainWindow w;
        const QImage first = w.picture();
        QAction* stop = findAction(w, "&Stop Rendering");
        QVERIFY(stop && !stop->isEnabled());
        QVERIFY(w.openFile(path));
        QVERIFY(w.isRendering());
        QVERIFY(stop->isEnabled());
        const qint64 shown = w.shownPicture().cacheKey();
        stop->trigger();
        QVERIFY(!w.isRendering());
        QVERIFY(!stop->isEnabled());
        QCOMPARE(status(w), QStringLiteral("Rendering stopped"));
        // Nothing of the stopped work arrives later.
        BackgroundRenderer::waitForWorkers();
        QCoreApplication::processEvents();
        QCOMPARE(w.shownPicture().cacheKey(), shown);
        QCOMPARE(w.picture().cacheKey(), first.cacheKey());
        // The next blur renders the current camera first.
        QTest::keyClick(&w, Qt::Key_Q);
        SETTLE(w);
        QCOMPARE(w.picture(), blurImage(render(w.scene())));
        QCOMPARE(status(w), QStringLiteral("AntiAliasing Made"));
    }

    void copyTakesTheFinishedPictureOfTheCamera()
    {
        QImage marker(4, 4, QImage::Format_RGB32);
        marker.fill(Qt::magenta);
        const auto clipboard = [] { return pixels(QGuiApplication::clipboard()->image()); };
        QGuiApplication::clipboard()->setImage(marker);
        MainWindow w;
        QAction* copy = findAction(w, "&Copy Picture");
        // Asked for while the camera's picture, or its blur, is on its way: copied when it comes.
        QTest::keyClick(&w, Qt::Key_D);
        copy->trigger();
        QCOMPARE(status(w), QStringLiteral("The picture is copied when it is finished"));
        QCOMPARE(clipboard(), marker);
        SETTLE(w);
        QCOMPARE(clipboard(), pixels(render(w.scene())));
        QCOMPARE(status(w), QStringLiteral("Picture copied"));
        QTest::keyClick(&w, Qt::Key_Q);
        copy->trigger();
        SETTLE(w);
        QCOMPARE(clipboard(), pixels(blurImage(render(w.scene()))));

        // Stopped with the coarse first picture of a large scene on screen: the status area says
        // the picture is not finished, Copy refuses, and Export renders the camera shown there.
        QTemporaryDir dir;
        const QString path = dir.filePath("huge.xml");
        QVERIFY(writeSizedScene(path, 8192, 8192));
        QVERIFY(w.openFile(path));
        QTRY_COMPARE_WITH_TIMEOUT(w.shownPicture().size(), QSize(1024, 1024), 20000);
        findAction(w, "&Stop Rendering")->trigger();
        QVERIFY(w.findChild<StatusArea*>()->text().endsWith(" | stopped"));
        QGuiApplication::clipboard()->setImage(marker);
        copy->trigger();
        QVERIFY2(status(w).startsWith("Nothing copied: the picture on screen is not finished"), qPrintable(status(w)));
        QCOMPARE(clipboard(), marker);
        const QString exported = dir.filePath("camera.png");
        w.setFileNameAsker([&](bool) { return exported; });
        pictureExport(w)->setAsker([](ExportSettings& s) {
            s.width = 64;
            s.height = 64;
            return true;
        });
        findAction(w, "&Export Picture...")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!pictureExport(w)->isRunning(), 30000);
        Scene small = w.scene();
        small.Wid = small.Hey = 64;
        QCOMPARE(pixels(QImage(exported)), pixels(render(small)));
        // The next picture ends the mark.
        QTest::keyClick(&w, Qt::Key_W);
        QVERIFY(!w.findChild<StatusArea*>()->text().contains("stopped"));
        w.close();
    }

    void hidingThePanelGivesItsRoomBack()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QApplication::processEvents();
        const QSize alone = w.size();
        QAction* panel = findAction(w, "Scene &Panel");
        panel->trigger();
        QTRY_VERIFY(w.width() > alone.width());
        panel->trigger();
        QTRY_COMPARE(w.size(), alone);
    }

    void panelsKeepTheWindowOnTheScreen()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect screen = w.screen()->availableGeometry();
        const QScrollArea* scroll = w.findChild<QScrollArea*>();
        const int alone = scroll->minimumWidth();
        // One panel, both, the first alone again: the picture gives up the room, the window stays
        // whole on the screen, and the first panel alone leaves the picture the same room as before.
        QList<int> widths;
        for (const char* menuText : {"&Key Frames", "Scene &Panel", "Scene &Panel"}) {
            findAction(w, menuText)->trigger();
            QTRY_VERIFY(scroll->minimumWidth() < alone);
            QTRY_VERIFY(screen.contains(w.frameGeometry()));
            widths << scroll->minimumWidth();
        }
        QCOMPARE(widths[2], widths[0]);
        findAction(w, "&Key Frames")->trigger();
        QTRY_VERIFY(scroll->minimumWidth() >= alone);
        // The preview's bar under the picture takes its height from the picture too.
        findAction(w, "&Add Key Frame")->trigger();
        findAction(w, "&Add Key Frame")->trigger();
        findAction(w, "&Play Preview")->trigger();
        QTRY_VERIFY(screen.contains(w.frameGeometry()));
        QTest::keyClick(&w, Qt::Key_Escape);
        answerBoxes(QMessageBox::Discard, [&] { QTest::keyClick(&w, Qt::Key_Escape); });
    }

    void startWithAHugeSceneFileShowsTheWindowAtOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("huge.xml");
        QVERIFY(writeSizedScene(path, 8192, 8192));
        QString why;
        MainWindow w(path, &why);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Shown while its picture is on the way, which shows coarse first.
        QVERIFY(w.isRendering());
        QCOMPARE(w.windowTitle(), QStringLiteral("huge.xml — Lumivex"));
        QTRY_COMPARE_WITH_TIMEOUT(w.shownPicture().size(), QSize(1024, 1024), 20000);
        QVERIFY(w.isRendering());
        Scene coarse = w.scene();
        coarse.Wid = coarse.Hey = 1024;
        QCOMPARE(w.shownPicture(), pixels(render(coarse)));
        w.close();
        QVERIFY(!w.isRendering());
    }

    void pictureViewShowsPicturesAndStretchesStandIns()
    {
        Scene s = Scene::builtIn();
        s.Wid = 64;
        s.Hey = 48;
        const QImage full = pixels(render(s));
        Scene small = s;
        small.Wid = 8;
        small.Hey = 6;
        const QImage standIn = pixels(render(small));
        PictureView view;
        view.setPicture(full);
        QCOMPARE(pixels(view.grab().toImage()), full);
        // Only a part on screen: that part of the picture.
        const QRect part(10, 5, 20, 10);
        QCOMPARE(pixels(view.grab(part).toImage()), full.copy(part));
        view.setStandIn(standIn);
        QVERIFY(view.showsStandIn());
        const QImage stretched = pixels(view.grab().toImage());
        QCOMPARE(stretched.size(), QSize(64, 48));
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                QCOMPARE(stretched.pixel(x, y), standIn.pixel(x / 8, y / 8));
        QCOMPARE(pixels(view.grab(part).toImage()), stretched.copy(part));
        view.clear(QSize(10, 5));
        QImage black(10, 5, QImage::Format_RGB32);
        black.fill(Qt::black);
        QCOMPARE(pixels(view.grab().toImage()), black);
    }

    void helpListsTheInputsAndSaysWhatThisIs()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_D);
        SETTLE(w);
        QTest::keyClick(&w, Qt::Key_F1);
        QVERIFY(!w.isRendering()); // F1 is help, not "any other key"
        auto* keys = w.findChild<QDialog*>();
        QVERIFY(keys && keys->isVisible() && !keys->isModal());
        const QString table = keys->findChild<QLabel*>()->text();
        for (const char* row : {"<b>Escape</b></td><td>close", "<b>Any other key</b></td><td>render again",
                                "<b>Ctrl+S</b></td><td>Save<", "<b>Ctrl+.</b></td><td>Stop Rendering<",
                                "<b>Ctrl+Z</b></td><td>Undo<", "<b>Ctrl+Shift+Z</b></td><td>Redo<",
                                "<b>F1</b></td><td>Keys and Mouse<", "<b>Ctrl+K</b></td><td>Add Key Frame<",
                                "while a preview plays</b></td><td>stops the preview"})
            QVERIFY2(table.contains(row), row);
        const QStringList boxes = dismissBoxes([&] { findAction(w, "&About Lumivex")->trigger(); });
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith("About Lumivex: ") && boxes[0].contains("Lumivex " LUMIVEX_VERSION),
                 qPrintable(boxes[0]));
        // Closing the window closes the table too, so the program can end.
        w.close();
        QVERIFY(!keys->isVisible());
    }

    // The offscreen screen is smaller than the picture: it sits in a scroll area. The wheel over
    // it moves the camera and never scrolls it; its scroll bars still scroll.
    void wheelOverAPictureLargerThanTheWindowMovesTheCamera()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* scroll = w.findChild<QScrollArea*>();
        QVERIFY2(scroll->verticalScrollBar()->maximum() > 0, "the picture fits: no scroll area to test");
        auto* view = w.findChild<PictureView*>();
        const int barAt = scroll->verticalScrollBar()->value();
        for (int k = 0; k < 3; ++k)
            wheelOn(view, -120);
        QCOMPARE(scroll->verticalScrollBar()->value(), barAt);
        QCOMPARE(w.scene().CamPos.Z, stepped(stepped(stepped(-1.5f, 0.1), 0.1), 0.1));
        wheelOn(scroll->viewport(), 120);
        SETTLE(w);
        QCOMPARE(w.scene().CamPos.Z, stepped(stepped(stepped(stepped(-1.5f, 0.1), 0.1), 0.1), -0.1));
        QCOMPARE(w.findChild<QUndoStack*>()->count(), 1); // one burst of moves
        QCOMPARE(scroll->verticalScrollBar()->value(), barAt);
        QCOMPARE(status(w), QStringLiteral("Zoomed"));
        // The bar itself scrolls the picture and leaves the camera.
        const Vector3D camera = w.scene().CamPos;
        wheelOn(scroll->verticalScrollBar(), -120);
        QVERIFY(scroll->verticalScrollBar()->value() != barAt);
        QCOMPARE(w.scene().CamPos, camera);
    }

    void wheelOverAPanelNeverMovesTheCamera_data()
    {
        QTest::addColumn<QString>("panel");
        QTest::newRow("scene panel") << "Scene &Panel";
        QTest::newRow("key frames") << "&Key Frames";
    }

    void wheelOverAPanelNeverMovesTheCamera()
    {
        QFETCH(QString, panel);
        MainWindow w;
        addKeyFrames(w, 3);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        findAction(w, panel)->trigger();
        SETTLE(w);
        QList<QWidget*> targets;
        if (panel == "&Key Frames") {
            auto* table = w.findChild<KeyFramePanel*>()->table();
            targets << table->viewport() << table;
        } else {
            auto* scenePanel = w.findChild<ScenePanel*>();
            targets << scenePanel->findChild<QScrollArea*>()->viewport() << scenePanel->field("Thor2/Radius")
                    << scenePanel->field("Picture/Width");
        }
        const int steps = w.findChild<QUndoStack*>()->count();
        for (QWidget* target : targets)
            for (int angle : {-120, -120, 120, 120, 120, 2400, -2400})
                wheelOn(target, angle);
        QVERIFY(!w.isRendering());
        QCOMPARE(w.scene().CamPos, Vector3D(0, 0, -1.5f));
        QCOMPARE(w.findChild<QUndoStack*>()->count(), steps);
        // Not even a side of the picture, from a spin box the wheel passed over.
        QCOMPARE(w.scene().Wid, 1024);
        if (panel != "&Key Frames") {
            // The panel scrolls instead.
            auto* bar = w.findChild<ScenePanel*>()->findChild<QScrollArea*>()->verticalScrollBar();
            bar->setValue(0);
            wheelOn(w.findChild<ScenePanel*>()->field("Sphere2/Radius"), -120);
            QVERIFY(bar->value() > 0);
        }
    }

    // After each dialog, menu or panel command is done with, D moves the camera.
    void keysMoveTheCameraAfterEveryDialog_data()
    {
        QTest::addColumn<QString>("dialog");
        for (const char* d : {"colour", "colour picked", "export", "load", "about", "keys and mouse", "go to",
                              "menu bar after Escape", "key frames cell"})
            QTest::newRow(d) << d;
    }

    void keysMoveTheCameraAfterEveryDialog()
    {
        QFETCH(QString, dialog);
        MainWindow w;
        addKeyFrames(w, 2);
        w.setFileNameAsker([](bool) { return QString(); });
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* scenePanel = w.findChild<ScenePanel*>();
        Vector3D camera(0, 0, -1.5f);
        if (dialog.startsWith("colour")) {
            findAction(w, "Scene &Panel")->trigger();
            QApplication::processEvents();
            const bool pick = dialog == "colour picked";
            scenePanel->setColourAsker([pick](const QColor&, const QString&) { return pick ? QColor(Qt::white) : QColor(); });
            // Clicked, as a user does: the click's focus goes where the window gives it.
            QAbstractButton* button = scenePanel->colourButton("Light1/Colour");
            // A click gives the focus to the nearest widget from the button up that takes it by
            // a click, as the window system's clicks do.
            for (QWidget* p = button; p && !p->isWindow(); p = p->parentWidget())
                if (p->focusPolicy() & Qt::ClickFocus) {
                    p->setFocus(Qt::MouseFocusReason);
                    break;
                }
            QTest::mouseClick(button, Qt::LeftButton);
            SETTLE(w);
        } else if (dialog == "export") {
            QTimer::singleShot(50, [] {
                if (auto* d = qobject_cast<ExportDialog*>(QApplication::activeModalWidget()))
                    d->reject();
            });
            findAction(w, "&Export Picture...")->trigger();
        } else if (dialog == "load") {
            dismissBoxes([&] { findAction(w, "&XML")->trigger(); });
        } else if (dialog == "about") {
            dismissBoxes([&] { findAction(w, "&About Lumivex")->trigger(); });
        } else if (dialog == "keys and mouse") {
            QTest::keyClick(&w, Qt::Key_F1);
            auto* keys = w.findChild<QDialog*>();
            QVERIFY(keys && keys->isVisible());
            keys->close();
            w.activateWindow();
        } else if (dialog == "go to") {
            findAction(w, "&Key Frames")->trigger();
            auto* table = w.findChild<KeyFramePanel*>()->table();
            table->setFocus();
            table->selectRow(0);
            findAction(w, "&Go To")->trigger();
            SETTLE(w);
        } else if (dialog == "menu bar after Escape") {
            // What Alt alone and then Escape leave: the menu bar with the keys and no menu open.
            w.menuBar()->setFocus();
            QVERIFY(!w.menuBar()->activeAction());
        } else if (dialog == "key frames cell") {
            findAction(w, "&Key Frames")->trigger();
            auto* table = w.findChild<KeyFramePanel*>()->table();
            table->setFocus();
            table->setCurrentIndex(table->model()->index(1, KeyFrameModel::XColumn));
        }
        // Given back by the window manager once a dialog has gone.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const CameraPath keys = animation(w)->keyFrames();
        keyWhereFocusIs(w, Qt::Key_D);
        SETTLE(w);
        camera.X = stepped(camera.X, 0.1);
        QCOMPARE(w.scene().CamPos, camera);
        QCOMPARE(status(w), QStringLiteral("Made"));
        // The key frames took nothing of it.
        QCOMPARE(animation(w)->keyFrames().keys.size(), keys.keys.size());
        QCOMPARE(animation(w)->keyFrames().keys[1].camera, keys.keys[1].camera);
        QVERIFY(!QApplication::focusWidget() || !qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        if (dialog == "menu bar after Escape") {
            // Escape there is the window's again.
            answerBoxes(QMessageBox::Discard, [&] { keyWhereFocusIs(w, Qt::Key_Escape); });
            QVERIFY(!w.isVisible());
        }
    }

    // A cell edits on a double-click, F2 or Return, never on a letter.
    void keyFrameCellsEditOnF2AndReturnOnly_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("edits");
        QTest::newRow("F2") << int(Qt::Key_F2) << true;
        QTest::newRow("Return") << int(Qt::Key_Return) << true;
        QTest::newRow("Enter") << int(Qt::Key_Enter) << true;
        QTest::newRow("a letter") << int(Qt::Key_D) << false;
        QTest::newRow("a digit") << int(Qt::Key_5) << false;
    }

    void keyFrameCellsEditOnF2AndReturnOnly()
    {
        QFETCH(int, key);
        QFETCH(bool, edits);
        MainWindow w;
        addKeyFrames(w, 2);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        findAction(w, "&Key Frames")->trigger();
        auto* table = w.findChild<KeyFramePanel*>()->table();
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, KeyFrameModel::XColumn));
        QTest::keyClick(table, Qt::Key(key));
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QCOMPARE(editor != nullptr, edits);
        if (edits) {
            QCOMPARE(editor->text(), QStringLiteral("0"));
            QTest::keyClick(editor, Qt::Key_Escape);
            QVERIFY(w.isVisible());
            QCOMPARE(w.scene().CamPos, Vector3D(0, 0, -1.5f));
            return;
        }
        SETTLE(w);
        QCOMPARE(w.scene().CamPos.X, key == Qt::Key_D ? stepped(0, 0.1) : 0.0f);
        QCOMPARE(status(w), QStringLiteral("Made"));
        QVERIFY(!table->model()->index(0, KeyFrameModel::XColumn).data(Qt::ToolTipRole).isValid());
        QCOMPARE(animation(w)->keyFrames().keys[0].camera, Vector3D(0, 0, -1.5f));
    }

    // Closing with key frames changed since they were saved asks; with none, it closes as ever.
    void closingWithUnsavedKeyFramesAsks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QStringList>("boxes");
        const QString ask = "Key Frames: The key frames have not been saved.";
        const QString askAgain = "Key Frames: The key frames have changed since they were saved.";
        const QString bye = "Exit: Thank you for using my Program)) Goodbye!!";
        QTest::newRow("Escape, Cancel") << "escape" << "added" << int(QMessageBox::Cancel) << false << QStringList{ask};
        QTest::newRow("Escape, Discard") << "escape" << "added" << int(QMessageBox::Discard) << true << QStringList{ask};
        QTest::newRow("Escape, Save") << "escape" << "added" << int(QMessageBox::Save) << true << QStringList{ask};
        QTest::newRow("close control, Cancel") << "close" << "added" << int(QMessageBox::Cancel) << false << QStringList{ask};
        QTest::newRow("Exit, Cancel: no goodbye") << "exit" << "added" << int(QMessageBox::Cancel) << false << QStringList{ask};
        QTest::newRow("Exit, Discard: asked once") << "exit" << "added" << int(QMessageBox::Discard) << true << QStringList{ask, bye};
        QTest::newRow("Escape, none") << "escape" << "none" << int(QMessageBox::Cancel) << true << QStringList();
        QTest::newRow("Exit, none") << "exit" << "none" << int(QMessageBox::Cancel) << true << QStringList{bye};
        QTest::newRow("Escape, saved") << "escape" << "saved" << int(QMessageBox::Cancel) << true << QStringList();
        QTest::newRow("Escape, added and undone") << "escape" << "undone" << int(QMessageBox::Cancel) << true << QStringList();
        QTest::newRow("Escape, edited after saving") << "escape" << "saved, then added" << int(QMessageBox::Cancel) << false << QStringList{askAgain};
    }

    void closingWithUnsavedKeyFramesAsks()
    {
        QFETCH(QString, how);
        QFETCH(QString, state);
        QFETCH(int, answer);
        QFETCH(bool, closes);
        QFETCH(QStringList, boxes);
        QTemporaryDir dir;
        const QString file = dir.filePath("keys.txt");
        MainWindow w;
        w.setFileNameAsker([&](bool) { return file; });
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        if (state != "none")
            addKeyFrames(w, 2);
        if (state.startsWith("saved"))
            findAction(w, "&Save Key Frames...")->trigger();
        if (state == "saved, then added")
            addKeyFrames(w, 1);
        if (state == "undone") {
            w.findChild<QUndoStack*>()->undo();
            w.findChild<QUndoStack*>()->undo();
        }
        QFile::remove(file);
        const QStringList seen = answerBoxes(QMessageBox::StandardButton(answer), [&] {
            if (how == "escape")
                QTest::keyClick(&w, Qt::Key_Escape);
            else if (how == "close")
                w.close();
            else
                findAction(w, "E&xit")->trigger();
        });
        QCOMPARE(seen, boxes);
        QCOMPARE(!w.isVisible(), closes);
        // Save writes the key frames before the window goes.
        QCOMPARE(QFile::exists(file), answer == QMessageBox::Save && !boxes.isEmpty());
        if (!closes)
            answerBoxes(QMessageBox::Discard, [&] { w.close(); });
    }

    // The readout rounds as a scene file does; the scene panel keeps the float exactly.
    void cameraReadoutIsRounded()
    {
        MainWindow w;
        for (Qt::Key k : {Qt::Key_A, Qt::Key_D, Qt::Key_X, Qt::Key_X, Qt::Key_X, Qt::Key_X})
            QTest::keyClick(&w, k);
        SETTLE(w);
        QVERIFY2(w.findChild<StatusArea*>()->text().startsWith("Camera 0, 0, -1.1 | "),
                 qPrintable(w.findChild<StatusArea*>()->text()));
        auto* z = qobject_cast<QLineEdit*>(w.findChild<ScenePanel*>()->field("Camera/Position/Z"));
        QCOMPARE(z->text(), QStringLiteral("-1.0999999"));
    }

    // Supersampling is 1 to 8 in the Export dialog, whatever is typed.
    void exportDialogKeepsSupersamplingInRange_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("taken");
        // A key that would leave the range is refused as it is typed.
        QTest::newRow("8") << "8" << 8;
        QTest::newRow("9") << "9" << 1;
        QTest::newRow("64") << "64" << 6;
        QTest::newRow("0") << "0" << 1;
        QTest::newRow("-3") << "-3" << 3;
    }

    void exportDialogKeepsSupersamplingInRange()
    {
        QFETCH(QString, typed);
        QFETCH(int, taken);
        ExportDialog dialog(ExportSettings{});
        QSpinBox* box = dialog.supersampleBox();
        QCOMPARE(box->maximum(), kMaxSupersample);
        QCOMPARE(box->minimum(), 1);
        box->selectAll();
        QTest::keyClicks(box, typed);
        box->interpretText();
        QCOMPARE(dialog.settings().supersample, taken);
        box->setValue(kMaxSupersample + 1);
        QCOMPARE(dialog.settings().supersample, kMaxSupersample);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
