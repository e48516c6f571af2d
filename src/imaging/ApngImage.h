#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ratio>
#include <span>

#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// How long a picture of an animation lasts: 1/70 s and whole milliseconds are
// whole numbers of this unit.
using PictureTime = std::chrono::duration<std::int64_t, std::ratio<1, 7000>>;

// Where an animated file goes as it is made: append takes the bytes in order,
// rewrite puts bytes over some already appended, offset counted from the file's
// start. Either may throw.
struct AnimationOutput {
    std::function<void(std::span<const std::uint8_t> bytes)> append;
    std::function<void(std::uint64_t offset, std::span<const std::uint8_t> bytes)> rewrite;
};

// Builds a looping animated PNG (APNG) one picture at a time, each shown for its
// exact time: delays are fractions of a second, 1/70 s and milliseconds exact.
// Given a palette, the file is 8-bit indexed in those colours and every picture
// must show them; otherwise it is 32-bit RGBA, each picture in its own colours.
// The first picture is the file's default image; each later one is stored as the
// smallest rectangle that changes, either replacing what was there or, where a
// transparent colour is to hand (always in RGBA; in indexed files the index given
// as free), drawn over it with its unchanged pixels transparent, whichever packs
// smaller; each frame is left in place for the next. A picture showing the same as the one before
// adds its time to that one's frame. A time longer than the 65535/den seconds a frame holds goes on
// in frames of 9 seconds that redraw one pixel as it is.
class ApngWriter {
public:
    // Throws Error: Unsupported for a size without pixels, TooLarge past the
    // million pixels a side the PNG writer takes. freeIndex, for an indexed file,
    // is an index no picture shows. Without an output the file is kept whole.
    ApngWriter(std::int32_t width, std::int32_t height, std::optional<Palette> shared,
               std::optional<std::uint8_t> freeIndex = std::nullopt, AnimationOutput output = {});
    ~ApngWriter();
    ApngWriter(ApngWriter&&) noexcept;
    ApngWriter& operator=(ApngWriter&&) noexcept;

    // Adds width x height top-down pixels in palette shown for time (at least one
    // unit). Throws Error: Truncated when pixels holds fewer, Unsupported when an
    // indexed file is given other colours, CannotWrite after Finish or when the
    // output fails.
    void AddPicture(std::span<const std::uint8_t> pixels, const Palette& palette, PictureTime time);

    // The whole file, or with an output the rest given there and an empty array.
    // Throws Error: NotFound when no picture was added, CannotWrite as above.
    ByteArray Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace varek
