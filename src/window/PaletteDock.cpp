#include "window/PaletteDock.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "imaging/PaletteFile.h"

namespace varek {

namespace {

constexpr int kColumns = 16;
constexpr int kMinimumCell = 10;
constexpr int kPreferredCell = 14;

QString LevelText(std::uint8_t component)
{
    const int level = VgaLevelOf(component);
    return level > 63 ? QStringLiteral("64+") : QString::number(level);
}

}  // namespace

QString ColourText(int index, ColorValue color, const QString& afterIndex)
{
    return PaletteGrid::tr("index %1%2RGB %3 %4 %5 \u00b7 6-bit %6 %7 %8")
        .arg(index)
        .arg(afterIndex)
        .arg(RedOf(color))
        .arg(GreenOf(color))
        .arg(BlueOf(color))
        .arg(LevelText(RedOf(color)), LevelText(GreenOf(color)), LevelText(BlueOf(color)));
}

QImage IndexHighlight(const IndexedImage& image, int index)
{
    if (image.width <= 0 || image.height <= 0 || index < 0) {
        return {};
    }
    QImage overlay(image.width, image.height, QImage::Format_Indexed8);
    // Grey laid over the others brings them towards one tone, so the pixels of the
    // index stand out in their own colour, dark or light.
    QList<QRgb> table(static_cast<qsizetype>(kPaletteEntries), qRgba(128, 128, 128, 210));
    table[index] = qRgba(0, 0, 0, 0);
    overlay.setColorTable(table);
    const auto width = static_cast<std::size_t>(image.width);
    for (int y = 0; y < image.height; ++y) {
        std::copy_n(image.pixels.data() + static_cast<std::size_t>(y) * width, width,
                    overlay.scanLine(y));
    }
    return overlay;
}

PaletteGrid::PaletteGrid(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("paletteGrid"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PaletteGrid::SetColors(const std::optional<Palette>& colors)
{
    if (colors == m_colors) {
        return;
    }
    m_colors = colors;
    if (!m_colors) {
        SetSelected(-1);
        m_marked = -1;
    }
    update();
    emit changed();
}

void PaletteGrid::SetMarked(int index)
{
    if (index != m_marked) {
        m_marked = index;
        update();
        emit changed();
    }
}

void PaletteGrid::SetSelected(int index)
{
    if (index != m_selected) {
        m_selected = index;
        update();
        emit selectedChanged(index);
        emit changed();
    }
}

int PaletteGrid::Cell() const
{
    return std::max(1, std::min(width(), height()) / kColumns);
}

QRect PaletteGrid::SwatchRect(int index) const
{
    const int cell = Cell();
    return QRect(index % kColumns * cell, index / kColumns * cell, cell, cell);
}

int PaletteGrid::IndexAt(QPoint point) const
{
    const int cell = Cell();
    if (point.x() < 0 || point.y() < 0 || point.x() >= cell * kColumns ||
        point.y() >= cell * kColumns) {
        return -1;
    }
    return point.y() / cell * kColumns + point.x() / cell;
}

QSize PaletteGrid::sizeHint() const
{
    return QSize(kColumns * kPreferredCell, kColumns * kPreferredCell);
}

QSize PaletteGrid::minimumSizeHint() const
{
    return QSize(kColumns * kMinimumCell, kColumns * kMinimumCell);
}

void PaletteGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!m_colors) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, tr("No picture on show"));
        return;
    }
    for (int i = 0; i < static_cast<int>(kPaletteEntries); ++i) {
        const ColorValue c = (*m_colors)[static_cast<std::size_t>(i)];
        painter.fillRect(SwatchRect(i), QColor(RedOf(c), GreenOf(c), BlueOf(c)));
    }
    // A frame in black and white shows on any colour.
    const auto frame = [&](int index, int width) {
        if (index < 0) {
            return;
        }
        const QRect swatch = SwatchRect(index).adjusted(0, 0, -1, -1);
        painter.setPen(QPen(Qt::black, width));
        painter.drawRect(swatch);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(swatch.adjusted(width, width, -width, -width));
    };
    frame(m_marked, 1);
    frame(m_selected, 2);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(QRect(0, 0, Cell() * kColumns, Cell() * kColumns).adjusted(0, 0, -1, -1));
    }
}

void PaletteGrid::keyPressEvent(QKeyEvent* event)
{
    const int steps[] = {-1, 1, -kColumns, kColumns};
    const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down};
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        if (event->key() == keys[i] && m_colors) {
            const int from = m_selected >= 0 ? m_selected : 0;
            const int to = from + steps[i];
            // Left and right stay in the row, up and down in the column.
            if (to >= 0 && to < static_cast<int>(kPaletteEntries) &&
                (i >= 2 || to / kColumns == from / kColumns)) {
                SetSelected(m_selected >= 0 ? to : 0);
            }
            return;
        }
    }
    if (event->key() == Qt::Key_Escape && m_selected >= 0) {
        SetSelected(-1);
        return;
    }
    QWidget::keyPressEvent(event);
}

void PaletteGrid::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_colors) {
        return;
    }
    const int index = IndexAt(event->position().toPoint());
    SetSelected(index == m_selected ? -1 : index);
}

void PaletteGrid::mouseMoveEvent(QMouseEvent* event)
{
    Hover(m_colors ? IndexAt(event->position().toPoint()) : -1);
}

void PaletteGrid::leaveEvent(QEvent*)
{
    Hover(-1);
}

void PaletteGrid::Hover(int index)
{
    if (index != m_hovered) {
        m_hovered = index;
        emit swatchHovered(index);
    }
}

PaletteDock::PaletteDock(QWidget* parent) : QDockWidget(tr("Palette"), parent)
{
    setObjectName(QStringLiteral("paletteDock"));
    auto* content = new QWidget(this);
    m_grid = new PaletteGrid(content);
    m_facts = new QLabel(content);
    m_facts->setObjectName(QStringLiteral("paletteFacts"));
    m_facts->setWordWrap(true);
    m_facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_export = new QPushButton(tr("Export Palette..."), content);
    m_export->setObjectName(QStringLiteral("cmdExportPalette"));
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(m_grid, 1);
    layout->addWidget(m_facts);
    layout->addWidget(m_export, 0, Qt::AlignLeft);
    setWidget(content);

    connect(m_grid, &PaletteGrid::swatchHovered, this, [this](int index) {
        m_hovered = index;
        UpdateFacts();
    });
    connect(m_grid, &PaletteGrid::changed, this, &PaletteDock::UpdateFacts);
    UpdateFacts();
}

void PaletteDock::UpdateFacts()
{
    const auto& colors = m_grid->Colors();
    const int index = m_hovered >= 0          ? m_hovered
                      : m_grid->Marked() >= 0 ? m_grid->Marked()
                                              : m_grid->Selected();
    if (!colors || index < 0) {
        m_facts->setText(colors ? tr("Click a colour to show where the picture uses it.")
                                : QString());
        return;
    }
    m_facts->setText(ColourText(index, (*colors)[static_cast<std::size_t>(index)], "\n"));
}

}  // namespace varek
