#include "window/QtPicture.h"

#include <QList>
#include <cstring>
#include <new>

namespace varek {

QImage ToQImage(const IndexedImage& image, const Palette& palette)
{
    if (image.width <= 0 || image.height <= 0) {
        return {};
    }
    QImage result(image.width, image.height, QImage::Format_Indexed8);
    if (result.isNull()) {
        throw std::bad_alloc();
    }
    QList<QRgb> colors(static_cast<qsizetype>(kPaletteEntries));
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        const ColorValue c = palette[i];
        colors[static_cast<qsizetype>(i)] = qRgb(RedOf(c), GreenOf(c), BlueOf(c));
    }
    result.setColorTable(colors);
    // QImage rows are 4-byte aligned, so each row is copied on its own.
    const auto width = static_cast<std::size_t>(image.width);
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(result.scanLine(y), image.pixels.data() + static_cast<std::size_t>(y) * width,
                    width);
    }
    return result;
}

}  // namespace varek
