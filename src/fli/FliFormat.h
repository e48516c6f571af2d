#pragma once

#include <cstdint>

namespace varek {

// Chunk types of an FLI frame.
enum FliChunkType : std::int16_t {
    FLI_COLOR = 11,  // colour packets, 6-bit components
    FLI_LC = 12,     // line-compressed changes to the previous frame
    FLI_BLACK = 13,  // every pixel 0
    FLI_BRUN = 15,   // byte-run compressed full image
    FLI_COPY = 16,   // 64000 uncompressed pixels
};

constexpr std::int32_t kFliHeaderSize = 128;
constexpr std::int32_t kFliFrameCountOffset = 6;  // 16-bit, the ring frame not counted
constexpr std::int32_t kFliSpeedOffset = 16;      // 16-bit, the delay between frames in 1/70 s
constexpr std::int32_t kFliFrameHeaderSize = 16;
constexpr std::int32_t kFliChunkHeaderSize = 6;
constexpr std::int32_t kFliMagicOffset = 4;  // 16-bit, in the file and in each frame header
constexpr std::uint16_t kFliFileMagic = 0xAF11;
constexpr std::uint16_t kFlcFileMagic = 0xAF12;  // the later format with larger pictures
// The largest FLI file read: room for 16,000 uncompressed frames or hundreds of
// thousands of compressed ones, where animations of the format's time took a few
// megabytes; the same as the bound of the window's store of decoded frames.
constexpr std::uint64_t kMaxFliFileBytes = std::uint64_t{1} << 30;
constexpr std::uint16_t kFliFrameMagic = 0xF1FA;

constexpr bool IsDecodedChunkType(std::int16_t type) noexcept
{
    return type == FLI_COLOR || type == FLI_LC || type == FLI_BLACK || type == FLI_BRUN ||
           type == FLI_COPY;
}

}  // namespace varek
