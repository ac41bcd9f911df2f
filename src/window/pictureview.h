#pragma once

#include <QImage>
#include <QWidget>

// Shows the picture at its own size: the full picture pixel for pixel, or a smaller stand-in (a
// drag preview, a coarse first picture) stretched over the same area. Painting touches only
// the part on screen, so a large picture costs no more to show than a small one.
class PictureView : public QWidget {
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);

    // The full picture, 32-bit RGB; the view takes its size.
    void setPicture(const QImage& display);
    // A smaller picture stretched over the view, which keeps its size.
    void setStandIn(const QImage& display);
    // Black at `size` until a picture comes.
    void clear(QSize size);

    // What the view shows now, at its own resolution (null while black).
    const QImage& shown() const { return m_image; }
    // True while a stand-in is shown.
    bool showsStandIn() const { return !m_image.isNull() && m_image.size() != size(); }
    // The cacheKey of the image painted last: once it is shown()'s, that image is on screen.
    qint64 paintedKey() const { return m_paintedKey; }

    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent* pe) override;

private:
    QImage m_image;
    qint64 m_paintedKey = 0;
};
