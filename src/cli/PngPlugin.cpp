#include "cli/PngPlugin.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <cstring>

extern "C" bool VarekEncodePng(std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
                               const std::uint32_t* colors, std::vector<std::uint8_t>* out,
                               std::string* error)
{
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull()) {
        *error = "Overflow: an image of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels is too large to encode";
        return false;
    }
    QList<QRgb> table;
    table.reserve(256);
    for (int i = 0; i < 256; ++i) {
        table.push_back(qRgb(colors[i] & 0xFF, (colors[i] >> 8) & 0xFF, (colors[i] >> 16) & 0xFF));
    }
    image.setColorTable(table);
    // QImage rows are padded to 4 bytes, so they are copied one by one.
    const auto rowBytes = static_cast<std::size_t>(width);
    for (std::int32_t row = 0; row < height; ++row) {
        std::memcpy(image.scanLine(row), pixels + static_cast<std::size_t>(row) * rowBytes,
                    rowBytes);
    }

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        *error = "Cannot encode the PNG image: " + writer.errorString().toStdString();
        return false;
    }
    out->assign(bytes.begin(), bytes.end());
    return true;
}
