#include "window/PictureBox.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
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
    if (m_mode == ZoomMode::Default) {
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

double PictureBox::Stretch() const
{
    const bool applies = m_aspect && m_mode != ZoomMode::Default && m_picture.size() == kAspectSize;
    return applies ? kAspectStretch : 1.0;
}

double PictureBox::HorizontalScale() const
{
    switch (m_mode) {
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
    return std::min(view.width() / static_cast<double>(m_picture.width()),
                    view.height() / (m_picture.height() * Stretch()));
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
}

void PictureBox::scrollContentsBy(int, int)
{
    viewport()->update();
    RefreshHover();
}

void PictureBox::paintEvent(QPaintEvent*)
{
    if (m_picture.isNull()) {
        return;
    }
    QPainter painter(viewport());
    if (m_mode == ZoomMode::Default) {
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
    painter.end();
    emit picturePainted();
}

}  // namespace varek
