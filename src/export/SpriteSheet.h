#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imaging/Palette.h"
#include "imaging/PngRowWriter.h"

namespace varek {

// A picture's place on a sprite sheet, in the sheet's pixels.
struct SheetCell {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool operator==(const SheetCell&) const = default;
};

struct SheetSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool operator==(const SheetSize&) const = default;
};

struct SheetLayout {
    SheetSize size;
    std::vector<SheetCell> cells;      // one a picture, in the pictures' order
    std::vector<std::size_t> rowEnds;  // the index of the first cell after each row

    bool operator==(const SheetLayout&) const = default;
};

// The layout of pictures of the given sizes on one sheet: in order, left to
// right, rows of columns pictures (0: the smallest square grid that holds them,
// as many columns as the square root of the count rounded up). Each picture
// stands right of the one before at its row's top, and each row is as tall as
// its tallest picture, so pictures of one size form an even grid. Throws Error
// (TooLarge) for a sheet wider or taller than a PNG file is written.
SheetLayout LayOutSheet(std::span<const SheetSize> pictures, int columns);

// A frame of a sprite sheet as the JSON tells it.
struct SheetFrame {
    std::string name;
    SheetCell cell;
    std::optional<std::int64_t> milliseconds;  // how long it shows; none for a still
};

// The sheet's description in the "JSON array" layout of sprite-sheet packers,
// which game engines and their importers read: "frames", an array of objects
// with "filename", "frame" {x, y, w, h}, "rotated", "trimmed", "spriteSourceSize",
// "sourceSize" and, for animation frames, "duration" in milliseconds; "meta" with
// "app", "image" (the sheet's file name), "format" ("I8" for indexed, "RGB888"),
// "size" {w, h} and "scale" (the factor the pictures were enlarged by, as a
// string, as the packers write it). Names are written as UTF-8, a byte that is no
// UTF-8 as U+FFFD.
std::string DescribeSheet(std::span<const SheetFrame> frames, const std::string& imageName,
                          SheetSize size, bool indexed, int scale);

// Writes a sprite sheet as a PNG file, taking its pictures one at a time in the
// layout's order and holding only one row of them: 8-bit indexed in palette when
// one is given (every picture must be in its colours), RGB otherwise. Each
// picture is enlarged scale times; the layout's cells are of the enlarged
// pictures. What no picture covers is index 0, or black.
class SheetWriter {
public:
    // Throws as PngRowWriter does.
    SheetWriter(const SheetLayout& layout, int scale, const std::optional<Palette>& palette,
                PngOutput output);

    // The next picture, of width x height top-down pixels in palette. Throws
    // Error: Unsupported when it is not the size its cell needs or there are no
    // more cells, and as PngRowWriter does.
    void Add(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
             const Palette& palette);

    // Ends the file once every picture is added. Throws as PngRowWriter does.
    void Finish();

private:
    struct Held {
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::vector<std::uint8_t> pixels;
        Palette palette;
    };

    void WriteHeldRow();

    const SheetLayout& m_layout;
    int m_scale;
    bool m_indexed;
    PngRowWriter m_png;
    std::size_t m_next = 0;      // the cell of the next picture
    std::size_t m_rowStart = 0;  // the first cell of the row being held
    std::size_t m_row = 0;
    std::vector<Held> m_held;  // the pictures of the row being held, their buffers reused
    std::vector<std::uint8_t> m_line;
};

}  // namespace varek
