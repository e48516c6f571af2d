#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "fli/FliFormat.h"
#include "fli/FrameStore.h"
#include "util/ErrorReporter.h"

namespace varek {

// One chunk of a frame: where its header lies, its declared size including the
// 6-byte header, its type, and its payload (a view into the file's bytes).
struct FLIChunk {
    std::int32_t Position = 0;
    std::int32_t Size = 0;
    std::int16_t Type = 0;
    std::span<const std::uint8_t> Data;
};

// A frame header: its size including the 16-byte header, magic and chunk count.
struct FLIFrame {
    std::int32_t Position = 0;
    std::int32_t Size = 0;
    std::uint16_t Magic = 0;
    std::int16_t Chunks = 0;
};

// Colour packets into record.Colors. Throws Error on a packet past colour 255 or
// past the payload, after writing the colours before it.
void DecodeColorChunk(const FLIChunk& chunk, FrameRecord& record);

// Line-compressed changes into record.Pixels. Never throws: a fault is reported
// as "Error: " + its description, and the pixels written before it stay.
void DecodeLCChunk(const FLIChunk& chunk, FrameRecord& record, ErrorReporter& reporter);

// A byte-run compressed image of 200 rows into record.Pixels. Throws Error on a
// read past the payload or a write past pixel 63999, after writing what fitted.
void DecodeBRUNChunk(const FLIChunk& chunk, FrameRecord& record);

// 64000 uncompressed pixels; a shorter payload throws after copying what is there.
void DecodeCopyChunk(const FLIChunk& chunk, FrameRecord& record);

// Every pixel 0; the colours stay.
void DecodeBlackChunk(FrameRecord& record);

// Runs the decoder for the chunk's type on record; other types are ignored.
void DecodeChunk(const FLIChunk& chunk, FrameRecord& record, ErrorReporter& reporter);

// Resets store and decodes every frame of an FLI file held in bytes. Each frame
// holding a decoded chunk gets one record of its own, made by AddFrame when its
// first decoded chunk is reached; the frame's chunks then work on that record in
// file order. Exactly the header's frame count is read. A frame's chunks are read
// within the frame: a chunk whose declared size passes the frame's end is cut at
// it. Throws Error for a header or payload past the end of bytes, a frame size
// below 16, a chunk size below 6, a fault in the colour, byte-run or copy decoder,
// or a store that would pass its bound; the records made before stay in store.
void DecodeFLIFile(std::span<const std::uint8_t> bytes, FrameStore& store,
                   ErrorReporter& reporter);

// Reads the file whole and decodes it as DecodeFLIFile does. A missing or empty
// file is the one zero byte of ReadFileBytes, too short for a header.
void LoadFLIFile(const std::filesystem::path& path, FrameStore& store, ErrorReporter& reporter);

}  // namespace varek
