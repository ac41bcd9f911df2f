#include "window/keyframepanel.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
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
        // Seen in a selected row too, where the selection hides the colour.
        return refused ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning) : QVariant();
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

KeyFramePanel::KeyFramePanel(QWidget* parent) : QWidget(parent), m_model(new KeyFrameModel(this))
{
    m_table = new QTableView;
    m_table->installEventFilter(this);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Not on any key: a letter typed with a cell selected moves the camera.
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->hide();
    // Wide enough for most coordinates in full, as the shortest text of a float often has nine
    // digits.
    const int columnWidth = m_table->fontMetrics().horizontalAdvance(QStringLiteral("-0.29999998")) + 12;
    m_table->horizontalHeader()->setMinimumSectionSize(columnWidth);
    m_table->setMinimumWidth(columnWidth * KeyFrameModel::Columns + 2 * m_table->frameWidth() +
                             m_table->style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    m_goTo = new QAction(tr("&Go To"), this);
    m_goTo->setToolTip(tr("Put the camera of this key frame in the window"));
    connect(m_goTo, &QAction::triggered, this, [this] {
        const QList<int> rows = selectedRows();
        if (!rows.isEmpty())
            emit goTo(rows.first());
    });
    m_delete = new QAction(tr("&Delete"), this);
    m_delete->setToolTip(tr("Delete the key frames selected"));
    m_delete->setShortcut(QKeySequence::Delete);
    m_delete->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_delete, &QAction::triggered, this, [this] {
        const QList<int> rows = selectedRows();
        if (!rows.isEmpty())
            emit remove(rows);
    });
    // Delete in the table, not while a cell is being edited.
    m_table->addAction(m_delete);

    m_buttons = new QHBoxLayout;
    m_buttons->setContentsMargins(0, 0, 0, 0);
    addButton(m_goTo);
    addButton(m_delete);
    m_buttons->addStretch();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(m_table);
    column->addLayout(m_buttons);

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &KeyFramePanel::updateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &KeyFramePanel::updateButtons);
    updateButtons();
}

void KeyFramePanel::addButton(QAction* action)
{
    auto* button = new QToolButton;
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Before the stretch, once there is one.
    const int at = m_buttons->count() > 0 && m_buttons->itemAt(m_buttons->count() - 1)->spacerItem()
                       ? m_buttons->count() - 1
                       : m_buttons->count();
    m_buttons->insertWidget(at, button);
}

void KeyFramePanel::showPath(const CameraPath& path, qint64 selectFrame)
{
    m_model->setPath(path);
    for (size_t k = 0; k < path.keys.size(); ++k)
        if (path.keys[k].frame == selectFrame)
            m_table->selectRow(int(k));
}

QList<int> KeyFramePanel::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void KeyFramePanel::updateButtons()
{
    const bool any = m_table->selectionModel()->hasSelection();
    m_goTo->setEnabled(any);
    m_delete->setEnabled(any);
}

void KeyFramePanel::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

bool KeyFramePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        const QModelIndex cell = m_table->currentIndex();
        auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (event->type() == QEvent::KeyPress && plain && m_table->hasFocus()) {
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && cell.isValid()) {
                m_table->edit(cell);
                return true;
            }
            if (key->text().size() == 1 && key->text()[0].isLetterOrNumber()) {
                emit cameraKey(key);
                return true;
            }
        }
        if (key->matches(QKeySequence::Undo) && cell.isValid() &&
            m_model->isRefused(cell.row(), cell.column())) {
            // Claimed from the window's undo; the press itself drops the entry.
            event->accept();
            if (event->type() == QEvent::KeyPress)
                m_model->dropRefused(cell.row(), cell.column());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
