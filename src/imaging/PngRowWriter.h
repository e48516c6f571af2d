#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "imaging/Palette.h"

namespace varek {

// Takes the bytes of a PNG file as they are made, in order; may throw.
using PngOutput = std::function<void(std::span<const std::uint8_t> bytes)>;

// Writes a PNG file a row at a time, for images too large to hold whole: 8-bit
// indexed in the 256 colours of a palette, or 8-bit RGB without one. Rows are
// filtered and compressed as EncodePngImage does it, in blocks on other threads,
// a few blocks of a few MiB held at a time.
class PngRowWriter {
public:
    // Throws Error: Unsupported for a size without pixels, TooLarge past the
    // 1,000,000 pixels a side PNG readers take; what output throws.
    PngRowWriter(std::int32_t width, std::int32_t height, const std::optional<Palette>& palette,
                 PngOutput output);
    ~PngRowWriter();
    PngRowWriter(const PngRowWriter&) = delete;
    PngRowWriter& operator=(const PngRowWriter&) = delete;

    // The next row: width bytes of palette indices, or width * 3 of red, green
    // and blue. Throws Error: Truncated for a shorter row, CannotWrite when the
    // encoder fails, every row is written already or an earlier call failed;
    // what output throws comes out as it was thrown.
    void WriteRow(std::span<const std::uint8_t> row);

    // Ends the file once every row is written. Throws as WriteRow does, and
    // CannotWrite when rows are missing.
    void Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace varek
