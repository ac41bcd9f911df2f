#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

#include "scene/camerapath.h"

// The key frames of the camera path as a table: frame, X, Y, Z, one key a row, every cell
// editable (on a double-click, F2 or Return). Numbers show as the stored values, coordinates in the shortest text that reads
// back to the same float. An entry that can be taken gives a new path through edited(): frame
// numbers stay distinct and ascending, so a key whose frame is moved past another takes its
// place in the order. An entry that cannot be taken (not a whole number from 0 up for a frame,
// a frame that has a key already, not a finite float for a coordinate) stays in its cell,
// marked, with the reason in the cell's tooltip and sent out by refused().
class KeyFrameModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { FrameColumn, XColumn, YColumn, ZColumn, Columns };

    explicit KeyFrameModel(QObject* parent = nullptr);

    // The mark of a cell holding a refused entry, beside its colour (seen in a selected row too,
    // where the selection hides the colour).
    void setRefusedIcon(const QIcon& icon) { m_refusedIcon = icon; }
    // Shows `path`; refused entries go.
    void setPath(const CameraPath& path);
    const CameraPath& path() const { return m_path; }
    // True while the cell holds an entry that was refused.
    bool isRefused(int row, int column) const;
    // The cell shows its key's value again; false when it held no refused entry.
    bool dropRefused(int row, int column);

    // `path` with the entry `text` in the cell (row, column) taken, into `out`; false with
    // `why` when it cannot be taken.
    static bool withEntry(const CameraPath& path, int row, int column, const QString& text, CameraPath& out,
                          QString* why);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    // A cell was edited: the path with the new value, and the frame of the key edited.
    void edited(const CameraPath& path, qint64 frame);
    // An entry was refused: which value and why.
    void refused(const QString& why);

private:
    struct Refusal {
        QString text;
        QString why;
    };
    static QString cellText(const KeyFrame& key, int column);

    CameraPath m_path;
    QHash<int, Refusal> m_refused; // by row * Columns + column
    QIcon m_refusedIcon;
};
