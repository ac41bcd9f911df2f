// Steps of undo: a quick burst of camera moves is one step, with times the test sets.
#include <QUndoStack>
#include <QtTest>

#include "jobs/scenechange.h"

namespace {

Scene at(float x)
{
    Scene s = Scene::builtIn();
    s.CamPos.X = x;
    return s;
}

} // namespace

class TestUndo : public QObject {
    Q_OBJECT

private slots:
    void cameraMovesMerge_data()
    {
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<int>("steps");
        QTest::newRow("together") << QList<qint64>{5000, 5000} << 1;
        QTest::newRow("999 ms apart") << QList<qint64>{5000, 5999} << 1;
        QTest::newRow("1 s apart") << QList<qint64>{5000, 6000} << 1;
        QTest::newRow("1001 ms apart") << QList<qint64>{5000, 6001} << 2;
        // Each move counts from the one before it, so a steady stream stays one step.
        QTest::newRow("a stream 900 ms apart") << QList<qint64>{0, 900, 1800, 2700, 3600} << 1;
        QTest::newRow("a pause splits it") << QList<qint64>{0, 900, 2500, 3000} << 2;
    }

    void cameraMovesMerge()
    {
        QFETCH(QList<qint64>, times);
        QFETCH(int, steps);
        QList<float> applied;
        const auto apply = [&applied](const Scene& s) { applied << s.CamPos.X; };
        QUndoStack stack;
        for (int i = 0; i < times.size(); ++i)
            stack.push(new SceneChange(apply, at(i), at(i + 1), "Move Camera", true, times[i]));
        QVERIFY(applied.isEmpty()); // recorded after the change: the first redo does nothing
        QCOMPARE(stack.count(), steps);
        // Undoing every step goes back to the start, and redoing them to the end.
        while (stack.canUndo())
            stack.undo();
        QCOMPARE(applied.last(), 0.0f);
        while (stack.canRedo())
            stack.redo();
        QCOMPARE(applied.last(), float(times.size()));
        QCOMPARE(applied.size(), 2 * steps);
    }

    void otherChangesNeverMerge()
    {
        QList<float> applied;
        const auto apply = [&applied](const Scene& s) { applied << s.CamPos.X; };
        QUndoStack stack;
        stack.push(new SceneChange(apply, at(0), at(1), "Edit Scene", false, 100));
        stack.push(new SceneChange(apply, at(1), at(2), "Edit Scene", false, 100));
        stack.push(new SceneChange(apply, at(2), at(3), "Move Camera", true, 101));
        stack.push(new SceneChange(apply, at(3), at(4), "Open", false, 102));
        QCOMPARE(stack.count(), 4);
        stack.undo();
        stack.undo();
        QCOMPARE(applied, QList<float>({3, 2}));
        QCOMPARE(stack.undoText(), QStringLiteral("Edit Scene"));
    }
};

QTEST_MAIN(TestUndo)
#include "test_undo.moc"
