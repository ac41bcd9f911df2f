#pragma once

#include <QWidget>

#include "jobs/keyframemodel.h"

class QAction;
class QHBoxLayout;
class QTableView;

// The "Key Frames" panel: the table, with buttons to go to a key's camera and to delete keys,
// and room for the window's own actions (adding a key, the smooth path).
class KeyFramePanel : public QWidget {
    Q_OBJECT

public:
    explicit KeyFramePanel(QWidget* parent = nullptr);

    KeyFrameModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }
    // Shows `path`, with the key of `selectFrame` selected when there is one.
    void showPath(const CameraPath& path, qint64 selectFrame = -1);
    // Adds a button for `action` to the panel's row of buttons.
    void addButton(QAction* action);
    // The rows selected, in order.
    QList<int> selectedRows() const;

signals:
    // Go To: put the camera of this key in the window.
    void goTo(int row);
    // Delete: drop these keys.
    void remove(const QList<int>& rows);
    // A key typed in the table that is no table key (a letter, a digit): the camera's.
    void cameraKey(QKeyEvent* event);

protected:
    // Keys typed into the panel stay there, but for those sent on by cameraKey().
    void keyPressEvent(QKeyEvent* event) override;
    // Undo on a cell holding a refused entry drops that entry, as undo in a scene panel field
    // drops its typing, rather than undoing the step before. Return edits the cell; letters and
    // digits go to the camera.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateButtons();

    KeyFrameModel* m_model;
    QTableView* m_table;
    QHBoxLayout* m_buttons;
    QAction* m_goTo;
    QAction* m_delete;
};
