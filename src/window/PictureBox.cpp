#include "window/PictureBox.h"

#include <QPainter>

namespace varek {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent)
{
    setBackgroundRole(QPalette::Dark);
    setAutoFillBackground(true);
}

void PictureBox::SetPicture(const QPixmap& picture, bool enlarge)
{
    m_picture = picture;
    m_enlarged = QPixmap();
    if (enlarge && !picture.isNull()) {
        // Whole pixels repeated, never smoothed: the enlargement is for looking
        // at single pixels.
        m_enlarged = picture.scaled(picture.size() * kEnlargement, Qt::IgnoreAspectRatio,
                                    Qt::FastTransformation);
    }
    update();
}

void PictureBox::Clear()
{
    SetPicture(QPixmap(), false);
}

void PictureBox::paintEvent(QPaintEvent*)
{
    if (m_picture.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
    if (!m_enlarged.isNull()) {
        painter.drawPixmap(0, 0, m_enlarged);
    }
    painter.end();
    emit picturePainted();
}

}  // namespace varek
