#include "imaging/ColorMapping.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "util/Error.h"

namespace varek {

namespace {

std::string ColorText(ColorValue c)
{
    return std::to_string(RedOf(c)) + " " + std::to_string(GreenOf(c)) + " " +
           std::to_string(BlueOf(c));
}

int LargestComponentDifference(ColorValue a, ColorValue b)
{
    return std::max({std::abs(RedOf(a) - RedOf(b)), std::abs(GreenOf(a) - GreenOf(b)),
                     std::abs(BlueOf(a) - BlueOf(b))});
}

}  // namespace

std::int64_t ColorDistance(ColorValue a, ColorValue b) noexcept
{
    const std::int64_t redMean = (RedOf(a) + RedOf(b)) / 2;
    const std::int64_t red = RedOf(a) - RedOf(b);
    const std::int64_t green = GreenOf(a) - GreenOf(b);
    const std::int64_t blue = BlueOf(a) - BlueOf(b);
    return (((512 + redMean) * red * red) >> 8) + 4 * green * green +
           (((767 - redMean) * blue * blue) >> 8);
}

IndexedImage MapToPalette(const DecodedImage& image, const Palette& palette,
                          const MappingOptions& options, MappingReport& report)
{
    report = MappingReport{};
    IndexedImage mapped;
    mapped.width = image.width;
    mapped.height = image.height;
    const std::size_t count = image.PixelCount();
    if (image.indexed() && image.colors.size() <= kPaletteEntries &&
        std::equal(image.colors.begin(), image.colors.end(), palette.Colors.begin())) {
        report.indicesKept = true;
        mapped.pixels = image.indices;
        return mapped;
    }
    // Every colour an image uses gets its index once; most images use a few dozen.
    std::unordered_map<ColorValue, std::uint8_t> exact;
    for (std::size_t i = kPaletteEntries; i-- > 0;) {
        if (!options.reserved[i]) {
            exact[palette[i]] = static_cast<std::uint8_t>(i);
        }
    }
    if (exact.empty()) {
        throw Error(ErrorKind::Unsupported, "every index of the palette is reserved");
    }
    std::unordered_map<ColorValue, std::uint8_t> nearest;
    std::size_t foreignPixels = 0;
    std::size_t firstForeign = 0;
    mapped.pixels.resize(count);
    for (std::size_t pixel = 0; pixel < count; ++pixel) {
        const ColorValue color = image.ColorAt(pixel);
        if (const auto found = exact.find(color); found != exact.end()) {
            mapped.pixels[pixel] = found->second;
            continue;
        }
        if (foreignPixels++ == 0) {
            firstForeign = pixel;
        }
        auto [place, added] = nearest.try_emplace(color, 0);
        if (added && options.quantize) {
            std::int64_t best = -1;
            for (std::size_t i = 0; i < kPaletteEntries; ++i) {
                const std::int64_t distance = ColorDistance(color, palette[i]);
                if (!options.reserved[i] && (best < 0 || distance < best)) {
                    best = distance;
                    place->second = static_cast<std::uint8_t>(i);
                }
            }
            report.largestError = std::max(
                report.largestError, LargestComponentDifference(color, palette[place->second]));
        }
        mapped.pixels[pixel] = place->second;
    }
    if (foreignPixels > 0 && !options.quantize) {
        const std::size_t width = static_cast<std::size_t>(std::max(image.width, 1));
        throw Error(
            ErrorKind::Unsupported,
            std::to_string(nearest.size()) + (nearest.size() == 1 ? " colour is" : " colours are") +
                " not in the palette; the first, " + ColorText(image.ColorAt(firstForeign)) +
                ", is at column " + std::to_string(firstForeign % width) + ", row " +
                std::to_string(firstForeign / width));
    }
    report.changedPixels = foreignPixels;
    report.changedColors = nearest.size();
    return mapped;
}

PaletteBlock ToVgaLevels(std::span<const ColorValue> colors, const PaletteBlock* keep,
                         bool quantize, std::size_t& adjusted)
{
    if (colors.size() > kPaletteEntries) {
        throw Error(ErrorKind::TooLarge, "a palette holds at most 256 colours");
    }
    PaletteBlock block{};
    if (keep != nullptr) {
        block = *keep;
    }
    adjusted = 0;
    for (std::size_t entry = 0; entry < colors.size(); ++entry) {
        const std::uint8_t components[3] = {RedOf(colors[entry]), GreenOf(colors[entry]),
                                            BlueOf(colors[entry])};
        bool moved = false;
        for (std::size_t c = 0; c < 3; ++c) {
            std::uint8_t& level = block[3 * entry + c];
            const std::uint8_t value = components[c];
            if (keep != nullptr && VgaComponent((*keep)[3 * entry + c]) == value) {
                continue;
            }
            if (value % 4 == 0 && value <= 252) {
                level = static_cast<std::uint8_t>(value / 4);
                continue;
            }
            if (!quantize) {
                throw Error(ErrorKind::Unsupported,
                            "colour " + std::to_string(entry) + " (" + ColorText(colors[entry]) +
                                ") is none the game's 6-bit palette shows: each component must be "
                                "a multiple of 4 up to 252");
            }
            level = static_cast<std::uint8_t>(std::min((value + 2) / 4, 63));
            moved = true;
        }
        adjusted += moved ? 1 : 0;
    }
    return block;
}

}  // namespace varek
