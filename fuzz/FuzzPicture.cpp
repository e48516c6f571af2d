// The window's picture conversion on any bytes held as a BMP image: either the
// bytes themselves, or the BMP builder's image of a width, height and pixels, or
// the raw pixels after a failed build. The bytes either read back as an image,
// which then becomes a picture showing those pixels in the palette, or give an Error.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "imaging/BmpImage.h"
#include "imaging/BmpReader.h"
#include "util/Error.h"
#include "window/QtPicture.h"

namespace {

varek::Palette PaletteOf(std::uint8_t seed)
{
    varek::Palette palette;
    for (std::size_t i = 0; i < varek::kPaletteEntries; ++i) {
        const auto level = static_cast<std::uint8_t>(i * 3 + seed);
        palette[i] = varek::MakeColor(level, static_cast<std::uint8_t>(level ^ 0x55),
                                      static_cast<std::uint8_t>(255 - level));
    }
    return palette;
}

void Check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

void Convert(const varek::ByteArray& bmp, const varek::Palette& palette)
{
    varek::IndexedImage expected;
    bool readable = true;
    try {
        expected = varek::ReadBmpPixels(bmp);
    } catch (const varek::Error&) {
        readable = false;
    }
    const bool hasPixels = readable && expected.width > 0 && expected.height > 0;

    if (!hasPixels) {
        Check(!readable || varek::ToQImage(expected, palette).isNull());
        return;
    }
    const QImage image = varek::ToQImage(expected, palette);
    const QPixmap picture = QPixmap::fromImage(image);
    Check(picture.width() == expected.width && picture.height() == expected.height);
    Check(image.format() == QImage::Format_Indexed8 && image.colorCount() == 256);
    for (int i = 0; i < 256; ++i) {
        const varek::ColorValue c = palette[static_cast<std::size_t>(i)];
        Check(image.color(i) == qRgb(varek::RedOf(c), varek::GreenOf(c), varek::BlueOf(c)));
    }
    const auto width = static_cast<std::size_t>(expected.width);
    for (int y = 0; y < image.height(); ++y) {
        Check(std::memcmp(image.constScanLine(y),
                          expected.pixels.data() + static_cast<std::size_t>(y) * width,
                          width) == 0);
    }
}

}  // namespace

// The picture needs a GUI application; one without a screen is made once.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static int argc = 1;
    static char name[] = "fuzz_picture";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
    return 0;
}

// The first byte chooses the form of the rest and the palette: an even byte, the
// rest is the BMP image; an odd one, a width and height of 16 bits each, then the
// pixels given to the BMP builder.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const varek::Palette palette = PaletteOf(data[0]);
    if ((data[0] & 1) == 0) {
        Convert(varek::ByteArray(data + 1, data + size), palette);
        return 0;
    }
    if (size < 5) {
        return 0;
    }
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::memcpy(&width, data + 1, 2);
    std::memcpy(&height, data + 3, 2);
    varek::ByteArray buffer(data + 5, data + size);
    try {
        buffer = varek::BuildBmpImage(width, height, buffer, palette);
    } catch (const varek::Error&) {
    }
    Convert(buffer, palette);
    return 0;
}
