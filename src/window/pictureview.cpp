#include "window/pictureview.h"

#include <QPaintEvent>
#include <QPainter>

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    // Every pixel is painted, with opaque colours: no background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setPicture(const QImage& display)
{
    m_image = display;
    setFixedSize(display.size());
    update();
}

void PictureView::setStandIn(const QImage& display)
{
    m_image = display;
    update();
}

void PictureView::clear(QSize size)
{
    m_image = QImage();
    setFixedSize(size);
    update();
}

void PictureView::paintEvent(QPaintEvent* pe)
{
    QPainter p(this);
    const QRect area = pe->rect();
    if (m_image.isNull())
        p.fillRect(area, Qt::black);
    else if (m_image.size() == size())
        p.drawImage(area.topLeft(), m_image, area);
    else
        // Clipped to the area being painted, so only what is on screen is scaled.
        p.drawImage(rect(), m_image);
    m_paintedKey = m_image.cacheKey();
}
