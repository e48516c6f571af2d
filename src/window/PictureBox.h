#pragma once

#include <QPixmap>
#include <QWidget>

namespace varek {

// The picture box: shows one picture from its top-left corner and, for small
// images, the same picture four times enlarged over it. Both are kept, so every
// repaint paints them again.
class PictureBox final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kEnlargement = 4;

    explicit PictureBox(QWidget* parent = nullptr);

    void SetPicture(const QPixmap& picture, bool enlarge);
    void Clear();

    bool HasPicture() const { return !m_picture.isNull(); }
    const QPixmap& Picture() const { return m_picture; }
    bool IsEnlarged() const { return !m_enlarged.isNull(); }

signals:
    // After each paint that showed a picture.
    void picturePainted();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
    QPixmap m_enlarged;
};

}  // namespace varek
