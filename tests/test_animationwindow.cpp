// The window's export, key frames, preview and animation: their files compared with the
// command's, their edits undone, their long work stopped.
#include <QCheckBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QWheelEvent>
#include <QtTest>
#include <cstring>
#include <unistd.h>
#include <limits>
#include <tuple>

#include "window/keyframepanel.h"
#include "window/longtask.h"
#include "window/pictureview.h"
#include "jobs/previewplayer.h"
#include "picture/supersample.h"
#include "picture/videowriter.h"
#include "render/tracer.h"
#include "windowharness.h"

namespace {

constexpr int kWait = 60000;

// Runs lumivex-render; its exit status, -1 when it did not end normally.
int runRender(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(LUMIVEX_RENDER), args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The same picture file: PPM byte for byte, others pixel for pixel (their encoders may differ).
bool samePicture(const QString& a, const QString& b)
{
    if (a.endsWith(".ppm"))
        return !fileBytes(a).isEmpty() && fileBytes(a) == fileBytes(b);
    const QImage x(a), y(b);
    return !x.isNull() && x.convertToFormat(QImage::Format_RGB32) == y.convertToFormat(QImage::Format_RGB32);
}

// The window's scene, as a file the command reads.
QString sceneFile(const MainWindow& w, const QTemporaryDir& dir)
{
    const QString path = dir.filePath("scene.xml");
    XMLS writer;
    return saveScene(writer, path, w.scene()) ? path : QString();
}

Scene sized(int wid, int hey)
{
    Scene s = Scene::builtIn();
    s.Wid = wid;
    s.Hey = hey;
    return s;
}

// Adds a key frame at each camera as a user would: the camera there, then Ctrl+K. The camera
// goes back to where it was.
void addKeys(MainWindow& w, const QList<Vector3D>& cameras)
{
    const Scene start = w.scene();
    for (const Vector3D& c : cameras) {
        Scene s = w.scene();
        s.CamPos = c;
        w.applyScene(s);
        findAction(w, "&Add Key Frame")->trigger();
    }
    w.applyScene(start);
    SETTLE(w);
}

const QList<Vector3D> kCameras = {Vector3D(0, 0, -1.5f), Vector3D(1, 0.5f, -3), Vector3D(-1, 0.2f, -2)};

QList<qint64> framesOf(const CameraPath& path)
{
    QList<qint64> frames;
    for (const KeyFrame& k : path.keys)
        frames << k.frame;
    return frames;
}

bool samePath(const CameraPath& a, const CameraPath& b)
{
    if (a.keys.size() != b.keys.size())
        return false;
    for (size_t k = 0; k < a.keys.size(); ++k)
        if (a.keys[k].frame != b.keys[k].frame ||
            std::memcmp(&a.keys[k].camera, &b.keys[k].camera, sizeof(Vector3D)) != 0)
            return false;
    return true;
}

// Clicks a row of the table, as a user selects a key.
void clickRow(QTableView* table, int row)
{
    const QRect cell = table->visualRect(table->model()->index(row, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

QUndoStack* undoStack(MainWindow& w)
{
    return w.findChild<QUndoStack*>();
}

// Runs `fill`, which closes the dialog, on the dialog of type D once it is the active modal window.
template <typename D>
void whenDialogOpens(const std::function<void(D*)>& fill)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, fill] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            fill(d);
        }
    });
    timer->start();
}

} // namespace

// The processes of this test named `name` that still run (an ended one not yet reaped does not).
QList<qint64> runningChildren(const QByteArray& name)
{
    QList<qint64> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file("/proc/" + entry + "/stat");
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = file.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 1).split(' ');
        if (fields.size() > 2 && fields[1] != "Z" && fields[1] != "X" && fields[2].toLongLong() == ::getpid() &&
            stat.contains("(" + name + ")"))
            found << entry.toLongLong();
    }
    return found;
}

class TestAnimationWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("LumivexTests");
    }

    void exportEqualsTheCommand_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("k");
        QTest::addColumn<bool>("blur");
        QTest::newRow("scene's size, one ray, PPM") << "a.ppm" << 0 << 0 << 1 << false;
        QTest::newRow("larger, 3 x 3, PPM") << "b.ppm" << 150 << 110 << 3 << false;
        QTest::newRow("odd sides, 2 x 2, blurred, PNG") << "c.png" << 97 << 61 << 2 << true;
        QTest::newRow("8 x 8, BMP") << "d.bmp" << 33 << 20 << 8 << false;
    }

    void exportEqualsTheCommand()
    {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, k);
        QFETCH(bool, blur);
        QTemporaryDir dir;
        MainWindow w;
        w.applyScene(sized(120, 90));
        QTest::keyClick(&w, Qt::Key_D);
        SETTLE(w);
        ExportSettings offered;
        pictureExport(w)->setAsker([&](ExportSettings& s) {
            offered = s;
            if (width > 0)
                s = {width, height, k, blur};
            return true;
        });
        w.setFileNameAsker([&](bool) { return dir.filePath(name); });
        const QStringList boxes = dismissBoxes([&] {
            findAction(w, "&Export Picture...")->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!pictureExport(w)->isRunning(), kWait);
        });
        QCOMPARE(boxes, QStringList());
        QCOMPARE(status(w), QStringLiteral("Picture exported"));
        // Offered first: the picture as on screen.
        QCOMPARE(offered.width, 120);
        QCOMPARE(offered.height, 90);
        QCOMPARE(offered.supersample, 1);
        QVERIFY(!offered.blur);

        QStringList args = {"--xml", sceneFile(w, dir), "-o", dir.filePath("command-" + name)};
        if (width > 0)
            args << "--size" << QStringLiteral("%1x%2").arg(width).arg(height) << "--supersample" << QString::number(k);
        if (blur)
            args << "--blur";
        QCOMPARE(runRender(args), 0);
        QVERIFY(samePicture(dir.filePath(name), dir.filePath("command-" + name)));
        if (width == 0)
            QCOMPARE(QImage(dir.filePath(name)).convertToFormat(QImage::Format_RGB32),
                     w.picture().convertToFormat(QImage::Format_RGB32));
    }

    void exportDialogOffersSizeSupersamplingAndBlur()
    {
        QTemporaryDir dir;
        MainWindow w;
        QTest::keyClick(&w, Qt::Key_Q); // blurred on screen: offered blurred
        SETTLE(w);
        w.setFileNameAsker([&](bool) { return dir.filePath("dialog.ppm"); });
        QStringList seen;
        whenDialogOpens<ExportDialog>([&](ExportDialog* d) {
            seen << QString::number(d->widthBox()->value()) << QString::number(d->heightBox()->value())
                 << QString::number(d->supersampleBox()->value()) << (d->blurBox()->isChecked() ? "blur" : "sharp");
            d->widthBox()->setValue(70);
            d->heightBox()->setValue(9000); // beyond the largest side: held at it
            d->supersampleBox()->setValue(2);
            d->blurBox()->setChecked(false);
            QCOMPARE(d->heightBox()->value(), kMaxPictureSide);
            d->heightBox()->setValue(40);
            d->accept();
        });
        findAction(w, "&Export Picture...")->trigger();
        QCOMPARE(seen, QStringList({"1024", "768", "1", "blur"}));
        QTRY_VERIFY_WITH_TIMEOUT(!pictureExport(w)->isRunning(), kWait);
        Scene s = w.scene();
        s.Wid = 70;
        s.Hey = 40;
        QImage expected;
        QCOMPARE(makePicture(s, PictureSettings{2, false}, RenderOptions(), expected), PictureResult::Whole);
        QCOMPARE(QImage(dir.filePath("dialog.ppm")).convertToFormat(QImage::Format_RGB32),
                 expected.convertToFormat(QImage::Format_RGB32));
    }

    void exportRunsInTheBackgroundAndStops_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("View > Stop Rendering") << "&Stop Rendering";
        QTest::newRow("Cancel button") << "Cancel";
        QTest::newRow("window closed") << "close";
    }

    void exportRunsInTheBackgroundAndStops()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        pictureExport(w)->setAsker([](ExportSettings& s) {
            s = {4096, 4096, 8, false}; // minutes of work
            return true;
        });
        w.setFileNameAsker([&](bool) { return dir.filePath("big.png"); });
        QElapsedTimer held;
        held.start();
        findAction(w, "&Export Picture...")->trigger();
        QVERIFY(held.elapsed() < 1000); // the window does not wait for it
        QVERIFY(pictureExport(w)->isRunning());
        QVERIFY(!findAction(w, "&Export Picture...")->isEnabled());
        QAction* stop = findAction(w, "&Stop Rendering");
        QVERIFY(stop->isEnabled());
        // Its progress shows once it has run a moment, and the window still answers.
        QDialog* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = w.findChild<QDialog*>()) && box->isVisible(), 10000);
        QVERIFY(!box->isModal());
        QTest::keyClick(&w, Qt::Key_D);
        SETTLE(w);
        if (how == "close") {
            w.close();
            // Closing waits for the work to give up: nothing is written after.
            QVERIFY(LongTask::waitForWorkers(0));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        if (how == "Cancel")
            QTest::mouseClick(box->findChild<QPushButton*>(), Qt::LeftButton);
        else
            stop->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!pictureExport(w)->isRunning(), 10000);
        QCOMPARE(status(w), QStringLiteral("Export cancelled"));
        QVERIFY(!box->isVisible());
        QVERIFY(findAction(w, "&Export Picture...")->isEnabled());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void exportThatCannotBeWrittenSaysWhy()
    {
        QTemporaryDir dir;
        MainWindow w;
        // Said at once, not after the minutes this export would render for.
        pictureExport(w)->setAsker([](ExportSettings& s) {
            s = {8192, 8192, 8, false};
            return true;
        });
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        for (const QString& name : {dir.filePath("no such folder/x.png"), dir.filePath("plain/x.png")}) {
            w.setFileNameAsker([&](bool) { return name; });
            const QStringList boxes = dismissBoxes([&] { findAction(w, "&Export Picture...")->trigger(); });
            QVERIFY(!pictureExport(w)->isRunning());
            QCOMPARE(status(w), QStringLiteral("Error"));
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes[0].contains("cannot open") && boxes[0].contains("x.png"), qPrintable(boxes[0]));
        }
    }

    void addKeyFrameNumbersEvery24Frames()
    {
        MainWindow w;
        QVERIFY(!findAction(w, "&Play Preview")->isEnabled());
        QVERIFY(!findAction(w, "&Save Key Frames...")->isEnabled());
        addKeys(w, kCameras);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({0, 24, 48}));
        for (int k = 0; k < 3; ++k)
            QCOMPARE(animation(w)->keyFrames().keys[size_t(k)].camera, kCameras[k]);
        QVERIFY(w.findChild<QDockWidget*>("keyFramePanel")->isVisibleTo(&w));
        QCOMPARE(w.findChild<KeyFramePanel*>()->model()->rowCount(), 3);
        QVERIFY(findAction(w, "&Play Preview")->isEnabled());
        // Ctrl+K as typed, with the camera where the window has it.
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({0, 24, 48, 72}));
        QCOMPARE(animation(w)->keyFrames().keys.back().camera, w.scene().CamPos);
        QCOMPARE(status(w), QStringLiteral("Key frame 72 added"));
        // Each add is a step of undo.
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({0, 24, 48}));
        // After a key the next would not fit behind: refused, nothing changes.
        CameraPath last;
        last.keys = {{std::numeric_limits<qint64>::max() - 23, Vector3D(1, 2, 3)}};
        QTemporaryDir dir;
        QVERIFY(writeCameraPath(dir.filePath("last.txt"), last, nullptr));
        w.setFileNameAsker([&](bool) { return dir.filePath("last.txt"); });
        findAction(w, "&Open Key Frames...")->trigger();
        QTest::keyClick(&w, Qt::Key_K, Qt::ControlModifier);
        QVERIFY(samePath(animation(w)->keyFrames(), last));
        QVERIFY2(status(w).contains("No key frame can follow frame 9223372036854775784"), qPrintable(status(w)));
    }

    void keyFramesSavedReadBackAndOpen()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("keys.txt");
        MainWindow w;
        // Values whose shortest text has many digits, and a negative zero.
        addKeys(w, {Vector3D(0.1f, -0.0f, 1.0f / 3), Vector3D(1e-7f, 123456.78f, -1.5f), Vector3D(3.4e38f, 1e-45f, 2)});
        // A name without a suffix takes the key frame files' ".txt".
        w.setFileNameAsker([&](bool forSaving) { return forSaving ? dir.filePath("keys") : QString(); });
        findAction(w, "&Save Key Frames...")->trigger();
        QCOMPARE(status(w), QStringLiteral("Key frames saved"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keys.txt"});
        CameraPath read;
        QString why;
        QVERIFY2(readCameraPath(file, read, &why), qPrintable(why));
        QVERIFY(samePath(read, animation(w)->keyFrames()));
        // The command takes the file as it is.
        QCOMPARE(runRender({"--path", file, "--size", "8x6", "--frames", "0:1", "-o", dir.filePath("f-%d.ppm")}), 0);

        MainWindow other;
        addKeys(other, {Vector3D(9, 9, 9)});
        other.setFileNameAsker([&](bool forSaving) { return forSaving ? QString() : file; });
        findAction(other, "&Open Key Frames...")->trigger();
        QCOMPARE(status(other), QStringLiteral("Key frames opened"));
        QVERIFY(samePath(animation(other)->keyFrames(), read));
        const KeyFrameModel* model = other.findChild<KeyFramePanel*>()->model();
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->index(1, KeyFrameModel::FrameColumn).data().toString(), QStringLiteral("24"));
        QCOMPARE(model->index(1, KeyFrameModel::YColumn).data().toString(), QStringLiteral("123456.78"));
        QCOMPARE(model->index(0, KeyFrameModel::YColumn).data().toString(), QStringLiteral("-0"));
        // Opening is a step of undo too.
        undoStack(other)->undo();
        QCOMPARE(framesOf(animation(other)->keyFrames()), QList<qint64>({0}));
    }

    void keyFramesThatCannotBeReadChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        QTest::newRow("descending") << QByteArray("0 0 0 0\n5 1 1 1\n3 2 2 2\n") << ":3: frame 3 comes after frame 5";
        QTest::newRow("no key frames") << QByteArray("# nothing\n") << "no key frames";
        QTest::newRow("not a number") << QByteArray("0 0 nan 0\n") << ":1: 'nan'";
        QTest::newRow("a folder") << QByteArray() << "is not a regular file";
    }

    void keyFramesThatCannotBeReadChangeNothing()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString file = dir.filePath("bad.txt");
        if (text.isEmpty()) {
            QVERIFY(QDir(dir.path()).mkdir("bad.txt"));
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        MainWindow w;
        addKeys(w, kCameras);
        const CameraPath before = animation(w)->keyFrames();
        const int steps = undoStack(w)->count();
        w.setFileNameAsker([&](bool) { return file; });
        const QStringList boxes = dismissBoxes([&] { findAction(w, "&Open Key Frames...")->trigger(); });
        QCOMPARE(status(w), QStringLiteral("Error"));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(reason), qPrintable(boxes[0]));
        QVERIFY(samePath(animation(w)->keyFrames(), before));
        QCOMPARE(undoStack(w)->count(), steps);
    }

    void keyFrameEntries_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("frames"); // empty: refused
        QTest::addColumn<QString>("reason");
        const int F = KeyFrameModel::FrameColumn, X = KeyFrameModel::XColumn;
        QTest::newRow("coordinate") << 1 << X << " 0.25 " << QList<qint64>{0, 24, 48} << "";
        QTest::newRow("frame moved past the others") << 0 << F << "100" << QList<qint64>{24, 48, 100} << "";
        QTest::newRow("frame moved before the first") << 2 << F << "0" << QList<qint64>{} << "frame 0 has a key frame already";
        QTest::newRow("frame moved between") << 2 << F << "10" << QList<qint64>{0, 10, 24} << "";
        QTest::newRow("largest frame") << 1 << F << "9223372036854775807" << QList<qint64>{0, 48, std::numeric_limits<qint64>::max()} << "";
        QTest::newRow("beyond the largest") << 1 << F << "9223372036854775808" << QList<qint64>{} << "beyond the last frame";
        QTest::newRow("negative") << 1 << F << "-1" << QList<qint64>{} << "a whole number from 0 up";
        QTest::newRow("fraction") << 1 << F << "2.5" << QList<qint64>{} << "a whole number from 0 up";
        QTest::newRow("empty") << 1 << F << "" << QList<qint64>{} << "a whole number from 0 up";
        QTest::newRow("not finite") << 1 << X << "inf" << QList<qint64>{} << "not a finite number";
        QTest::newRow("beyond a float") << 1 << X << "1e39" << QList<qint64>{} << "out of range";
        QTest::newRow("text") << 1 << X << "1.5junk" << QList<qint64>{} << "not a number";
    }

    void keyFrameEntries()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(QList<qint64>, frames);
        QFETCH(QString, reason);
        MainWindow w;
        addKeys(w, kCameras);
        const CameraPath before = animation(w)->keyFrames();
        const int steps = undoStack(w)->count();
        KeyFrameModel* model = w.findChild<KeyFramePanel*>()->model();
        const QModelIndex cell = model->index(row, column);
        const bool taken = model->setData(cell, text, Qt::EditRole);
        QCOMPARE(taken, !frames.isEmpty());
        // The window takes the edit once the table has finished with it.
        QCoreApplication::processEvents();
        if (!taken) {
            // Stays in its cell, marked, with the reason there and in the status bar.
            QVERIFY(samePath(animation(w)->keyFrames(), before));
            QCOMPARE(undoStack(w)->count(), steps);
            QVERIFY(model->isRefused(row, column));
            QCOMPARE(cell.data().toString(), text);
            QVERIFY2(cell.data(Qt::ToolTipRole).toString().contains(reason), qPrintable(cell.data(Qt::ToolTipRole).toString()));
            QVERIFY2(status(w).contains(reason), qPrintable(status(w)));
            // Undo in that cell drops the entry, not the step before it.
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QTableView* table = w.findChild<KeyFramePanel*>()->table();
            table->setFocus();
            table->setCurrentIndex(cell);
            QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
            QVERIFY(!model->isRefused(row, column));
            QCOMPARE(undoStack(w)->count(), steps);
            QCOMPARE(undoStack(w)->index(), steps);
            QVERIFY(samePath(animation(w)->keyFrames(), before));
            return;
        }
        QCOMPARE(framesOf(animation(w)->keyFrames()), frames);
        QCOMPARE(undoStack(w)->count(), steps + 1);
        // The key keeps its camera wherever its frame takes it.
        const KeyFrame& edited = *std::find_if(animation(w)->keyFrames().keys.begin(), animation(w)->keyFrames().keys.end(), [&](const KeyFrame& k) {
            return column == KeyFrameModel::FrameColumn ? k.frame == text.toLongLong() : k.frame == before.keys[size_t(row)].frame;
        });
        if (column == KeyFrameModel::XColumn)
            QCOMPARE(edited.camera, Vector3D(0.25f, kCameras[row].Y, kCameras[row].Z));
        else
            QCOMPARE(edited.camera, kCameras[row]);
        QCOMPARE(model->rowCount(), int(frames.size()));
        undoStack(w)->undo();
        QVERIFY(samePath(animation(w)->keyFrames(), before));
    }

    void keyFrameEditsAsTypedAreUndone()
    {
        MainWindow w;
        addKeys(w, kCameras);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const CameraPath before = animation(w)->keyFrames();
        auto* panel = w.findChild<KeyFramePanel*>();
        QTableView* table = panel->table();
        // Typed over the frame of the first key, as a user would.
        table->setFocus();
        table->setCurrentIndex(panel->model()->index(0, KeyFrameModel::FrameColumn));
        QTest::keyClick(table, Qt::Key_F2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_3);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({24, 30, 48}));
        QCOMPARE(undoStack(w)->undoText(), QStringLiteral("Edit Key Frame"));
        // The moved key stays selected in its new row.
        QCOMPARE(panel->selectedRows(), QList<int>{1});
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(samePath(animation(w)->keyFrames(), before));
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({24, 30, 48}));
        // Delete in the table drops the key selected, undoably; a key in the table moves no camera.
        clickRow(table, 2);
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({24, 30}));
        QTest::keyClick(table, Qt::Key_Escape);
        QVERIFY(w.isVisible());
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({24, 30, 48}));
        // Go To puts the key's camera in the window, a step of undo of its own.
        const Vector3D camera = w.scene().CamPos;
        clickRow(table, 2);
        findAction(w, "&Go To")->trigger();
        SETTLE(w);
        QCOMPARE(w.scene().CamPos, kCameras[2]);
        QCOMPARE(w.picture(), render(w.scene()));
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({24, 30, 48}));
        QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.scene().CamPos, camera);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({24, 30, 48}));
        // After Go To the keys move the camera on from the key, not into the table's cells.
        clickRow(table, 2);
        findAction(w, "&Go To")->trigger();
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        QTest::keyClick(focus, Qt::Key_D);
        SETTLE(w);
        QVERIFY(w.scene().CamPos.X > kCameras[2].X);
        QCOMPARE(framesOf(animation(w)->keyFrames()), QList<qint64>({24, 30, 48}));
    }

    void previewStopsOnAnyKeyOrClick_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("D") << "D";
        QTest::newRow("Escape") << "Escape";
        QTest::newRow("Q") << "Q";
        QTest::newRow("click on the picture") << "click";
        QTest::newRow("drag on the picture") << "drag";
        QTest::newRow("wheel") << "wheel";
        QTest::newRow("Ctrl+K") << "Ctrl+K";
    }

    void previewStopsOnAnyKeyOrClick()
    {
        QFETCH(QString, input);
        MainWindow w;
        w.applyScene(sized(160, 120));
        addKeys(w, kCameras);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        SETTLE(w);
        const Scene before = w.scene();
        const QImage picture = w.shownPicture();
        const int steps = undoStack(w)->count();
        QSignalSpy frames(animation(w)->player(), &PreviewPlayer::frameShown);
        findAction(w, "&Play Preview")->trigger();
        QVERIFY(animation(w)->isPreviewing());
        // The path plays on from frame 0 (and loops, so a busy machine may show 0 again).
        const auto pastTheStart = [&frames] {
            for (const QList<QVariant>& shown : frames)
                if (shown[0].toLongLong() > 0)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 2 && pastTheStart(), 10000);
        // Frames of the path stand in for the picture; the window's camera stays.
        auto* view = w.findChild<PictureView*>();
        QCOMPARE(w.shownPicture(), frames.last()[1].value<QImage>());
        QCOMPARE(w.scene().CamPos, before.CamPos);

        const QPoint middle = view->rect().center();
        if (input == "click") {
            QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, middle);
        } else if (input == "drag") {
            QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, middle);
            QTest::mouseMove(view, middle + QPoint(40, 30));
            QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, middle + QPoint(40, 30));
        } else if (input == "wheel") {
            QWheelEvent ev(QPointF(middle), view->mapToGlobal(QPointF(middle)), QPoint(), QPoint(0, 120), Qt::NoButton,
                           Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view, &ev);
        } else if (input == "Ctrl+K") {
            QTest::keyClick(&w, Qt::Key_K, Qt::ControlModifier);
        } else {
            QTest::keyClick(&w, QKeySequence(input)[0].key());
        }
        QVERIFY(!animation(w)->isPreviewing());
        QVERIFY(w.isVisible());
        SETTLE(w);
        QCOMPARE(w.scene().CamPos, before.CamPos);
        QVERIFY(!w.isBlurred());
        QCOMPARE(w.shownPicture(), picture);
        QCOMPARE(status(w), input == "Ctrl+K" ? QStringLiteral("Key frame 72 added") : QStringLiteral("Preview stopped"));
        // A shortcut does its work, on the window's own camera.
        QCOMPARE(undoStack(w)->count(), steps + (input == "Ctrl+K" ? 1 : 0));
        if (input == "Ctrl+K")
            QCOMPARE(animation(w)->keyFrames().keys.back().camera, before.CamPos);
        // Nothing of the preview arrives later.
        const int shown = int(frames.count());
        QTest::qWait(200);
        QCOMPARE(frames.count(), shown);
        QCOMPARE(w.shownPicture(), picture);
    }

    void previewFollowsTheClock_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<qint64>("frame");
        // Key frames at 10, 34 and 58: 49 frames, a second is 24 of them.
        QTest::newRow("start") << qint64(0) << qint64(10);
        QTest::newRow("within the first frame") << qint64(41) << qint64(10);
        QTest::newRow("second frame") << qint64(42) << qint64(11);
        QTest::newRow("one second") << qint64(1000) << qint64(34);
        QTest::newRow("last frame") << qint64(2000) << qint64(58);
        QTest::newRow("from the start again") << qint64(2042) << qint64(10);
        QTest::newRow("a minute") << qint64(60000) << qint64(10 + 1440 % 49);
    }

    void previewFollowsTheClock()
    {
        QFETCH(qint64, ms);
        QFETCH(qint64, frame);
        qint64 now = 5000;
        PreviewPlayer player;
        player.setClock([&now] { return now; });
        CameraPath path;
        for (int k = 0; k < 3; ++k)
            path.keys.push_back({10 + 24 * k, kCameras[k]});
        QSignalSpy shown(&player, &PreviewPlayer::frameShown);
        player.play(sized(64, 48), path, false, 0);
        QTRY_VERIFY(!shown.isEmpty());
        QCOMPARE(shown[0][0].toLongLong(), qint64(10));
        // With no time passing, the first frame comes again larger until it is full size.
        QTRY_COMPARE(player.scale(), 1.0);
        QTest::qWait(50);
        shown.clear();
        now += ms;
        QCOMPARE(player.frameDue(), frame);
        if (frame == 10) {
            // Shown already, and as large as it gets.
            QTest::qWait(100);
            QVERIFY(shown.isEmpty());
        } else {
            // The frame rendered next is the one due now: those between are skipped.
            QTRY_VERIFY(!shown.isEmpty());
            QCOMPARE(shown[0][0].toLongLong(), frame);
            Scene expected = sized(64, 48);
            expected.CamPos = path.cameraAt(frame, false);
            QCOMPARE(shown[0][1].value<QImage>(), render(expected).convertToFormat(QImage::Format_RGB32));
        }
        // A held frame stays whatever the clock does.
        player.seek(40, true);
        now += 500;
        QCOMPARE(player.frameDue(), qint64(40));
        player.seek(40);
        now += 1000;
        // 40 + 24 runs past 58: on from 10 again.
        QCOMPARE(player.frameDue(), qint64(15));
        player.stop();
    }

    void previewSizeFollowsTheRenderTime_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("next");
        const double budget = PreviewPlayer::kBudget / PreviewPlayer::kFps;
        QTest::newRow("on time") << 0.5 << budget << 0.5;
        QTest::newRow("four times too slow: half the pixels a step") << 0.5 << 4 * budget << 0.5 / 1.5;
        QTest::newRow("a little slow: stays") << 0.5 << budget * 1.1 << 0.5;
        QTest::newRow("slow") << 0.5 << budget * 1.44 << 0.5 / 1.2;
        QTest::newRow("a little fast: stays") << 0.5 << budget / 1.1 << 0.5;
        QTest::newRow("fast: grows a step") << 0.5 << budget / 100 << 0.75;
        QTest::newRow("never beyond full size") << 0.9 << budget / 100 << 1.0;
        QTest::newRow("never below 1/64") << 1.0 / 64 << 100.0 << 1.0 / 64;
        QTest::newRow("no time measured") << 0.5 << 0.0 << 0.75;
    }

    void previewSizeFollowsTheRenderTime()
    {
        QFETCH(double, scale);
        QFETCH(double, seconds);
        QFETCH(double, next);
        QVERIFY(qAbs(PreviewPlayer::nextScale(scale, seconds) - next) < 1e-12);
    }

    void renderAnimationEqualsTheCommand_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::addColumn<bool>("smooth");
        QTest::addColumn<int>("k");
        QTest::addColumn<bool>("blur");
        QTest::addColumn<bool>("video");
        QTest::newRow("straight, PPM, part of the path") << "ppm" << qint64(20) << qint64(30) << false << 1 << false << false;
        QTest::newRow("smooth, 2 x 2, blurred, PNG") << "png" << qint64(0) << qint64(48) << true << 2 << true << false;
        QTest::newRow("one frame") << "ppm" << qint64(24) << qint64(24) << true << 3 << false << false;
        QTest::newRow("with a video") << "ppm" << qint64(40) << qint64(48) << true << 1 << false << true;
    }

    void renderAnimationEqualsTheCommand()
    {
        QFETCH(QString, suffix);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        QFETCH(bool, smooth);
        QFETCH(int, k);
        QFETCH(bool, blur);
        QFETCH(bool, video);
        if (video && VideoWriter::ffmpegProgram().isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        MainWindow w;
        w.applyScene(sized(48, 36));
        addKeys(w, kCameras);
        const QString keys = dir.filePath("keys.txt");
        w.setFileNameAsker([&](bool) { return keys; });
        findAction(w, "&Save Key Frames...")->trigger();
        findAction(w, "S&mooth Path")->setChecked(smooth);
        AnimationSettings offered;
        animation(w)->setAsker([&](AnimationSettings& s) {
            offered = s;
            s.pattern = dir.filePath("new/w-%04d." + suffix);
            s.first = first;
            s.last = last;
            s.width = 40;
            s.height = 30;
            s.supersample = k;
            s.blur = blur;
            if (video)
                s.video = dir.filePath("w.mp4");
            return true;
        });
        const QStringList boxes = dismissBoxes([&] {
            findAction(w, "&Render Animation...")->trigger();
            QVERIFY(animation(w)->isRendering());
            QVERIFY(!findAction(w, "&Render Animation...")->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(!animation(w)->isRendering(), kWait);
        });
        QCOMPARE(boxes, QStringList());
        QCOMPARE(status(w), QStringLiteral("Animation rendered: %1 frames").arg(last - first + 1));
        // Offered first: the whole path at the scene's size, smooth as the menu says.
        QCOMPARE(offered.first, qint64(0));
        QCOMPARE(offered.last, qint64(48));
        QCOMPARE(offered.width, 48);
        QCOMPARE(offered.height, 36);
        QCOMPARE(offered.smooth, smooth);
        QVERIFY(offered.video.isEmpty());

        QStringList args = {"--xml", sceneFile(w, dir), "--path", keys, "--frames", QStringLiteral("%1:%2").arg(first).arg(last),
                            "--size", "40x30", "--supersample", QString::number(k), "-o", dir.filePath("c-%04d." + suffix)};
        if (smooth)
            args << "--smooth";
        if (blur)
            args << "--blur";
        if (video)
            args << "--video" << dir.filePath("c.mp4");
        QCOMPARE(runRender(args), 0);
        for (qint64 f = first; f <= last; ++f) {
            const QString n = QStringLiteral("-%1.").arg(f, 4, 10, QChar('0')) + suffix;
            QVERIFY2(samePicture(dir.filePath("new/w" + n), dir.filePath("c" + n)), qPrintable(n));
        }
        // The folder is made, as the command makes it.
        QCOMPARE(QDir(dir.filePath("new")).entryList({"w-*"}).size(), int(last - first + 1));
        if (video) {
            // The same frames through the same encoder.
            QVERIFY(!fileBytes(dir.filePath("w.mp4")).isEmpty());
            QCOMPARE(fileBytes(dir.filePath("w.mp4")), fileBytes(dir.filePath("c.mp4")));
        }
    }

    void renderAnimationStops_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Stop button") << "Stop";
        QTest::newRow("window closed") << "close";
    }

    void renderAnimationStops()
    {
        QFETCH(QString, how);
        const bool video = !VideoWriter::ffmpegProgram().isEmpty();
        QTemporaryDir dir;
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        addKeys(w, kCameras);
        animation(w)->setAsker([&](AnimationSettings& s) {
            s.pattern = dir.filePath("f-%04d.ppm");
            s.width = 320;
            s.height = 240;
            s.supersample = 4;
            if (video)
                s.video = dir.filePath("v.mp4");
            return true;
        });
        findAction(w, "&Render Animation...")->trigger();
        QDialog* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = w.findChild<QDialog*>()) && box->isVisible(), 10000);
        QVERIFY(!box->isModal());
        // Frames done, frames a second and the time left.
        QTRY_VERIFY_WITH_TIMEOUT(box->findChild<QLabel*>()->text().contains(" frames a second, "), kWait);
        QVERIFY2(box->findChild<QLabel*>()->text().contains(QRegularExpression("^Frame \\d+ of 49, [0-9.]+ frames a second, \\d+ s left$")),
                 qPrintable(box->findChild<QLabel*>()->text()));
        if (how == "close") {
            answerBoxes(QMessageBox::Discard, [&] { w.close(); });
        } else {
            QTest::mouseClick(box->findChild<QPushButton*>(), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!animation(w)->isRendering(), kWait);
            QVERIFY2(status(w).contains(QRegularExpression("^Animation stopped: \\d+ frames written, every one whole$")),
                     qPrintable(status(w)));
        }
        QVERIFY(LongTask::waitForWorkers(kWait));
        // Only whole frames, in order from the first, and no video.
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        QVERIFY(files.size() < 49);
        for (int f = 0; f < files.size(); ++f) {
            QCOMPARE(files[f], QStringLiteral("f-%1.ppm").arg(f, 4, 10, QChar('0')));
            QCOMPARE(QImage(dir.filePath(files[f])).size(), QSize(320, 240));
        }
    }

    void renderAnimationFollowsThePathAndMakesFolders()
    {
        QTemporaryDir dir;
        const bool video = !VideoWriter::ffmpegProgram().isEmpty();
        MainWindow w;
        addKeys(w, kCameras.mid(0, 2));
        // Each run: the range offered, then the range taken.
        QList<QPair<qint64, qint64>> offered;
        QPair<qint64, qint64> take;
        animation(w)->setAsker([&](AnimationSettings& s) {
            offered << qMakePair(s.first, s.last);
            s.pattern = dir.filePath("new/frames/f-%04d.ppm");
            if (video)
                s.video = dir.filePath("new/video/v.mp4");
            s.width = 8;
            s.height = 6;
            if (take.second >= 0)
                std::tie(s.first, s.last) = take;
            return true;
        });
        const auto run = [&](QPair<qint64, qint64> range) {
            take = range;
            const QStringList boxes = dismissBoxes([&] {
                findAction(w, "&Render Animation...")->trigger();
                QTRY_VERIFY_WITH_TIMEOUT(!animation(w)->isRendering(), kWait);
            });
            QCOMPARE(boxes, QStringList());
        };
        // The whole path, into folders that do not exist yet.
        run({0, -1});
        QVERIFY2(status(w).startsWith("Animation rendered"), qPrintable(status(w)));
        QVERIFY(QFileInfo::exists(dir.filePath("new/frames/f-0024.ppm")));
        QVERIFY(!video || QFileInfo(dir.filePath("new/video/v.mp4")).size() > 0);
        // The path grows: the whole path again. Part of it asked for: that part is kept.
        addKeys(w, kCameras.mid(2, 1));
        run({6, 12});
        run({0, -1});
        QCOMPARE(offered, (QList<QPair<qint64, qint64>>{{0, 24}, {0, 48}, {6, 12}}));
    }

    void animationSettingsWithProblems_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("problem");
        QTest::newRow("fine") << "f-%04d.png" << qint64(0) << qint64(48) << "" << "";
        QTest::newRow("video only") << "" << qint64(0) << qint64(48) << "v.MKV" << "";
        QTest::newRow("one frame needs no number") << "still.png" << qint64(24) << qint64(24) << "" << "";
        QTest::newRow("nothing to write") << "" << qint64(0) << qint64(48) << "" << "give the picture files, a video or both";
        QTest::newRow("no number in the name") << "f.png" << qint64(0) << qint64(1) << "" << "need %d or %04d";
        QTest::newRow("unknown picture type") << "f-%d.gif" << qint64(0) << qint64(1) << "" << "picture format of f-%d.gif";
        QTest::newRow("frames the wrong way") << "f-%d.png" << qint64(5) << qint64(4) << "" << "first frame comes after the last";
        QTest::newRow("beyond the path") << "f-%d.png" << qint64(0) << qint64(49) << "" << "run from frame 0 to 48";
        QTest::newRow("unknown video type") << "" << qint64(0) << qint64(1) << "v.avi" << "video format of v.avi";
    }

    void animationSettingsWithProblems()
    {
        QFETCH(QString, pattern);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        QFETCH(QString, video);
        QFETCH(QString, problem);
        CameraPath path;
        for (int k = 0; k < 3; ++k)
            path.keys.push_back({24 * k, kCameras[k]});
        AnimationSettings s;
        s.pattern = pattern;
        s.first = first;
        s.last = last;
        s.video = video;
        const QString said = animationProblem(s, path);
        QVERIFY2(problem.isEmpty() ? said.isEmpty() : said.contains(problem), qPrintable(said));
        // The window says it and renders nothing.
        if (problem.isEmpty())
            return;
        MainWindow w;
        addKeys(w, kCameras);
        animation(w)->setAsker([&](AnimationSettings& asked) {
            asked = s;
            return true;
        });
        const QStringList boxes = dismissBoxes([&] { findAction(w, "&Render Animation...")->trigger(); });
        QVERIFY(!animation(w)->isRendering());
        QCOMPARE(status(w), QStringLiteral("Error"));
        QCOMPARE(boxes, QStringList{"Lumivex: " + said});
    }

    void animationDialogChecksItsEntries_data()
    {
        QTest::addColumn<bool>("ffmpeg");
        QTest::newRow("with ffmpeg") << true;
        QTest::newRow("without ffmpeg") << false;
    }

    void animationDialogChecksItsEntries()
    {
        QFETCH(bool, ffmpeg);
        if (ffmpeg && VideoWriter::ffmpegProgram().isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        const QByteArray searchPath = qgetenv("PATH");
        if (!ffmpeg)
            qputenv("PATH", "/nonexistent");
        QTemporaryDir dir;
        MainWindow w;
        w.applyScene(sized(32, 24));
        addKeys(w, kCameras);
        QStringList seen;
        whenDialogOpens<AnimationDialog>([&](AnimationDialog* d) {
            seen << d->firstEdit()->text() << d->lastEdit()->text() << QString::number(d->widthBox()->value())
                 << (d->videoBox() ? "video" : "no video");
            d->firstEdit()->setText("ten");
            seen << (d->renderButton()->isEnabled() ? "enabled" : "disabled") << d->problem();
            d->firstEdit()->setText("10");
            d->lastEdit()->setText("12");
            d->patternEdit()->setText(dir.filePath("d.ppm"));
            seen << d->problem();
            d->patternEdit()->setText(framePattern(dir.filePath("d.ppm")));
            seen << (d->renderButton()->isEnabled() ? "enabled" : "disabled");
            d->renderButton()->click();
        });
        findAction(w, "&Render Animation...")->trigger();
        qputenv("PATH", searchPath);
        QCOMPARE(seen, QStringList({"0", "48", "32", ffmpeg ? "video" : "no video", "disabled",
                                    "the first frame: 'ten' is not a whole number from 0 up",
                                    "the picture files need %d or %04d in their name for the frame number", "enabled"}));
        QTRY_VERIFY_WITH_TIMEOUT(!animation(w)->isRendering(), kWait);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"d-0010.ppm", "d-0011.ppm", "d-0012.ppm"}));
    }

    void framePatternsFromChosenNames_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("seventh");
        QTest::newRow("a picture") << "/d/shot.png" << "/d/shot-%04d.png" << "/d/shot-0007.png";
        QTest::newRow("a number already") << "/d/f-%03d.jpg" << "/d/f-%03d.jpg" << "/d/f-007.jpg";
        QTest::newRow("no suffix") << "/d/shot" << "/d/shot-%04d.png" << "/d/shot-0007.png";
        QTest::newRow("a percent sign") << "/d/100%.bmp" << "/d/100%%-%04d.bmp" << "/d/100%-0007.bmp";
    }

    void framePatternsFromChosenNames()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, pattern);
        QFETCH(QString, seventh);
        QCOMPARE(framePattern(chosen), pattern);
        QCOMPARE(frameFileName(pattern, 7), seventh);
    }

    // Closing the window stops its Render Animation as Stop does: ffmpeg ends, and neither the
    // video nor its hidden temporary file is left.
    void closingTheWindowStopsTheVideo()
    {
        if (VideoWriter::ffmpegProgram().isEmpty())
            QSKIP("ffmpeg is missing: install the ffmpeg package");
        QTemporaryDir dir;
        {
            MainWindow w;
            findAction(w, "&Add Key Frame")->trigger();
            findAction(w, "&Add Key Frame")->trigger();
            animation(w)->setAsker([&](AnimationSettings& s) {
                s.pattern = dir.filePath("f-%04d.ppm");
                s.width = 320;
                s.height = 240;
                s.supersample = 4;
                s.video = dir.filePath("v.mp4");
                return true;
            });
            findAction(w, "&Render Animation...")->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("f-0001.ppm")), 60000);
            QCOMPARE(runningChildren("ffmpeg").size(), 1);
            QVERIFY(animation(w)->isRendering());
            answerBoxes(QMessageBox::Discard, [&] { w.close(); });
            QVERIFY(LongTask::waitForWorkers(0));
        }
        QTRY_COMPARE_WITH_TIMEOUT(runningChildren("ffmpeg"), QList<qint64>(), 5000);
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        QVERIFY(!files.isEmpty() && files.size() < 25);
        for (const QString& f : files)
            QVERIFY2(f.startsWith("f-") && f.endsWith(".ppm"), qPrintable(f));
    }
};

QTEST_MAIN(TestAnimationWindow)
#include "test_animationwindow.moc"
