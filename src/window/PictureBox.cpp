#include "window/PictureBox.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace varek {

namespace {

constexpr QSize kAspectSize(320, 200);
constexpr double kAspectStretch = 1.2;  // 6:5

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setBackgroundRole(QPalette::Dark);
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    UpdateScrollBars();
}

void PictureBox::SetPicture(const QPixmap& picture, bool enlarge)
{
    m_picture = picture;
    m_enlarged = QPixmap();
    m_overlay = QPixmap();
    m_enlargedOverlay = QPixmap();
    if (enlarge && !picture.isNull()) {
        // Whole pixels repeated, never smoothed: the enlargement is for looking
        // at single pixels.
        m_enlarged = picture.scaled(picture.size() * kEnlargement, Qt::IgnoreAspectRatio,
                                    Qt::FastTransformation);
    }
    UpdateScrollBars();
    viewport()->update();
}

void PictureBox::Clear()
{
    SetPicture(QPixmap(), false);
}

void PictureBox::SetNote(const QString& note)
{
    if (note != m_note) {
        m_note = note;
        viewport()->update();
    }
}

void PictureBox::SetOverlay(const QImage& overlay)
{
    m_overlay = overlay.isNull() ? QPixmap() : QPixmap::fromImage(overlay);
    m_enlargedOverlay = QPixmap();
    if (!m_overlay.isNull() && !m_enlarged.isNull()) {
        m_enlargedOverlay = m_overlay.scaled(m_overlay.size() * kEnlargement, Qt::IgnoreAspectRatio,
                                             Qt::FastTransformation);
    }
    viewport()->update();
}

QRectF PictureBox::TargetRect() const
{
    return QRectF(-horizontalScrollBar()->value(), -verticalScrollBar()->value(),
                  m_picture.width() * HorizontalScale(), m_picture.height() * VerticalScale());
}

