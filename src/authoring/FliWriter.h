#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fli/FliFormat.h"
#include "fli/FrameStore.h"
#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// The pixels of one FLI frame as the writer takes them, row by row.
constexpr std::size_t kFramePixels = static_cast<std::size_t>(kFliWidth) * kFliHeight;
using FramePixels = std::array<std::uint8_t, kFramePixels>;

// One chunk as written: its type and payload; the 6-byte header is added.
struct FliChunkData {
    std::int16_t type = 0;
    ByteArray payload;

    bool operator==(const FliChunkData&) const = default;
};

struct FliFrameData {
    std::vector<FliChunkData> chunks;
};

// Payload encoders, one per chunk type.
// All 256 colours as one packet.
ByteArray EncodeColorChunk(const PaletteBlock& colors);
// Only the entries that differ from previous; empty when none does.
ByteArray EncodeColorChunk(const PaletteBlock& colors, const PaletteBlock& previous);
ByteArray EncodeBRUNChunk(const FramePixels& pixels);
// The rows from the first to the last that differ from previous, unchanged pixels
// skipped; an unchanged frame gives a chunk of 0 rows.
ByteArray EncodeLCChunk(const FramePixels& previous, const FramePixels& pixels);
ByteArray EncodeCopyChunk(const FramePixels& pixels);

// A whole file: the 128-byte header for 320 x 200 counting frames.size() frames,
// the frames, then ring (the closing frame leading back to the first) if given.
// Throws a TooLarge Error for more than 65535 frames.
// speed is the delay between frames in 1/70 s.
ByteArray WriteFLIFile(std::span<const FliFrameData> frames, std::uint16_t speed = 5,
                       const FliFrameData* ring = nullptr);

// A frame to animate: its pixels and its own 6-bit colour block.
struct AnimationFrame {
    FramePixels pixels{};
    PaletteBlock colors{};
};

// Chooses chunks for each frame: the first gets all colours and a byte-run image;
// each later one its changed colours and the smallest of line-compression, black,
// byte-run or uncompressed pixels. Every frame gets at least one decoded chunk, so
// decoding gives one record per frame, equal to it.
std::vector<FliFrameData> EncodeAnimation(std::span<const AnimationFrame> frames);

// EncodeAnimation written as a file with its ring frame.
ByteArray WriteAnimation(std::span<const AnimationFrame> frames, std::uint16_t speed = 5);

}  // namespace varek
