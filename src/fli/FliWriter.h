#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fli/FliFormat.h"
#include "fli/FrameStore.h"
#include "imaging/IndexedImage.h"
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
    // Milliseconds this frame lasts, in place of the file's speed; 0 leaves the
    // speed to rule. Only FLC readers look at it (offset 8 of the frame header).
    std::uint16_t delay = 0;
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

// FLC files: any frame size, 8-bit colour components, speed in milliseconds.

// The chunk types the FLC writer makes.
struct FlcWriterChunk {
    static constexpr std::int16_t kColor256 = 4;  // colour packets, 8-bit components
    static constexpr std::int16_t kDelta = 7;     // word-oriented changes to the previous frame
    static constexpr std::int16_t kBlack = 13;
    static constexpr std::int16_t kByteRun = 15;
    static constexpr std::int16_t kCopy = 16;
    static constexpr std::int16_t kPostageStamp = 18;  // a small preview, inside the first frame
    static constexpr std::uint16_t kPrefix = 0xF100;   // at frame level, before the first frame
};

// The colour packets of EncodeColorChunk serve the 256-level chunk as well: they
// carry the components as given, so pass 8-bit ones for kColor256.

// One line-skip, last-pixel and packet-count word stream per changed line, packets
// of pixel pairs. Lines are pairs up to the last even column; an odd width's last
// pixel goes through the last-pixel word. Unchanged lines are skipped; an unchanged
// picture gives a chunk of 0 lines. Throws a Corrupt Error unless both images have
// one size and a pixel for each place.
ByteArray EncodeFlcDeltaChunk(const IndexedImage& previous, const IndexedImage& picture);
// Byte-run lines of the image's width; each line's packet count byte holds the low
// eight bits of the count, as FLC writers leave it.
ByteArray EncodeFlcByteRunChunk(const IndexedImage& picture);
ByteArray EncodeFlcCopyChunk(const IndexedImage& picture);
// A preview at most 100 x 63 (the picture's aspect kept, never enlarged): height,
// width, a colour translation word of 1, then an uncompressed sub-chunk of the
// scaled-down indices.
ByteArray EncodePostageStampChunk(const IndexedImage& picture);

struct FlcHeader {
    std::uint16_t magic = kFlcFileMagic;
    std::uint16_t width = 320;
    std::uint16_t height = 200;
    std::uint16_t depth = 8;
    std::uint32_t speed = 70;  // milliseconds between frames
    // The payload of a prefix chunk written between the header and the first frame.
    std::optional<ByteArray> prefix;
};

// A whole FLC file: the 128-byte header (with the offsets of the first and second
// frame at 80 and 84), the prefix chunk if any, the frames, then ring if given.
// Throws a TooLarge Error for more than 65535 frames.
ByteArray WriteFLCFile(const FlcHeader& header, std::span<const FliFrameData> frames,
                       const FliFrameData* ring = nullptr);

// A frame to animate as FLC: its pixels at the file's size, its 8-bit colour block
// and its own delay in milliseconds (0: the file's speed).
struct FlcAnimationFrame {
    IndexedImage picture;
    PaletteBlock colors{};
    std::uint16_t delay = 0;
};

struct FlcOptions {
    std::uint32_t speed = 70;  // milliseconds between frames
    bool postageStamp = false;
    std::optional<ByteArray> prefix;
};

// As EncodeAnimation, at the pictures' own size: the first frame gets all colours
// (256-level) and a byte-run image (and the postage stamp when asked); each later
// one its changed colours and the smallest of the delta, black, byte-run or
// uncompressed pixels. Throws an Error when the pictures' sizes differ, are 0 or
// pass 65535.
std::vector<FliFrameData> EncodeFlcAnimation(std::span<const FlcAnimationFrame> frames,
                                             bool postageStamp = false);

// The frame that turns previous into frame, as EncodeFlcAnimation makes it: for
// writers that make frames one at a time.
FliFrameData EncodeFlcFrame(const FlcAnimationFrame& previous, const FlcAnimationFrame& frame);

// EncodeFlcAnimation written as a file with its ring frame.
ByteArray WriteFlcAnimation(std::span<const FlcAnimationFrame> frames,
                            const FlcOptions& options = {});

}  // namespace varek
