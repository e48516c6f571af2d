// The window's picture conversion on any bytes held as a BMP image: either the
// bytes themselves, or what AddBMPHeader leaves in the caller's array for a width,
// height and pixels, including the raw pixels after a failed build. A picture is
// made exactly when the bytes read back as an image, and it shows those pixels.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "imaging/BmpImage.h"
#include "imaging/Picture.h"
#include "util/Error.h"
#include "window/QtPicture.h"

namespace {

class CountingReporter final : public varek::ErrorReporter {
public:
    void ReportError(std::string_view) override { ++reports; }
    int reports = 0;
};

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

    CountingReporter reporter;
    const QPixmap picture = varek::LoadPictureFromByteArray(bmp, palette, reporter);
    Check(picture.isNull() == !hasPixels);
    Check(reporter.reports == (readable ? 0 : 1));
    if (!hasPixels) {
        return;
    }
    Check(picture.width() == expected.width && picture.height() == expected.height);

    const QImage image = varek::ToQImage(expected, palette);
    Check(image.format() == QImage::Format_Indexed8 && image.colorCount() == 256);
    for (int i = 0; i < 256; ++i) {
        const varek::ColorValue c = palette[static_cast<std::size_t>(i)];
        Check(image.color(i) == qRgb(varek::RedOf(c), varek::GreenOf(c), varek::BlueOf(c)));
    }
    const auto width = static_cast<std::size_t>(expected.width);
    for (int y = 0; y < image.height(); ++y) {
        Check(std::memcmp(image.constScanLine(y),
                          expected.pixels.data() + static_cast<std::size_t>(y) * width, width) == 0);
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
// pixels given to AddBMPHeader.
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
    varek::SilentReporter silent;
    varek::AddBMPHeader(width, height, buffer, palette, silent);
    Convert(buffer, palette);
    return 0;
}
