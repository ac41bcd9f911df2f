#include "window/keyframepanel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

KeyFramePanel::KeyFramePanel(QWidget* parent) : QWidget(parent), m_model(new KeyFrameModel(this))
{
    m_model->setRefusedIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
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
