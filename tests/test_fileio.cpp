#include <QTemporaryDir>
#include <QtTest>
#include <cfloat>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "fileio/fileaccess.h"
#include "fileio/textio.h"
#include "pipeguard.h"

Q_DECLARE_METATYPE(FileRead)
Q_DECLARE_METATYPE(NumberText)

class TestFileIo : public QObject {
    Q_OBJECT

private slots:
    void onlyRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<FileRead>("result");
        QTest::addColumn<QString>("said");
        QTest::newRow("exactly the limit") << "ten" << qint64(10) << FileRead::Read << "";
        QTest::newRow("one byte over the limit") << "ten" << qint64(9) << FileRead::TooLarge
                                                 << "is too large for a test file (more than 9 bytes)";
        QTest::newRow("empty") << "empty" << qint64(10) << FileRead::Read << "";
        QTest::newRow("missing") << "none" << qint64(10) << FileRead::Missing << "cannot open";
        QTest::newRow("a folder") << "folder" << qint64(10) << FileRead::NotRegular << "is not a regular file";
        QTest::newRow("a pipe with no writer") << "fifo" << qint64(10) << FileRead::NotRegular << "is not a regular file";
        QTest::newRow("a link to a pipe") << "link" << qint64(10) << FileRead::NotRegular << "is not a regular file";
        QTest::newRow("a device that never ends") << "zero" << qint64(10) << FileRead::NotRegular << "is not a regular file";
        // A regular file by its kind whose size reads as 0, and which holds gigabytes.
        QTest::newRow("a pseudo-file claiming 0 bytes") << "/proc/self/pagemap" << qint64(1 << 20) << FileRead::TooLarge
                                                        << "is too large";
    }

    void onlyRegularFilesAreRead()
    {
        QFETCH(QString, name);
        QFETCH(qint64, limit);
        QFETCH(FileRead, result);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QByteArray ten = "0123456789";
        {
            QFile f(dir.filePath("ten"));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(ten) == 10);
            QFile e(dir.filePath("empty"));
            QVERIFY(e.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        QVERIFY(QFile::link(dir.filePath("fifo"), dir.filePath("link")));
        if (name == "zero" && ::mknod(QFile::encodeName(dir.filePath("zero")).constData(), S_IFCHR | 0600, makedev(1, 5)) != 0)
            QSKIP("making a device node needs root");
        if (name.startsWith('/') && !QFileInfo::exists(name))
            QSKIP("no such pseudo-file here");
        const QString path = name.startsWith('/') ? name : dir.filePath(name);
        QByteArray bytes = "old";
        QString why;
        const FileRead got = whileNotBlockedOn(fifo, [&] { return readWholeFile(path, limit, "a test file", bytes, &why); });
        QCOMPARE(got, result);
        if (result == FileRead::Read) {
            QCOMPARE(bytes, name == "ten" ? ten : QByteArray());
        } else {
            QVERIFY(bytes.isEmpty());
            QVERIFY2(why.contains(said), qPrintable(why));
        }
    }

    void aPipeIsNotEvenOpened()
    {
        // Opening a pipe tells a writer waiting on it that a reader came: one that is refused is
        // never opened.
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        std::atomic<pid_t> writerTask{0};
        auto writer = std::async(std::launch::async, [&] {
            writerTask = ::gettid();
            return ::open(fifo.constData(), O_WRONLY); // waits for a reader
        });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000) {
            QFile wchan(QStringLiteral("/proc/self/task/%1/wchan").arg(writerTask.load()));
            if (writerTask && wchan.open(QIODevice::ReadOnly) && wchan.readAll() == "wait_for_partner")
                break;
            QThread::msleep(10);
        }
        QByteArray bytes;
        QCOMPARE(readWholeFile(dir.filePath("fifo"), 10, "a test file", bytes, nullptr), FileRead::NotRegular);
        const bool opened = writer.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK); // lets the writer go
        ::close(writer.get());
        ::close(reader);
        QVERIFY(!opened);
    }

    void floatsAreReadWhole_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<NumberText>("result");
        QTest::addColumn<float>("value");
        QTest::newRow("sign and exponent") << QByteArray("-25e-1") << NumberText::Ok << -2.5f;
        QTest::newRow("hexadecimal, as %f reads it") << QByteArray("0x1p-1") << NumberText::Ok << 0.5f;
        QTest::newRow("too small rounds to 0") << QByteArray("1e-50") << NumberText::Ok << 0.0f;
        QTest::newRow("subnormal") << QByteArray("1e-40") << NumberText::Ok << 1e-40f;
        QTest::newRow("largest float") << QByteArray("3.4028235e38") << NumberText::Ok << FLT_MAX;
        QTest::newRow("beyond float") << QByteArray("1e39") << NumberText::OutOfRange << 0.0f;
        QTest::newRow("beyond float, negative") << QByteArray("-3.5e38") << NumberText::OutOfRange << 0.0f;
        QTest::newRow("infinity") << QByteArray("-Infinity") << NumberText::NotFinite << 0.0f;
        QTest::newRow("two numbers") << QByteArray("1 2") << NumberText::NotANumber << 0.0f;
        QTest::newRow("blank in front") << QByteArray(" 1") << NumberText::NotANumber << 0.0f;
        // Just above half way from 1 to the next float: rounded once it goes up; through a double
        // it would become the half way first and then go to 1.
        QTest::newRow("rounded once, not through double")
            << QByteArray("1.00000005960464477539062500000000001") << NumberText::Ok << 1.00000011920928955078125f;
    }

    void floatsAreReadWhole()
    {
        QFETCH(QByteArray, text);
        QFETCH(NumberText, result);
        QFETCH(float, value);
        float v = 42;
        QCOMPARE(readFloat(text, v), result);
        const float expected = result == NumberText::Ok ? value : 42.0f; // untouched unless read
        QVERIFY2(std::memcmp(&v, &expected, sizeof v) == 0, qPrintable(QString::number(double(v), 'g', 9)));
    }

    void wholeNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<NumberText>("result");
        QTest::addColumn<qint64>("value");
        QTest::newRow("zero") << QByteArray("0") << NumberText::Ok << qint64(0);
        QTest::newRow("plus sign") << QByteArray("+768") << NumberText::Ok << qint64(768);
        QTest::newRow("leading zeros") << QByteArray("0001024") << NumberText::Ok << qint64(1024);
        QTest::newRow("largest") << QByteArray("9223372036854775807") << NumberText::Ok << qint64(9223372036854775807);
        QTest::newRow("smallest") << QByteArray("-9223372036854775808") << NumberText::Ok << qint64(-9223372036854775807 - 1);
        QTest::newRow("one beyond the largest") << QByteArray("9223372036854775808") << NumberText::OutOfRange << qint64(0);
        QTest::newRow("one beyond the smallest") << QByteArray("-9223372036854775809") << NumberText::OutOfRange << qint64(0);
        QTest::newRow("twenty nines") << QByteArray(20, '9') << NumberText::OutOfRange << qint64(0);
        QTest::newRow("sign alone") << QByteArray("-") << NumberText::NotANumber << qint64(0);
        QTest::newRow("blank behind") << QByteArray("5 ") << NumberText::NotANumber << qint64(0);
        QTest::newRow("empty") << QByteArray() << NumberText::Empty << qint64(0);
        QTest::newRow("plus alone") << QByteArray("+") << NumberText::NotANumber << qint64(0);
        QTest::newRow("plus then minus") << QByteArray("+-5") << NumberText::NotANumber << qint64(0);
        QTest::newRow("minus then plus") << QByteArray("-+5") << NumberText::NotANumber << qint64(0);
        QTest::newRow("blank in front") << QByteArray(" 5") << NumberText::NotANumber << qint64(0);
        QTest::newRow("hexadecimal") << QByteArray("0x10") << NumberText::NotANumber << qint64(0);
        QTest::newRow("exponent") << QByteArray("1e3") << NumberText::NotANumber << qint64(0);
        QTest::newRow("twenty nines and a letter") << QByteArray(20, '9') + "x" << NumberText::NotANumber << qint64(0);
        QTest::newRow("forty digits behind a minus") << "-" + QByteArray(40, '1') << NumberText::OutOfRange << qint64(0);
    }

    // The camera readout: what a scene file holds, without trailing zeros.
    void roundedTexts_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0f << "0";
        QTest::newRow("minus zero") << -0.0f << "0";
        QTest::newRow("float noise around zero") << -1.4901161e-09f << "0";
        QTest::newRow("-1.1 as stored") << -1.0999999f << "-1.1";
        QTest::newRow("start camera") << -1.5f << "-1.5";
        QTest::newRow("a third") << 1.0f / 3 << "0.333333";
        QTest::newRow("whole") << 1024.0f << "1024";
        QTest::newRow("rounds up to whole") << 0.9999999f << "1";
        QTest::newRow("large") << 1e20f << "100000002004087734272";
        QTest::newRow("small but shown") << 0.0000051f << "0.000005";
    }

    void roundedTexts()
    {
        QFETCH(float, value);
        QFETCH(QString, text);
        QCOMPARE(roundedText(value), text);
    }

    void fieldEntries_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("why");
        QTest::newRow("blanks around") << " 0.5\t" << true << 0.5f << "";
        QTest::newRow("nothing") << "  " << false << 0.0f << "a number is needed";
        QTest::newRow("a word") << "abc" << false << 0.0f << "not a number";
        QTest::newRow("beyond a float") << "1e39" << false << 0.0f << "out of range";
        QTest::newRow("infinity") << "inf" << false << 0.0f << "not a finite number";
    }

    void fieldEntries()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(float, value);
        QFETCH(QString, why);
        float v = 42;
        QString reason;
        QCOMPARE(readFloatEntry(text, v, &reason), ok);
        QCOMPARE(v, ok ? value : 42.0f);
        QCOMPARE(reason, why);
        if (ok)
            QCOMPARE(floatText(v), QString::fromLatin1(shortestText(v)));
    }

    void wholeNumbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(NumberText, result);
        QFETCH(qint64, value);
        qint64 v = 42;
        QCOMPARE(readWholeNumber(text, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), v), result);
        QCOMPARE(v, result == NumberText::Ok ? value : 42);
        // Within int's range, as for a picture side.
        if (result == NumberText::Ok)
            QCOMPARE(readWholeNumber(text, INT_MIN, INT_MAX, v) == NumberText::Ok, value >= INT_MIN && value <= INT_MAX);
    }

    void quotedInputIsShortAndHarmless_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("terminal escape") << QByteArray("\x1b[2J\x1b]0;owned\x07") << "\\x1b[2J\\x1b]0;owned\\x07";
        QTest::newRow("NUL, line feed, tab, CR") << QByteArray("a\0b\nc\td\r", 8) << "a\\x00b\\nc\\td\\r";
        QTest::newRow("a letter in UTF-8") << QByteArray("Stra\xc3\x9f" "e") << QString::fromUtf8("Stra\xc3\x9f" "e");
        QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf" "0") << "\\xef\\xbb\\xbf0";
        QTest::newRow("C1 control in UTF-8") << QByteArray("\xc2\x9b" "31m") << "\\xc2\\x9b31m";
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe") << "\\xff\\xfe";
        QTest::newRow("a megabyte") << QByteArray(1 << 20, 'x') << QString(60, 'x') + "...";
        QTest::newRow("a megabyte of escapes") << QByteArray(1 << 20, '\x1b') << QString("\\x1b").repeated(15) + "...";
    }

    void quotedInputIsShortAndHarmless()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, shown);
        QCOMPARE(printable(text), shown);
    }

    void longFileNamesKeepTheirEnd()
    {
        const QString name = "/" + QString(300, 'd') + "/frame-0001.png";
        const QString shown = printableName(name);
        QVERIFY(shown.size() <= 160);
        QVERIFY(shown.startsWith("/ddd") && shown.endsWith("d/frame-0001.png") && shown.contains("..."));
        QCOMPARE(printableName("/tmp/a\nb.xml"), QStringLiteral("/tmp/a\\nb.xml"));
    }
};

QTEST_APPLESS_MAIN(TestFileIo)
#include "test_fileio.moc"