QPoint PictureBox::PixelAt(QPoint point) const
{
    if (m_picture.isNull()) {
        return {-1, -1};
    }
    QPointF at;
    if (ShownMode() == ZoomMode::Default && Stretch() == 1) {
        // The enlargement, where there is one, covers the picture painted under it.
        const double scale = IsEnlarged() ? kEnlargement : 1;
        at = QPointF(point) / scale;
    } else {
        const QRectF target = TargetRect();
        at = QPointF((point.x() - target.left()) / HorizontalScale(),
                     (point.y() - target.top()) / VerticalScale());
    }
    const QPoint pixel(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
    return m_picture.rect().contains(pixel) ? pixel : QPoint(-1, -1);
}

void PictureBox::RefreshHover()
{
    // Another picture, zoom or scroll puts another pixel under a mouse at rest.
    Hover(viewport()->underMouse() ? PixelAt(viewport()->mapFromGlobal(QCursor::pos()))
                                   : QPoint(-1, -1));
}

void PictureBox::Hover(QPoint pixel)
{
    if (pixel != m_hovered) {
        m_hovered = pixel;
        emit pixelHovered(pixel);
    }
}

bool PictureBox::viewportEvent(QEvent* event)
{
    switch (event->type()) {
        case QEvent::MouseMove:
            Hover(PixelAt(static_cast<QMouseEvent*>(event)->position().toPoint()));
            break;
        case QEvent::Leave:
            Hover({-1, -1});
            break;
        default:
            break;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void PictureBox::SetZoom(ZoomMode mode, int factor)
{
    m_mode = mode;
    m_factor = std::max(factor, 1);
    UpdateScrollBars();
    viewport()->update();
}

void PictureBox::SetAspectCorrection(bool on)
{
    m_aspect = on;
    UpdateScrollBars();
    viewport()->update();
}

bool PictureBox::AspectApplies() const
{
    return m_picture.size() == kAspectSize;
}

double PictureBox::Stretch() const
{
    return m_aspect && AspectApplies() ? kAspectStretch : 1.0;
}

ZoomMode PictureBox::ShownMode() const
{
    if (m_mode != ZoomMode::Default || m_picture.isNull()) {
        return m_mode;
    }
    const QSize view = maximumViewportSize();
    const bool larger =
        m_picture.width() > view.width() || m_picture.height() * Stretch() > view.height() + 1e-9;
    return larger ? ZoomMode::Fit : ZoomMode::Default;
}

double PictureBox::HorizontalScale() const
{
    switch (ShownMode()) {
        case ZoomMode::Default:
            return IsEnlarged() ? kEnlargement : 1;
        case ZoomMode::Factor:
            return m_factor;
        case ZoomMode::Fit:
            break;
    }
    if (m_picture.isNull()) {
        return 1;
    }
    const QSize view = maximumViewportSize();
    const double room = std::min(view.width() / static_cast<double>(m_picture.width()),
                                 view.height() / (m_picture.height() * Stretch()));
    // Whole factors keep every picture pixel the same size on screen; the small
    // allowance keeps an exact fit from rounding down.
    constexpr double kAllowance = 1e-9;
    if (room >= 1 - kAllowance) {
        return std::floor(room + kAllowance);
    }
    return 1 / std::ceil(1 / room - kAllowance);
}

double PictureBox::VerticalScale() const
{
    return HorizontalScale() * Stretch();
}

int PictureBox::ZoomInFactor() const
{
    const double scale = HorizontalScale();
    for (const int factor : kZoomFactors) {
        if (factor > scale + 1e-9) {
            return factor;
        }
    }
    return std::end(kZoomFactors)[-1];
}

int PictureBox::ZoomOutFactor() const
{
    const double scale = HorizontalScale();
    for (auto it = std::rbegin(kZoomFactors); it != std::rend(kZoomFactors); ++it) {
        if (*it < scale - 1e-9) {
            return *it;
        }
    }
    return kZoomFactors[0];
}

QSize PictureBox::ContentSize() const
{
    if (m_picture.isNull() || m_mode != ZoomMode::Factor) {
        return {};
    }
    return QSize(static_cast<int>(std::ceil(m_picture.width() * HorizontalScale())),
                 static_cast<int>(std::ceil(m_picture.height() * VerticalScale())));
}

void PictureBox::UpdateScrollBars()
{
    // The default look and a fitted picture never scroll.
    const Qt::ScrollBarPolicy policy =
        m_mode == ZoomMode::Factor ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
    const QSize content = ContentSize();
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, content.width() - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(16);
    verticalScrollBar()->setRange(0, std::max(0, content.height() - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(16);
    RefreshHover();
}

void PictureBox::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    emit resized();
}

void PictureBox::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    event->accept();
    m_wheelTurn += event->angleDelta().y();
    const int steps = m_wheelTurn / QWheelEvent::DefaultDeltasPerStep;
    m_wheelTurn -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0) {
        emit zoomWheeled(steps);
    }
}

void PictureBox::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void PictureBox::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void PictureBox::scrollContentsBy(int, int)
{
    viewport()->update();
    RefreshHover();
}

void PictureBox::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    if (m_picture.isNull()) {
        if (!m_note.isEmpty()) {
            painter.setPen(palette().color(QPalette::Light));
            painter.drawText(viewport()->rect().adjusted(16, 16, -16, -16),
                             Qt::AlignCenter | Qt::TextWordWrap, m_note);
        }
        if (hasFocus()) {
            PaintFocusMark(painter, *this, viewport()->rect());
        }
        return;
    }
    if (ShownMode() == ZoomMode::Default && Stretch() == 1) {
        painter.drawPixmap(0, 0, m_picture);
        painter.drawPixmap(0, 0, m_overlay);
        if (!m_enlarged.isNull()) {
            painter.drawPixmap(0, 0, m_enlarged);
            painter.drawPixmap(0, 0, m_enlargedOverlay);
        }
    } else {
        // Nearest neighbour: every picture pixel stays a block of one colour.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const QRectF target = TargetRect();
        painter.drawPixmap(target, m_picture, QRectF(m_picture.rect()));
        if (!m_overlay.isNull()) {
            painter.drawPixmap(target, m_overlay, QRectF(m_overlay.rect()));
        }
    }
    if (hasFocus()) {
        // Over the picture, which may cover the box.
        PaintFocusMark(painter, *this, viewport()->rect());
    }
    painter.end();
    emit picturePainted();
}

FrameBar::FrameBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {}

int FrameBar::KeyPageStep() const
{
    return std::max(1, (maximum() - minimum() + 1) / 10);
}

void FrameBar::keyPressEvent(QKeyEvent* event)
{
    // Qt's horizontal scroll bar steps backwards on the right arrow; this one
    // steps the way the arrow points.
    const bool reversed = isRightToLeft();
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
            triggerAction((event->key() == Qt::Key_Right) != reversed ? SliderSingleStepAdd
                                                                      : SliderSingleStepSub);
            break;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            // Moved as a step by hand, so that it reports the action as one.
            setSliderPosition(value() +
                              (event->key() == Qt::Key_PageDown ? KeyPageStep() : -KeyPageStep()));
            break;
        default:
            QScrollBar::keyPressEvent(event);
            return;
    }
    event->accept();
}

void FrameBar::paintEvent(QPaintEvent* event)
{
    QScrollBar::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        PaintFocusMark(painter, *this, rect());
    }
}

void PaintFocusMark(QPainter& painter, const QWidget& widget, const QRect& rect)
{
    painter.save();
    painter.setPen(QPen(widget.palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect).adjusted(1, 1, -1, -1));
    painter.restore();
}

}  // namespace varek
