#include "window/QtPicture.h"

#include <QList>
#include <cstring>
#include <new>

#include "imaging/Picture.h"
#include "util/Error.h"

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

QPixmap LoadPictureFromByteArray(std::span<const std::uint8_t> bmp, const Palette& palette,
                                 ErrorReporter& reporter)
{
    QImage image;
    try {
        image = ToQImage(ReadBmpPixels(bmp), palette);
    } catch (const Error&) {
        reporter.ReportError("LoadPictureFromByteArray");
        return {};
    } catch (const std::bad_alloc&) {
        reporter.ReportError("LoadPictureFromByteArray");
        return {};
    }
    return CreatePictureFromBitmap(image, reporter);
}

QPixmap CreatePictureFromBitmap(const QImage& image, ErrorReporter& reporter)
{
    if (image.isNull()) {
        return {};
    }
    QPixmap picture = QPixmap::fromImage(image);
    if (picture.isNull()) {
        reporter.ReportError("CreatePictureFromBitmap");
    }
    return picture;
}

}  // namespace varek
