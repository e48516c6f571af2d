#pragma once

#include <chrono>
#include <cstdint>
#include <ratio>

namespace varek {

// Chunk types of an FLI or FLC frame.
enum FliChunkType : std::int16_t {
    FLC_COLOR_256 = 4,  // colour packets, 8-bit components
    FLC_DELTA = 7,      // word-oriented line changes to the previous frame
    FLI_COLOR = 11,     // colour packets, 6-bit components
    FLI_LC = 12,        // line-compressed changes to the previous frame
    FLI_BLACK = 13,     // every pixel 0
    FLI_BRUN = 15,      // byte-run compressed full image
    FLI_COPY = 16,      // width x height uncompressed pixels
    FLC_STAMP = 18,     // a small preview picture, never shown
};

// The file header, 128 bytes. Fields are little-endian.
constexpr std::int32_t kFliHeaderSize = 128;
constexpr std::int32_t kFliFileSizeOffset = 0;     // 32-bit, the whole file; where reading stops
constexpr std::int32_t kFliMagicOffset = 4;        // 16-bit, kFliFileMagic
constexpr std::int32_t kFliFrameCountOffset = 6;   // 16-bit unsigned, the ring frame not counted
constexpr std::int32_t kFliWidthOffset = 8;        // 16-bit, 320 in every FLI file
constexpr std::int32_t kFliHeightOffset = 10;      // 16-bit, 200 in every FLI file
constexpr std::int32_t kFliDepthOffset = 12;       // 16-bit, bits a pixel; 8, or 0 for 8
constexpr std::int32_t kFliSpeedOffset = 16;       // FLI: 16-bit 1/70 s; FLC: 32-bit ms
constexpr std::int32_t kFlcFirstFrameOffset = 80;  // FLC: 32-bit, where frame 1 starts
constexpr std::uint16_t kFliFileMagic = 0xAF11;
constexpr std::uint16_t kFlcFileMagic = 0xAF12;      // the later format, any frame size
constexpr std::uint16_t kFlcDeepFileMagic = 0xAF44;  // FLC of 15, 16 or 24-bit pixels
// A width or height of 0 means the size of every FLI file.
constexpr std::int32_t kFliWidth = 320;
constexpr std::int32_t kFliHeight = 200;
constexpr std::int32_t kFlicDepth = 8;
// The largest frame side read, the bound still pictures have too.
constexpr std::int32_t kMaxFrameSide = 4096;

// Frame durations are counted in 1/7000 s, which holds both the FLI's 1/70 s
// and the FLC's milliseconds exactly, so no rounding adds up over a long file.
using FrameDuration = std::chrono::duration<std::int64_t, std::ratio<1, 7000>>;
constexpr FrameDuration kFliTick{100};
constexpr FrameDuration kFlcMillisecond{7};
// A speed of 0 means 5 ticks in an FLI file and 1 tick in an FLC file.
constexpr std::int64_t kFliTicksWhenZero = 5;

// Each frame: a 16-byte header, then its chunks.
constexpr std::int32_t kFliFrameHeaderSize = 16;
constexpr std::int32_t kFliFrameSizeOffset = 0;        // 32-bit, the header included
constexpr std::int32_t kFliFrameMagicOffset = 4;       // 16-bit, kFliFrameMagic
constexpr std::int32_t kFliFrameChunkCountOffset = 6;  // 16-bit
constexpr std::int32_t kFlcFrameDelayOffset = 8;       // FLC: 16-bit ms, 0 for the speed
constexpr std::uint16_t kFliFrameMagic = 0xF1FA;
constexpr std::uint16_t kFlcPrefixMagic = 0xF100;  // settings of the authoring program

// Each chunk: a 6-byte header, then its payload.
constexpr std::int32_t kFliChunkHeaderSize = 6;
constexpr std::int32_t kFliChunkSizeOffset = 0;  // 32-bit, the header included
constexpr std::int32_t kFliChunkTypeOffset = 4;  // 16-bit, an FliChunkType

// Payloads. A colour chunk: a 16-bit packet count, then packets of a skip, a count
// (0 meaning 256) and count RGB triples. A line-compression chunk: the first row
// and the row count (16-bit each), then each row's packets.
constexpr std::int32_t kColorPacketCountOffset = 0;
constexpr std::int32_t kColorPacketsOffset = 2;
constexpr std::int64_t kColorCountOfZero = 256;
constexpr std::int32_t kLCFirstRowOffset = 0;
constexpr std::int32_t kLCRowCountOffset = 2;
constexpr std::int32_t kLCRowsOffset = 4;
// A packet's size byte is a signed count: from kRunSizeSign up it is negative,
// 256 - size pixels, a run in a line-compression chunk and literal bytes in a
// byte-run chunk.
constexpr std::uint8_t kRunSizeSign = 128;

// The most bytes of an FLI file read: room for 16,000 uncompressed frames or hundreds of
// thousands of compressed ones, where animations of the format's time took a few
// megabytes; the same as the bound of a store of decoded frames.
constexpr std::uint64_t kMaxFliFileBytes = std::uint64_t{1} << 30;

}  // namespace varek
