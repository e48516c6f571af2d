#pragma once

#include <QAbstractScrollArea>
#include <QPixmap>

namespace varek {

// How the picture box scales the picture on show. Default is the box's own look:
// the picture from the top-left corner and, for small images, the same picture
// four times enlarged over it, cut at the box. The others scale the whole picture
// by whole pixels repeated, with scroll bars when it is larger than the box.
enum class ZoomMode { Default, Factor, Fit };

// The zoom factors offered, smallest first.
inline constexpr int kZoomFactors[] = {1, 2, 3, 4, 6, 8};

// The picture box. Both the picture and its enlargement are kept, so every repaint
// paints them again; zooming changes only what is painted, never the picture.
class PictureBox final : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr int kEnlargement = 4;

    explicit PictureBox(QWidget* parent = nullptr);

    void SetPicture(const QPixmap& picture, bool enlarge);
    void Clear();

    bool HasPicture() const { return !m_picture.isNull(); }
    const QPixmap& Picture() const { return m_picture; }
    bool IsEnlarged() const { return !m_enlarged.isNull(); }

    void SetZoom(ZoomMode mode, int factor = 1);
    ZoomMode Mode() const { return m_mode; }
    // Pictures of 320 x 200, drawn for a screen whose pixels were taller than
    // wide, shown 6:5 taller when set.
    void SetAspectCorrection(bool on);
    bool AspectCorrection() const { return m_aspect; }

    // Screen pixels a picture pixel takes across, as painted now.
    double HorizontalScale() const;
    // The next zoom factor above or below what is painted now.
    int ZoomInFactor() const;
    int ZoomOutFactor() const;

    // The picture pixel painted at point of the viewport, whatever the zoom,
    // aspect and scroll; (-1, -1) where no picture pixel is painted.
    QPoint PixelAt(QPoint point) const;
    // An image of the picture's size painted over it, scaled as it is: the
    // highlight of the pixels of one palette index. A new picture removes it.
    void SetOverlay(const QImage& overlay);
    bool HasOverlay() const { return !m_overlay.isNull(); }

signals:
    // After each paint that showed a picture.
    void picturePainted();
    // The mouse moved onto another picture pixel, or off the picture: (-1, -1).
    void pixelHovered(QPoint pixel);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;

private:
    // How much taller than wide a picture pixel is painted: 1, or 6:5.
    double Stretch() const;
    double VerticalScale() const;
    // The size the scaled picture takes; the box's own size in the default mode.
    QSize ContentSize() const;
    void UpdateScrollBars();
    // Where the scaled picture is painted in the viewport outside the default look.
    QRectF TargetRect() const;
    void Hover(QPoint pixel);
    void RefreshHover();

    QPixmap m_picture;
    QPixmap m_enlarged;
    ZoomMode m_mode = ZoomMode::Default;
    int m_factor = 1;
    bool m_aspect = false;
    QPixmap m_overlay;
    QPixmap m_enlargedOverlay;
    QPoint m_hovered{-1, -1};
};

}  // namespace varek
