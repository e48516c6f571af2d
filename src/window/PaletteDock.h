#pragma once

#include <QDockWidget>
#include <QImage>
#include <optional>

#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"

class QLabel;
class QPushButton;

namespace varek {

// "index 37 · RGB 124 52 200 · 6-bit 31 13 50": a colour as shown and as the file's
// 6-bit levels hold it ("64+" for a level the colour rule capped); afterIndex
// stands between the index and the rest.
QString ColourText(int index, ColorValue color,
                   const QString& afterIndex = QStringLiteral(" \u00b7 "));

// An image of image's size that greys every pixel but those of index, to lay over
// the picture; transparent where the pixel holds index.
QImage IndexHighlight(const IndexedImage& image, int index);

// The 256 colours on show as a 16 x 16 grid, index 0 at the top left, rows of 16.
// One swatch may be marked (the index under the mouse in the picture) and one
// selected by a click; a second click on it, or a click beside the grid, selects none.
// With the focus, the arrow keys move the selection and Escape ends it.
class PaletteGrid final : public QWidget {
    Q_OBJECT

public:
    explicit PaletteGrid(QWidget* parent = nullptr);

    // No colours: nothing is on show, and nothing can be selected.
    void SetColors(const std::optional<Palette>& colors);
    const std::optional<Palette>& Colors() const { return m_colors; }
    void SetMarked(int index);
    int Marked() const { return m_marked; }
    void SetSelected(int index);
    int Selected() const { return m_selected; }
    // The swatch of index, and the index of the swatch at point (-1 beside the grid).
    QRect SwatchRect(int index) const;
    int IndexAt(QPoint point) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void selectedChanged(int index);
    // The mouse over a swatch, or off them (-1).
    void swatchHovered(int index);
    // The colours, the marked or the selected swatch changed.
    void changed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int Cell() const;
    void Hover(int index);

    std::optional<Palette> m_colors;
    int m_marked = -1;
    int m_selected = -1;
    int m_hovered = -1;
};

// View > Palette: the grid, the facts of the swatch under the mouse (or else of
// the marked or the selected one), and "Export Palette...".
class PaletteDock final : public QDockWidget {
    Q_OBJECT

public:
    explicit PaletteDock(QWidget* parent = nullptr);

    PaletteGrid* Grid() const { return m_grid; }
    QPushButton* ExportButton() const { return m_export; }

private:
    void UpdateFacts();

    PaletteGrid* m_grid;
    QLabel* m_facts;
    QPushButton* m_export;
    int m_hovered = -1;
};

}  // namespace varek
