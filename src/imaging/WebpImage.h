#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "imaging/ApngImage.h"
#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// Whether this build writes WebP files: it does when libwebp was found.
bool WebpSupported() noexcept;

// Builds a looping lossless animated WebP file, each picture in its own colours
// exact. Times are whole milliseconds: each frame starts at its exact start
// rounded to the nearest millisecond, so the running total never strays more
// than half a millisecond from the pictures' own, and a picture that would last
// no millisecond at all gives way to the next. libwebp's animation encoder
// keeps every frame it has encoded, compressed, until Finish: memory grows with
// the file's size, plus a few pictures of RGBA.
class WebpWriter {
public:
    // Throws Error: Unsupported for a size without pixels or in a build without
    // WebP, TooLarge past the 16383 pixels a side WebP holds.
    WebpWriter(std::int32_t width, std::int32_t height);
    ~WebpWriter();
    WebpWriter(WebpWriter&&) noexcept;
    WebpWriter& operator=(WebpWriter&&) noexcept;

    // Adds width x height top-down pixels in palette shown for time. Throws
    // Error: Truncated when pixels holds fewer, CannotWrite when the encoder fails
    // or the file is already finished.
    void AddPicture(std::span<const std::uint8_t> pixels, const Palette& palette, PictureTime time);

    // The whole file. Throws Error: NotFound when no picture was added,
    // CannotWrite as above.
    ByteArray Finish();
    // The same given to output, without a copy of the file; what output throws
    // comes out of the call.
    void Finish(const std::function<void(std::span<const std::uint8_t> bytes)>& output);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A still lossless WebP file of width x height top-down pixels in palette.
// Throws Error as WebpWriter does.
ByteArray EncodeWebpImage(std::int32_t width, std::int32_t height,
                          std::span<const std::uint8_t> pixels, const Palette& palette);

}  // namespace varek
