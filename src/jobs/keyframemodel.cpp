#include "jobs/keyframemodel.h"

#include <QBrush>
#include <QColor>
#include <algorithm>
#include <cstring>
#include <limits>

#include "fileio/textio.h"

namespace {

// The colour of a refused entry, as in the scene panel.
const QColor kRefusedColour(0xf6, 0xc9, 0xc4);

float& coordinate(KeyFrame& key, int column)
{
    return column == KeyFrameModel::XColumn ? key.camera.X
                                             : (column == KeyFrameModel::YColumn ? key.camera.Y : key.camera.Z);
}

} // namespace

KeyFrameModel::KeyFrameModel(QObject* parent) : QAbstractTableModel(parent) {}

void KeyFrameModel::setPath(const CameraPath& path)
{
    beginResetModel();
    m_path = path;
    m_refused.clear();
    endResetModel();
}

bool KeyFrameModel::isRefused(int row, int column) const
{
    return m_refused.contains(row * Columns + column);
}

bool KeyFrameModel::dropRefused(int row, int column)
{
    if (!m_refused.remove(row * Columns + column))
        return false;
    emit dataChanged(index(row, column), index(row, column));
    return true;
}

QString KeyFrameModel::cellText(const KeyFrame& key, int column)
{
    if (column == FrameColumn)
        return QString::number(key.frame);
    KeyFrame k = key;
    return floatText(coordinate(k, column));
}

bool KeyFrameModel::withEntry(const CameraPath& path, int row, int column, const QString& text, CameraPath& out,
                              QString* why)
{
    if (row < 0 || row >= int(path.keys.size()) || column < 0 || column >= Columns)
        return false;
    CameraPath edited = path;
    KeyFrame& key = edited.keys[size_t(row)];
    if (column == FrameColumn) {
        qint64 frame = 0;
        const NumberText read =
            readWholeNumber(text.trimmed().toUtf8(), 0, std::numeric_limits<qint64>::max(), frame);
        if (read != NumberText::Ok) {
            if (why)
                *why = read == NumberText::OutOfRange && !text.trimmed().startsWith('-')
                           ? tr("beyond the last frame there can be, %1").arg(std::numeric_limits<qint64>::max())
                           : tr("a frame number is a whole number from 0 up");
            return false;
        }
        for (size_t k = 0; k < path.keys.size(); ++k)
            if (int(k) != row && path.keys[k].frame == frame) {
                if (why)
                    *why = tr("frame %1 has a key frame already").arg(frame);
                return false;
            }
        key.frame = frame;
        // A key moved past another takes its place: the frames stay in order.
        std::stable_sort(edited.keys.begin(), edited.keys.end(),
                         [](const KeyFrame& a, const KeyFrame& b) { return a.frame < b.frame; });
    } else if (!readFloatEntry(text, coordinate(key, column), why)) {
        return false;
    }
    out = edited;
    return true;
}

int KeyFrameModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_path.keys.size());
}

int KeyFrameModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant KeyFrameModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const auto refusal = m_refused.constFind(index.row() * Columns + index.column());
    const bool refused = refusal != m_refused.constEnd();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return refused ? refusal->text : cellText(m_path.keys[size_t(index.row())], index.column());
    case Qt::ToolTipRole:
        return refused ? refusal->why : QVariant();
    case Qt::BackgroundRole:
        return refused ? QBrush(kRefusedColour) : QVariant();
    case Qt::DecorationRole:
        return refused && !m_refusedIcon.isNull() ? QVariant(m_refusedIcon) : QVariant();
    case Qt::TextAlignmentRole:
        return int(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant KeyFrameModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    static const char* const names[Columns] = {QT_TR_NOOP("Frame"), "X", "Y", "Z"};
    return section >= 0 && section < Columns ? tr(names[section]) : QVariant();
}

Qt::ItemFlags KeyFrameModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? QAbstractTableModel::flags(index) | Qt::ItemIsEditable : Qt::NoItemFlags;
}

bool KeyFrameModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount())
        return false;
    const int row = index.row(), column = index.column();
    const QString text = value.toString();
    CameraPath changed;
    QString why;
    if (!withEntry(m_path, row, column, text, changed, &why)) {
        m_refused.insert(row * Columns + column, {text, why});
        emit dataChanged(index, index);
        static const char* const names[Columns] = {QT_TR_NOOP("frame number"), "X", "Y", "Z"};
        emit refused(tr("Key frame %1 %2: %3").arg(m_path.keys[size_t(row)].frame).arg(tr(names[column]), why));
        return false;
    }
    m_refused.remove(row * Columns + column);
    const KeyFrame& was = m_path.keys[size_t(row)];
    qint64 frame = was.frame;
    if (column == FrameColumn)
        readWholeNumber(text.trimmed().toUtf8(), 0, std::numeric_limits<qint64>::max(), frame);
    // A moved frame may have taken another row; a coordinate stays in its row.
    const bool same = column == FrameColumn
                          ? frame == was.frame
                          : std::memcmp(&changed.keys[size_t(row)].camera, &was.camera, sizeof(Vector3D)) == 0;
    if (same) {
        // The same value in other words ("0.50"): shown as stored.
        emit dataChanged(index, index);
        return true;
    }
    emit edited(changed, frame);
    return true;
}
