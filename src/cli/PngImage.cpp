#include "cli/PngImage.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <cstring>
#include <string>

#include "util/Error.h"

namespace varek {

ByteArray EncodePngImage(std::int32_t width, std::int32_t height,
                         std::span<const std::uint8_t> pixels, const Palette& palette)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        ThrowOverflow("Overflow: a PNG file cannot hold an image of " + size + " pixels");
    }
    const auto rowBytes = static_cast<std::size_t>(width);
    if (pixels.size() / rowBytes < static_cast<std::size_t>(height)) {
        ThrowIndexOutOfRange("Index out of range: an image of " + size + " pixels needs " +
                             std::to_string(static_cast<std::int64_t>(width) * height) +
                             " pixel bytes, " + std::to_string(pixels.size()) + " were given");
    }
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull()) {
        ThrowOverflow("Overflow: an image of " + size + " pixels is too large to encode");
    }
    QList<QRgb> colors;
    colors.reserve(static_cast<qsizetype>(kPaletteEntries));
    for (const ColorValue color : palette.Colors) {
        colors.push_back(qRgb(RedOf(color), GreenOf(color), BlueOf(color)));
    }
    image.setColorTable(colors);
    // QImage rows are padded to 4 bytes, so they are copied one by one.
    for (std::int32_t row = 0; row < height; ++row) {
        std::memcpy(image.scanLine(row), pixels.data() + static_cast<std::size_t>(row) * rowBytes,
                    rowBytes);
    }

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        ThrowFileAccess("Cannot encode the PNG image: " + writer.errorString().toStdString());
    }
    return ByteArray(bytes.begin(), bytes.end());
}

}  // namespace varek
