#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// Builds a GIF file in memory one picture at a time, each with its own 256
// colours: the first picture's are the file's colour table, a picture whose colours
// differ carries its own. Pictures are shown exactly, and each after the first is
// stored as the smallest rectangle that changes, its unchanged pixels there
// transparent where an index is free for it; frames stay in place so rectangles
// build on each other. A picture that shows the same colours at every pixel as
// the one before adds its delay to that one's instead of becoming a frame. No
// frame is shorter than 2 hundredths, as browsers would show it for 10: a picture
// whose delay is shorter gives way to the next, which is shown for both delays
// (the last picture, when short, takes the frame of the one before), so the file
// keeps its total time. With two or more frames the file plays in a loop forever;
// a single picture is stored as a still GIF without a delay.
// Takes the bytes of a GIF file as they are made, in order; may throw.
using GifOutput = std::function<void(std::span<const std::uint8_t> bytes)>;

class GifWriter {
public:
    // Throws Error: Unsupported for a size without pixels, TooLarge past the
    // 65535 pixels a side a GIF file holds. With output, the file goes there in
    // pieces of 64 KiB as it is made instead of being kept whole, and what output
    // throws comes out of the call that was writing.
    GifWriter(std::int32_t width, std::int32_t height, GifOutput output = {});
    ~GifWriter();
    GifWriter(GifWriter&&) noexcept;
    GifWriter& operator=(GifWriter&&) noexcept;

    // Adds a picture shown for delay hundredths of a second (a negative delay
    // counts as 0; one past the 65535 a frame holds continues in frames that
    // change nothing). Throws Error: Unsupported for an image of another size than
    // the writer's, Truncated when it holds fewer pixels than its size, CannotWrite
    // when the encoder fails or the file is already finished.
    void AddPicture(const IndexedImage& image, const Palette& palette,
                    std::int64_t delayCentiseconds);
    // The same for pixels of the writer's size, top-down rows.
    void AddPicture(std::span<const std::uint8_t> pixels, const Palette& palette,
                    std::int64_t delayCentiseconds);

    // The whole file, or with an output the rest of it given there and an empty
    // array. Throws Error: NotFound when no picture was added,
    // CannotWrite when the encoder fails or the file is already finished.
    ByteArray Finish();

    // How many pictures were left out so far for being shorter than 2 hundredths.
    std::size_t MergedPictures() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A still GIF file of image in the 256 colours of palette. Throws Error as
// GifWriter does.
ByteArray EncodeGifImage(const IndexedImage& image, const Palette& palette);

}  // namespace varek
