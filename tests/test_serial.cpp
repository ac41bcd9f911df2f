#include <QBuffer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "pipeguard.h"
#include "serial/binserial.h"
#include "serial/scenefile.h"
#include "serial/xmlserial.h"

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

std::unique_ptr<Serializer> writerFor(bool xml)
{
    if (xml)
        return std::make_unique<XMLS>();
    return std::make_unique<BinS>();
}

std::unique_ptr<Serializer> readerFor(bool xml)
{
    if (xml)
        return std::make_unique<XMLL>();
    return std::make_unique<BinL>();
}

QByteArray saved(bool xml, const Scene& scene, const QTemporaryDir& dir)
{
    const QString path = dir.filePath(xml ? "scene.xml" : "scene.bin");
    auto w = writerFor(xml);
    if (!saveScene(*w, path, scene))
        return QByteArray();
    return readAll(path);
}

// Loads `bytes` over the built-in scene; returns whether the load was applied.
bool loadBytes(bool xml, const QByteArray& bytes, Scene& scene, const QTemporaryDir& dir)
{
    const QString path = dir.filePath("in.txt");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(bytes);
    f.close();
    auto r = readerFor(xml);
    return loadScene(*r, path, scene);
}

// `bytes` with the first `from` replaced by `to`.
QByteArray replacedOnce(QByteArray bytes, const QByteArray& from, const QByteArray& to)
{
    const qsizetype at = bytes.indexOf(from);
    return at < 0 ? QByteArray() : bytes.replace(at, from.size(), to);
}

// A scene whose every walked field differs from the built-in one.
Scene altered()
{
    Scene s = Scene::builtIn();
    s.Wid = 640;
    s.Hey = 480;
    s.CamPos = Vector3D(0.25f, -1.125f, -7.5f);
    s.Sphere1.Position = Vector3D(1, 2, 3);
    s.Sphere1.Radius = 0.75f;
    s.Sphere2.Material.Colour = Vector3D(0.125f, 0.5f, 0.875f);
    s.Thor1.Radius = 1.5f;
    s.Thor1.Width = 0.3125f;
    s.Thor2.Material.Specular = Vector3D(0.5f, 0.25f, 0);
    s.Thor3.PosCen = Vector3D(-4, 2, 6);
    s.Thor3.Material.Reflectivity = Vector3D(0.5f, 0.5f, 0.5f);
    s.Light1.QuadricAttenuation = 0.03125f;
    s.Light2.Colour = Vector3D(1, 0.5f, 0.25f);
    s.Light2.ConstAttenuation = 1.0f;
    return s;
}

bool sameWalkedFields(const Scene& a, const Scene& b)
{
    const auto sameThor = [](const Thor& x, const Thor& y) {
        return x.PosCen == y.PosCen && x.Radius == y.Radius && x.Width == y.Width && x.Material == y.Material;
    };
    const auto sameLight = [](const Light& x, const Light& y) {
        return x.Position == y.Position && x.Colour == y.Colour && x.ConstAttenuation == y.ConstAttenuation &&
               x.LinearAttenuation == y.LinearAttenuation && x.QuadricAttenuation == y.QuadricAttenuation;
    };
    const auto sameSphere = [](const Sphere& x, const Sphere& y) {
        return x.Position == y.Position && x.Radius == y.Radius && x.Material == y.Material;
    };
    return a.Wid == b.Wid && a.Hey == b.Hey && a.CamPos == b.CamPos && sameSphere(a.Sphere1, b.Sphere1) &&
           sameSphere(a.Sphere2, b.Sphere2) && sameThor(a.Thor1, b.Thor1) && sameThor(a.Thor2, b.Thor2) &&
           sameThor(a.Thor3, b.Thor3) && sameLight(a.Light1, b.Light1) && sameLight(a.Light2, b.Light2);
}

} // namespace

