#include "window/screenfit.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>

namespace {

// The width the docked panels take beside the picture.
int dockedWidth(const QMainWindow* window)
{
    // Panels docked on one side stack, so that side takes its widest; a separator each.
    int width[2] = {0, 0};
    for (QDockWidget* dock : window->findChildren<QDockWidget*>()) {
        if (dock->isHidden() || dock->isFloating())
            continue;
        const int side = window->dockWidgetArea(dock) == Qt::LeftDockWidgetArea ? 0 : 1;
        const int separator = window->style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, window);
        // The panel's own width: a panel widened to fill the screen gives that room back.
        const int w = dock->sizeHint().expandedTo(dock->minimumSizeHint()).width();
        width[side] = std::max(width[side], w + separator);
    }
    return width[0] + width[1];
}

// A smaller picture than before, or a panel gone: the window fits what is left, once the
// layout has caught up.
void fitWindowLater(QMainWindow* window)
{
    if (window->isVisible())
        QTimer::singleShot(0, window, [window] {
            window->centralWidget()->layout()->activate();
            window->layout()->activate();
            QSize size = window->sizeHint().expandedTo(window->minimumSizeHint());
            const QScreen* screen = window->screen();
            if (!screen) {
                window->resize(size);
                return;
            }
            // Whole on the screen: no larger than it, and moved back from its edges.
            const QRect avail = screen->availableGeometry();
            const QSize frame = window->frameGeometry().size() - window->geometry().size();
            size = size.boundedTo(avail.size() - frame);
            window->resize(size);
            QRect outer(window->frameGeometry().topLeft(), size + frame);
            if (outer.right() > avail.right())
                outer.moveRight(avail.right());
            if (outer.bottom() > avail.bottom())
                outer.moveBottom(avail.bottom());
            outer.moveLeft(std::max(outer.left(), avail.left()));
            outer.moveTop(std::max(outer.top(), avail.top()));
            if (outer.topLeft() != window->frameGeometry().topLeft())
                window->move(outer.topLeft());
        });
}

} // namespace

void fitPictureArea(QMainWindow* window, QScrollArea* area, const QWidget* below)
{
    const QSize picture = area->widget()->size();
    QSize room = picture;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Leave room for the menu bar, the status bar, the layout's margins and the frame the
        // window manager draws: known once the window shows, before that (or with no window
        // manager) a title bar's worth.
        const QLayout* column = window->centralWidget()->layout();
        const QMargins margins = column->contentsMargins();
        QSize frame = window->isVisible() ? window->frameGeometry().size() - window->geometry().size() : QSize();
        if (frame.height() <= 0)
            frame = QSize(12, 40);
        const int barHeight = below && !below->isHidden() ? below->sizeHint().height() + column->spacing() : 0;
        const QSize around(margins.left() + margins.right() + frame.width(),
                           margins.top() + margins.bottom() + frame.height() + window->menuBar()->sizeHint().height() +
                               window->statusBar()->sizeHint().height() + barHeight);
        const QSize avail = (screen->availableGeometry().size() - around - QSize(dockedWidth(window), 0))
                                .expandedTo(QSize(200, 150));
        room = room.boundedTo(avail);
        // A picture cut one way brings a scroll bar across the other: room for that bar too,
        // where the screen has it, so that the picture is not cut both ways.
        const int scrollBar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
        if (room.height() < picture.height())
            room.setWidth(std::min(picture.width() + scrollBar, avail.width()));
        if (room.width() < picture.width())
            room.setHeight(std::min(picture.height() + scrollBar, avail.height()));
    }
    area->setMinimumSize(room);
    area->setMaximumSize(room.expandedTo(picture));
    fitWindowLater(window);
}
