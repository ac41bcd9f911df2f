// Hundreds of renders, blurs, saves and loads in one window: nothing may pile up.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "render/tracer.h"
#include "serial/xmlserial.h"
#include "windowharness.h"

namespace {

// Resident memory of this process in kB.
long residentKb()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void manyCommandsInOneWindow()
    {
        QTemporaryDir dir;
        // A smaller picture keeps each render short; the buffers still come and go every time.
        Scene small = Scene::builtIn();
        small.Wid = 256;
        small.Hey = 192;
        const QString start = dir.filePath("start.xml"), xml = dir.filePath("s.xml"), bin = dir.filePath("s.bin");
        XMLS writer;
        QVERIFY(saveScene(writer, start, small));

        MainWindow w;
        QString next = start;
        w.setFileNameAsker([&](bool) { return next; });
        dismissBoxes([&] { w.LoadFromXml(); });
        SETTLE(w);
        QCOMPARE(w.picture().size(), QSize(256, 192));

        const int keys[] = {Qt::Key_A, Qt::Key_D, Qt::Key_W, Qt::Key_S, Qt::Key_Z, Qt::Key_X};
        long before = 0;
        const int rounds = 300;
        for (int round = 0; round < rounds; ++round) {
            QTest::keyClick(&w, Qt::Key(keys[round % 6]));
            QTest::keyClick(&w, Qt::Key_Q);
            // Every command shows its box; all four run each fourth round, one each otherwise.
            dismissBoxes([&] {
                next = round % 2 ? xml : bin;
                if (round % 4 == 0 || round % 4 == 1)
                    round % 2 ? w.SerializeInXml() : w.SerializeInBin();
                if (round % 4 == 0 || round % 4 == 3)
                    round % 2 ? w.LoadFromXml() : w.LoadFromBin();
            });
            QCOMPARE(w.statusBar()->currentMessage().isEmpty(), false);
            if (round == 20)
                before = residentKb();
        }
        // The last load renders the saved scene again: still the right picture.
        SETTLE(w);
        QCOMPARE(w.picture(), render(w.scene()));
        const long after = residentKb();
        QVERIFY(before > 0 && after > 0);
#if defined(__SANITIZE_ADDRESS__)
        // The address sanitizer holds freed memory back on purpose; its leak check stands in.
        qInfo("resident memory %ld kB -> %ld kB (not checked under the address sanitizer)", before, after);
        return;
#endif
        // Allocator caches may keep a little; a leak of one picture a round would be tens of MB.
        QVERIFY2(after - before < 8 * 1024, qPrintable(QStringLiteral("grew from %1 kB to %2 kB").arg(before).arg(after)));
    }
};

QTEST_MAIN(TestSoak)
#include "test_soak.moc"
