#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace varek {

// red + 256 * green + 65536 * blue, 8 bits each, top byte 0.
using ColorValue = std::uint32_t;

constexpr std::size_t kPaletteEntries = 256;
constexpr std::size_t kPaletteBlockSize = 768;  // 256 red, green, blue triplets, 6-bit each

// Where the colour block lies in the game's files.
constexpr std::size_t kPaletteFileBlockOffset = 0;
constexpr std::size_t kStillArtBlockOffset = 32;

struct Palette {
    std::array<ColorValue, kPaletteEntries> Colors{};

    ColorValue& operator[](std::size_t index) { return Colors[index]; }
    const ColorValue& operator[](std::size_t index) const { return Colors[index]; }
    bool operator==(const Palette&) const = default;
};

constexpr ColorValue MakeColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) noexcept
{
    return static_cast<ColorValue>(red) | (static_cast<ColorValue>(green) << 8) |
           (static_cast<ColorValue>(blue) << 16);
}
constexpr std::uint8_t RedOf(ColorValue c) noexcept { return static_cast<std::uint8_t>(c); }
constexpr std::uint8_t GreenOf(ColorValue c) noexcept { return static_cast<std::uint8_t>(c >> 8); }
constexpr std::uint8_t BlueOf(ColorValue c) noexcept { return static_cast<std::uint8_t>(c >> 16); }

// A 6-bit VGA component c becomes 4 * c, capped at 255: 63 gives 252, 64 and above 255.
constexpr std::uint8_t VgaComponent(std::uint8_t c) noexcept
{
    return c >= 64 ? std::uint8_t{255} : static_cast<std::uint8_t>(c * 4);
}

constexpr ColorValue VgaColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) noexcept
{
    return MakeColor(VgaComponent(red), VgaComponent(green), VgaComponent(blue));
}

struct DecodedPalette {
    Palette palette;
    // Entries whose three bytes all lay inside the source; the rest are black.
    std::size_t entriesRead = 0;

    bool complete() const noexcept { return entriesRead == kPaletteEntries; }
};

// Reads the 768-byte colour block at offset. Never reads past the end of bytes:
// an entry that does not lie wholly inside them is black.
DecodedPalette DecodePaletteBlock(std::span<const std::uint8_t> bytes, std::size_t offset);

// Raw 6-bit triplets of a palette, the inverse of the colour rule for values 0..252
// that are multiples of 4; used to write the game's formats.
using PaletteBlock = std::array<std::uint8_t, kPaletteBlockSize>;
Palette PaletteFromBlock(const PaletteBlock& block);

}  // namespace varek
