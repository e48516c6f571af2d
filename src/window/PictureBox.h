#pragma once

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QScrollBar>

namespace varek {

// How the picture box scales the picture on show. Default is the box's own look:
// the picture from the top-left corner and, for small images, the same picture
// four times enlarged over it, cut at the box. The others scale the whole picture
// by whole pixels repeated, with scroll bars when it is larger than the box; Fit
// takes the largest whole factor that shows it whole, or for a picture larger
// than the box the largest whole fraction (1/2, 1/3, ...).
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
    // A text shown in the box while it has no picture: why there is none.
    void SetNote(const QString& note);
    const QString& Note() const { return m_note; }

    bool HasPicture() const { return !m_picture.isNull(); }
    const QPixmap& Picture() const { return m_picture; }
    bool IsEnlarged() const { return !m_enlarged.isNull(); }

    void SetZoom(ZoomMode mode, int factor = 1);
    // The mode chosen, and the one painted: at the default look a picture larger
    // than the box is painted fitted, as image viewers show a large image whole.
    ZoomMode Mode() const { return m_mode; }
    ZoomMode ShownMode() const;
    // Pictures of 320 x 200, drawn for a screen whose pixels were taller than
    // wide, shown 6:5 taller when set, in every mode.
    void SetAspectCorrection(bool on);
    bool AspectCorrection() const { return m_aspect; }
    // Whether the picture on show is one the correction applies to.
    bool AspectApplies() const;

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
    // The box changed size, which may change the scale of a fitted picture.
    void resized();
    // The wheel turned with Ctrl held: steps up (positive) or down.
    void zoomWheeled(int steps);
    // The mouse moved onto another picture pixel, or off the picture: (-1, -1).
    void pixelHovered(QPoint pixel);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
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
    QString m_note;
    ZoomMode m_mode = ZoomMode::Default;
    int m_factor = 1;
    bool m_aspect = false;
    int m_wheelTurn = 0;  // eighths of a degree not yet taken as a step
    QPixmap m_overlay;
    QPixmap m_enlargedOverlay;
    QPoint m_hovered{-1, -1};
};

// The frame scroll bar: the arrow keys step the way they point, Page Up and Page
// Down a tenth of the frames, and it shows when it has the focus.
class FrameBar final : public QScrollBar {
public:
    explicit FrameBar(QWidget* parent = nullptr);

    // The step of Page Up and Page Down: a tenth of the frames, at least one.
    int KeyPageStep() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// The mark a control with the keyboard focus shows, inside rect.
void PaintFocusMark(QPainter& painter, const QWidget& widget, const QRect& rect);

}  // namespace varek