class TestSerial : public QObject {
    Q_OBJECT

private slots:
    void readersRefuseWhatIsNoSceneFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("said");
        QTest::newRow("a folder") << "folder" << "is not a regular file";
        QTest::newRow("a pipe with no writer") << "fifo" << "is not a regular file";
        QTest::newRow("a device that never ends") << "zero" << "is not a regular file";
        QTest::newRow("5 MB of zeros") << "huge" << "is too large for a scene file";
        QTest::newRow("a pseudo-file of gigabytes claiming 0 bytes") << "/proc/self/pagemap" << "is too large for a scene file";
    }

    void readersRefuseWhatIsNoSceneFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, said);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        {
            QFile huge(dir.filePath("huge"));
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(5 * 1024 * 1024));
        }
        if (name == "zero" && ::mknod(QFile::encodeName(dir.filePath(name)).constData(), S_IFCHR | 0600, makedev(1, 5)) != 0)
            QSKIP("making a device node needs root");
        if (name.startsWith('/') && !QFileInfo::exists(name))
            QSKIP("no such pseudo-file here");
        const QString path = name.startsWith('/') ? name : dir.filePath(name);
        for (int reader = 0; reader < 3; ++reader) {
            Scene s = altered();
            QString why;
            XMLL xml;
            BinL bin;
            const bool loaded = whileNotBlockedOn(fifo, [&] {
                return reader == 2 ? loadSceneFile(path, s, nullptr, &why)
                                   : loadScene(reader == 0 ? static_cast<Serializer&>(xml) : bin, path, s, &why);
            });
            QVERIFY(!loaded);
            QVERIFY2(why.contains(said), qPrintable(why));
            QVERIFY(sameWalkedFields(s, altered()));
        }
    }

    void writersWriteIntoDevicesWithoutReplacingThem()
    {
        // Replacing a device with a regular file would break it: a null device of our own.
        QTemporaryDir dir;
        const QString null = dir.filePath("null");
        if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("making a device node needs root");
        for (bool xml : {true, false}) {
            std::unique_ptr<Serializer> writer(xml ? static_cast<Serializer*>(new XMLS) : new BinS);
            QVERIFY(saveScene(*writer, null, Scene::builtIn()));
            struct stat st;
            QVERIFY(::stat(QFile::encodeName(null).constData(), &st) == 0 && S_ISCHR(st.st_mode));
        }
    }

    void builtInXmlBytes()
    {
        QTemporaryDir dir;
        const QByteArray bytes = saved(true, Scene::builtIn(), dir);
        QCOMPARE(bytes.size(), 3265);
        QCOMPARE(bytes, readAll(QStringLiteral(LUMIVEX_TEST_DATA "/builtin.xml")));
    }

    void builtInLineFormatBytes()
    {
        QTemporaryDir dir;
        const QByteArray bytes = saved(false, Scene::builtIn(), dir);
        QCOMPARE(bytes.size(), 2055);
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 159); // 158 lines, each ended by a line feed
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines.mid(0, 14), QList<QByteArray>({"<Screen>", "char* Scre", "int 1024", "int 768", "</Screen>",
                                                      "<Camera>", "char* Came", "char* Posi", "float 0.000000",
                                                      "float 0.000000", "float -1.500000", "</Camera>", "<Sphere>",
                                                      "char* Sphe"}));
        QCOMPARE(lines.mid(19, 4), QList<QByteArray>({"<Material>", "char* Mate", "char* Colo", "float 0.900000"}));
        QCOMPARE(lines.mid(144, 14),
                 QList<QByteArray>({"<Light>", "char* Ligh", "char* Posi", "float -4.000000", "float 0.000000",
                                    "float 2.000000", "char* Colo", "float 0.900000", "float 0.400000",
                                    "float 0.100000", "float 0.000000", "float 0.100000", "float 0.050000",
                                    "</Light>"}));
    }

    void roundTrips_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::newRow("xml") << true;
        QTest::newRow("line format") << false;
    }

    void roundTrips()
    {
        QFETCH(bool, xml);
        QTemporaryDir dir;
        const Scene source = altered();
        const QByteArray bytes = saved(xml, source, dir);
        Scene loaded = Scene::builtIn();
        QVERIFY(loadBytes(xml, bytes, loaded, dir));
        QVERIFY(sameWalkedFields(loaded, source));
        // The templates are not in the file and stay as they were.
        QCOMPARE(loaded.Material1, Scene::builtIn().Material1);
        QCOMPARE(loaded.Material3, Scene::builtIn().Material3);
        // Six decimals are all that is kept.
        Scene fine = Scene::builtIn();
        fine.Sphere1.Radius = 0.0000004f;
        fine.Sphere2.Radius = 1234.56789f;
        QVERIFY(loadBytes(xml, saved(xml, fine, dir), loaded, dir));
        QCOMPARE(loaded.Sphere1.Radius, 0.0f);
        QCOMPARE(loaded.Sphere2.Radius, 1234.567871f);
    }

    void xmlReaderIsPositional()
    {
        QTemporaryDir dir;
        const QByteArray good = readAll(QStringLiteral(LUMIVEX_TEST_DATA "/builtin.xml"));
        Scene s = Scene::builtIn();
        s.Wid = 1;
        // Names and captions are not checked.
        QByteArray renamed = good;
        renamed.replace("\"Width\"", "\"Breadth\"").replace("> Sphere1 <", "> Ball <").replace("<Thor>", "<Ring>");
        QVERIFY(loadBytes(true, renamed, s, dir));
        QCOMPARE(s.Wid, 1024);
        // Swapped lines load into each other's fields.
        QByteArray swapped = good;
        swapped.replace("<Int Name = \"Width\"> 1024 </Int>\n<Int Name = \"Height\"> 768 </Int>",
                        "<Int Name = \"Height\"> 768 </Int>\n<Int Name = \"Width\"> 1024 </Int>");
        s = Scene::builtIn();
        QVERIFY(loadBytes(true, swapped, s, dir));
        QCOMPARE(s.Wid, 768);
        QCOMPARE(s.Hey, 1024);
        // A value glued to '>' loses its first character.
        QByteArray glued = good;
        glued.replace("\"Width\"> 1024", "\"Width\">1024");
        QVERIFY(loadBytes(true, glued, s, dir));
        QCOMPARE(s.Wid, 24);
        // CR LF line ends read the same values.
        QByteArray crlf = good;
        crlf.replace("\n", "\r\n");
        s = altered();
        QVERIFY(loadBytes(true, crlf, s, dir));
        QVERIFY(sameWalkedFields(s, Scene::builtIn()));
    }

    void lineReaderIsPositional()
    {
        QTemporaryDir dir;
        const QByteArray good = saved(false, Scene::builtIn(), dir);
        Scene s = altered();
        // The type word is skipped unread.
        QByteArray retyped = good;
        retyped.replace("int 1024\n", "float 1024\n").replace("int 768\n", "int 600\n");
        QVERIFY(loadBytes(false, retyped, s, dir));
        QCOMPARE(s.Wid, 1024);
        QCOMPARE(s.Hey, 600);
    }

    void hostileValuesFailTheLoadInOneLine_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("said");
        const QByteArray nul("1\0.5", 4), megabyte(1 << 20, '7');
        const auto both = [&](const char* row, const QByteArray& xmlFrom, const QByteArray& binFrom,
                              const QByteArray& value, const QString& said) {
            QTest::newRow(qPrintable(QString("xml: %1").arg(row))) << true << xmlFrom << xmlFrom.left(xmlFrom.indexOf("> ") + 2) + value << said;
            QTest::newRow(qPrintable(QString("line format: %1").arg(row))) << false << binFrom << binFrom.left(binFrom.indexOf(' ') + 1) + value + '\n' << said;
        };
        const QByteArray xmlRadius = "\"Radius\"> 1.000000", binRadius = "float 1.000000\n";
        both("junk behind a number", xmlRadius, binRadius, "1.5junk", "Sphere1 Radius: '1.5junk' is not a number");
        both("a decimal comma", xmlRadius, binRadius, "1,5", "Sphere1 Radius: '1,5' is not a number");
        both("no value", xmlRadius, binRadius, "", "Sphere1 Radius is empty");
        both("a NUL inside a number", xmlRadius, binRadius, nul, "Sphere1 Radius: '1\\x00.5' is not a number");
        both("not a number", xmlRadius, binRadius, "nan", "Sphere1 Radius: 'nan' is not a finite number");
        both("infinite", xmlRadius, binRadius, "-inf", "Sphere1 Radius: '-inf' is not a finite number");
        both("beyond a float", xmlRadius, binRadius, "1e39", "Sphere1 Radius: '1e39' is out of range");
        both("a terminal escape", xmlRadius, binRadius, "\x1b[2J",
             "Sphere1 Radius: '\\x1b[2J' is not a number");
        both("a megabyte long", xmlRadius, binRadius, megabyte,
             "Sphere1 Radius: '" + QString(60, '7') + "...' is out of range");
        both("a picture side with a unit", "\"Height\"> 768", "int 768\n", "768 px",
             "sets Screen Height to '768 px'; each side must be a whole number from 1 to 8192");
        // Fields inside nested blocks and vectors are named as such.
        QTest::newRow("xml: a decimal comma in a vector")
            << true << QByteArray("\"Position\"> 0.000000 0.000000 -1.500000") << QByteArray("\"Position\"> 1,5 1,5 1,5")
            << "Camera Position X: '1,5' is not a number";
        QTest::newRow("xml: two numbers for three")
            << true << QByteArray("\"Position\"> 0.000000 0.000000 3.000000") << QByteArray("\"Position\"> 0 3")
            << "Sphere2 Position: '0 3' is not three numbers";
        QTest::newRow("xml: four numbers for three")
            << true << QByteArray("\"Position\"> 0.000000 0.000000 3.000000") << QByteArray("\"Position\"> 0 0 3 1")
            << "Sphere2 Position: '0 0 3 1' is not three numbers";
        QTest::newRow("xml: inside a material")
            << true << QByteArray("\"Specular\"> 0.000000 0.900000 0.000000") << QByteArray("\"Specular\"> 0 0.9 0x")
            << "Thor1 Material Specular Z: '0x' is not a number";
        QTest::newRow("line format: inside a light")
            << false << QByteArray("float 0.900000\nfloat 0.400000\nfloat 0.100000\n")
            << QByteArray("float 0.900000\nfloat 0.4;\nfloat 0.100000\n") << "Light2 Color Y: '0.4;' is not a number";
    }

    void hostileValuesFailTheLoadInOneLine()
    {
        QFETCH(bool, xml);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QByteArray bytes = replacedOnce(saved(xml, Scene::builtIn(), dir), from, to);
        QVERIFY(!bytes.isEmpty());
        const QString path = dir.filePath("in.txt");
        writeAll(path, bytes);
        Scene s = altered();
        QString why;
        auto reader = readerFor(xml);
        QVERIFY(!loadScene(*reader, path, s, &why));
        QVERIFY(sameWalkedFields(s, altered()));
        QVERIFY2(why.startsWith(path) && why.contains(said), qPrintable(why));
        // One short line a terminal shows as it is.
        QVERIFY2(why.size() < 200, qPrintable(why));
        for (const QChar c : why)
            QVERIFY(c.isPrint());
    }

    void readingStopsAtTheFirstFault_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::newRow("xml cut short") << true << QByteArray("</Scene>") << QByteArray();
        QTest::newRow("xml, a bad first value") << true << QByteArray("\"Width\"> 1024") << QByteArray("\"Width\"> x");
        QTest::newRow("line format, a bad first value") << false << QByteArray("int 1024\n") << QByteArray("int x\n");
    }

    void readingStopsAtTheFirstFault()
    {
        // A file known to be damaged is read no further, however much follows.
        QFETCH(bool, xml);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QTemporaryDir dir;
        QByteArray bytes = replacedOnce(saved(xml, Scene::builtIn(), dir), from, to);
        QVERIFY(!bytes.isEmpty() || to.isEmpty());
        if (to.isEmpty())
            bytes = saved(xml, Scene::builtIn(), dir).replace(from, to);
        const qsizetype whole = bytes.size();
        bytes.append(xml ? QByteArray(2 << 20, '"') : QByteArray(2 << 20, '\n'));
        QBuffer device(&bytes);
        QVERIFY(device.open(QIODevice::ReadOnly));
        Scene s = Scene::builtIn();
        auto reader = readerFor(xml);
        QVERIFY(!loadScene(*reader, device, s));
        QVERIFY2(device.pos() < 100 && device.pos() < whole, qPrintable(QString::number(device.pos())));
    }

    void wellFormedValuesLoadAsTheyAlwaysDid_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<float>("radius");
        for (bool xml : {true, false}) {
            const QString f = xml ? "xml" : "line format";
            // Longer than any buffer: read whole, and the values behind it stay in place.
            QTest::newRow(qPrintable(f + ": 300 leading zeros")) << xml << QByteArray(300, '0') + "1.5" << 1.5f;
            QTest::newRow(qPrintable(f + ": 300 blanks behind")) << xml << "2.5" + QByteArray(300, ' ') << 2.5f;
            QTest::newRow(qPrintable(f + ": too small for a float")) << xml << QByteArray("1e-50") << 0.0f;
            QTest::newRow(qPrintable(f + ": sign and exponent")) << xml << QByteArray("+25e-1") << 2.5f;
            QTest::newRow(qPrintable(f + ": hexadecimal")) << xml << QByteArray("0x1.8p1") << 3.0f;
            QTest::newRow(qPrintable(f + ": tab and CR around")) << xml << QByteArray("\t0.75\r") << 0.75f;
        }
    }

    void wellFormedValuesLoadAsTheyAlwaysDid()
    {
        QFETCH(bool, xml);
        QFETCH(QByteArray, value);
        QFETCH(float, radius);
        QTemporaryDir dir;
        const Scene odd = altered();
        const QByteArray from = xml ? "\"Radius\"> 0.750000" : "float 0.750000\n";
        const QByteArray to = xml ? "\"Radius\"> " + value : "float " + value + "\n";
        const QByteArray bytes = replacedOnce(saved(xml, odd, dir), from, to);
        QVERIFY(!bytes.isEmpty());
        Scene s = Scene::builtIn();
        QVERIFY(loadBytes(xml, bytes, s, dir));
        QVERIFY2(s.Sphere1.Radius == radius, qPrintable(QString::number(double(s.Sphere1.Radius), 'g', 9)));
        s.Sphere1.Radius = odd.Sphere1.Radius;
        QVERIFY(sameWalkedFields(s, odd));
    }

    void otherFilesAreNotSceneFiles_data()
    {
        QTest::addColumn<int>("reader"); // 0 XML, 1 line format, 2 either, by content
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("said");
        static const char pngStart[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0";
        const QByteArray png(pngStart, sizeof pngStart - 1);
        QTemporaryDir dir;
        const QByteArray xml = saved(true, Scene::builtIn(), dir), bin = saved(false, Scene::builtIn(), dir);
        QTest::newRow("a picture as xml") << 0 << png << "is not an XML scene file";
        QTest::newRow("a picture as line format") << 1 << png << "is not a line-format scene file";
        QTest::newRow("a picture opened") << 2 << png << "is not a scene file";
        QTest::newRow("text opened") << 2 << QByteArray("hello\n") << "is not a scene file";
        QTest::newRow("line format as xml") << 0 << bin << "is not an XML scene file";
        QTest::newRow("xml as line format") << 1 << xml << "is not a line-format scene file";
        QTest::newRow("empty") << 2 << QByteArray() << "is empty";
        // Damaged scene files say what is wrong with them.
        QTest::newRow("xml cut short, opened") << 2 << xml.left(1000) << "ends before the scene is complete";
        QTest::newRow("line format cut short") << 1 << bin.left(1000) << "ends before the scene is complete";
    }

    void otherFilesAreNotSceneFiles()
    {
        QFETCH(int, reader);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = dir.filePath("some.file");
        writeAll(path, bytes);
        Scene s = altered();
        QString why;
        XMLL xml;
        BinL bin;
        QVERIFY(!(reader == 2 ? loadSceneFile(path, s, nullptr, &why)
                              : loadScene(reader == 0 ? static_cast<Serializer&>(xml) : bin, path, s, &why)));
        QCOMPARE(why, path + " " + said);
        QVERIFY(sameWalkedFields(s, altered()));
    }

    void picturesSidesInAnyOtherFormAreRefused_data()
    {
        QTest::addColumn<QByteArray>("side");
        for (const char* side : {"2147483648", "1e3", "0x10", "600.75", "abc", "-5", "0", "8193"})
            QTest::newRow(side) << QByteArray(side);
    }

    void picturesSidesInAnyOtherFormAreRefused()
    {
        QFETCH(QByteArray, side);
        QTemporaryDir dir;
        for (bool xml : {true, false}) {
            QByteArray bytes = saved(xml, Scene::builtIn(), dir);
            bytes.replace(xml ? QByteArray("> 768 <") : QByteArray("int 768\n"),
                          xml ? "> " + side + " <" : "int " + side + "\n");
            Scene s = altered();
            QVERIFY(!loadBytes(xml, bytes, s, dir));
            QVERIFY(sameWalkedFields(s, altered()));
        }
    }

    void lineFormatEditedElsewhereReadsTheSame_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::newRow("CR LF line ends") << QByteArray("\n") << QByteArray("\r\n");
        QTest::newRow("blanks after tags") << QByteArray(">\n") << QByteArray(">  \t\n");
        QTest::newRow("byte order mark") << QByteArray() << QByteArray("\xEF\xBB\xBF");
    }

    void lineFormatEditedElsewhereReadsTheSame()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QTemporaryDir dir;
        Scene odd = altered();
        QByteArray bytes = saved(false, odd, dir);
        if (from.isEmpty())
            bytes.prepend(to);
        else
            bytes.replace(from, to);
        Scene s = Scene::builtIn();
        QVERIFY(loadBytes(false, bytes, s, dir));
        QVERIFY(sameWalkedFields(s, odd));
    }

    void readingFromMemoryEqualsReadingTheFile()
    {
        QTemporaryDir dir;
        for (bool xml : {true, false}) {
            QByteArray bytes = saved(xml, altered(), dir);
            for (const QByteArray& variant : {bytes, bytes.left(bytes.size() - 30), QByteArray("junk")}) {
                Scene fromFile = Scene::builtIn(), fromMemory = Scene::builtIn();
                const bool fileOk = loadBytes(xml, variant, fromFile, dir);
                QBuffer device;
                device.setData(variant);
                QVERIFY(device.open(QIODevice::ReadOnly));
                std::unique_ptr<Serializer> reader(xml ? static_cast<Serializer*>(new XMLL) : new BinL);
                QCOMPARE(loadScene(*reader, device, fromMemory), fileOk);
                QVERIFY(sameWalkedFields(fromMemory, fromFile));
                QVERIFY(reader->File == nullptr && device.isOpen()); // the device stays the caller's
            }
        }
    }

    void incompleteFilesChangeNothing_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::addColumn<QByteArray>("bytes");
        QTemporaryDir dir;
        const QByteArray xml = readAll(QStringLiteral(LUMIVEX_TEST_DATA "/builtin.xml"));
        const QByteArray bin = saved(false, Scene::builtIn(), dir);
        QTest::newRow("empty xml") << true << QByteArray();
        QTest::newRow("empty line format") << false << QByteArray();
        QTest::newRow("xml cut before the last value") << true << xml.left(xml.indexOf("QuadricAttenuation\"> 0.050000 </Float>\n</Light>\n</Scene>"));
        QTest::newRow("line format cut in the middle") << false << bin.left(bin.size() / 2);
        QTest::newRow("line format through the xml reader") << true << bin;
        QTest::newRow("xml through the line reader") << false << xml;
        QByteArray zero = xml;
        zero.replace("\"Width\"> 1024", "\"Width\"> 0");
        QTest::newRow("width 0") << true << zero;
        QByteArray huge = xml;
        huge.replace("\"Height\"> 768", "\"Height\"> 8193");
        QTest::newRow("height 8193") << true << huge;
        QByteArray negative = xml;
        negative.replace("\"Height\"> 768", "\"Height\"> -5");
        QTest::newRow("negative height") << true << negative;
        // Cut at the very end, or holding nothing a scene is made of.
        for (bool asXml : {true, false}) {
            const QByteArray whole = saved(asXml, Scene::builtIn(), dir);
            const QByteArray last = asXml ? "0.050000 </Float>" : "float 0.050000";
            const qsizetype value = whole.lastIndexOf(last) + last.indexOf("0.05") + 4; // inside "0.05|0000"
            const char* f = asXml ? "xml" : "line format";
            QTest::newRow(qPrintable(QString("%1 cut inside its last value").arg(f))) << asXml << whole.left(value);
            QTest::newRow(qPrintable(QString("%1 cut before its last closing tag").arg(f)))
                << asXml << whole.left(whole.lastIndexOf("</"));
            QTest::newRow(qPrintable(QString("%1 cut inside its last closing tag").arg(f)))
                << asXml << whole.left(whole.lastIndexOf("</") + 3);
        }
        QTest::newRow("NUL bytes as a line file") << false << QByteArray(3000, '\0');
        QByteArray noise;
        QRandomGenerator gen(14);
        for (int k = 0; k < 3000; ++k)
            noise.append(char(gen.bounded(256)));
        QTest::newRow("random bytes as a line file") << false << noise;
        QTest::newRow("random bytes as xml") << true << noise;
    }

    void incompleteFilesChangeNothing()
    {
        QFETCH(bool, xml);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        Scene s = altered();
        QVERIFY(!loadBytes(xml, bytes, s, dir));
        QVERIFY(sameWalkedFields(s, altered()));
    }

    void largestPictureLoads()
    {
        QTemporaryDir dir;
        QByteArray xml = readAll(QStringLiteral(LUMIVEX_TEST_DATA "/builtin.xml"));
        xml.replace("\"Width\"> 1024", "\"Width\"> 8192").replace("\"Height\"> 768", "\"Height\"> 1");
        Scene s = Scene::builtIn();
        QVERIFY(loadBytes(true, xml, s, dir));
        QCOMPARE(s.Wid, 8192);
        QCOMPARE(s.Hey, 1);
    }

    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::newRow("xml") << true;
        QTest::newRow("line format") << false;
    }

    void failedSaveKeepsTheOldFile()
    {
        QFETCH(bool, xml);
        QTemporaryDir dir;
        // A file in a folder that does not exist cannot be opened.
        auto w = writerFor(xml);
        QString why;
        QVERIFY(!saveScene(*w, dir.filePath("missing/scene.txt"), Scene::builtIn(), &why));
        QVERIFY(why.contains("cannot open"));
        QVERIFY(w->File == nullptr);
        // A write that fails part way (here: beyond a file-size limit of 200 bytes) is reported
        // and leaves the old file as it was.
        const QString kept = dir.filePath("kept.txt");
        writeAll(kept, "old contents");
        {
            struct rlimit old;
            getrlimit(RLIMIT_FSIZE, &old);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = old;
            small.rlim_cur = 200;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            auto limited = writerFor(xml);
            const bool ok = saveScene(*limited, kept, Scene::builtIn(), &why);
            setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, oldHandler);
            QVERIFY(!ok);
            QVERIFY(why.contains("cannot write"));
        }
        QCOMPARE(readAll(kept), QByteArray("old contents"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no leftovers
        // Replacing a longer file leaves nothing of it behind.
        const QString path = dir.filePath("old.txt");
        writeAll(path, QByteArray(10000, 'x'));
        auto again = writerFor(xml);
        QVERIFY(saveScene(*again, path, Scene::builtIn()));
        QCOMPARE(readAll(path).size(), xml ? 3265 : 2055);
    }

    void unopenableLoadReleasesTheFile()
    {
        XMLL r;
        QVERIFY(!r.Start("/nonexistent/scene.xml"));
        QVERIFY(r.File == nullptr);
        Scene s = altered();
        QString why;
        BinL b;
        QVERIFY(!loadScene(b, "/nonexistent/scene.bin", s, &why));
        QVERIFY(why.contains("cannot open"));
        QVERIFY(sameWalkedFields(s, altered()));
    }

    void booleans()
    {
        QTemporaryDir dir;
        for (bool xml : {true, false}) {
            const QString path = dir.filePath("b.txt");
            bool t = true, f = false;
            {
                auto w = writerFor(xml);
                QVERIFY(w->Start(path));
                w->SerBool(t, "Flag");
                w->SerBool(f, "Flag");
                QVERIFY(w->End());
            }
            auto r = readerFor(xml);
            QVERIFY(r->Start(path));
            bool a = false, b = true;
            r->SerBool(a, "Flag");
            r->SerBool(b, "Flag");
            r->End();
            QVERIFY(a);
            QVERIFY(!b);
        }
    }
};

QTEST_APPLESS_MAIN(TestSerial)
#include "test_serial.moc"
