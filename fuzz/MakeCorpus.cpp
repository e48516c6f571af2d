// Writes structure-aware inputs for the fuzz targets: valid files made by the
// project's writers, cut at their structural boundaries and with header fields
// set to extreme values. With --regression only the small, interesting ones that
// are kept in the repository; otherwise also every truncation, as fuzzer seeds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "art/ArtFiles.h"
#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
#include "imaging/BmpImage.h"
#include "imaging/GifImage.h"
#include "imaging/PaletteFile.h"
#include "imaging/PngImage.h"
#include "util/ByteReader.h"
#include "util/ByteWriter.h"

namespace fs = std::filesystem;
using namespace varek;

namespace {

fs::path g_out;
bool g_everything = false;
std::size_t g_written = 0;

void Emit(const std::string& target, const std::string& name, const ByteArray& bytes)
{
    const fs::path folder = g_out / target;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ++g_written;
}

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

ByteArray Patched16(ByteArray bytes, std::size_t at, std::uint16_t value)
{
    if (at + 2 <= bytes.size()) {
        StoreU16(bytes.data() + at, value);
    }
    return bytes;
}

ByteArray Patched32(ByteArray bytes, std::size_t at, std::uint32_t value)
{
    if (at + 4 <= bytes.size()) {
        StoreU32(bytes.data() + at, value);
    }
    return bytes;
}

ByteArray Prefix(const ByteArray& bytes, std::size_t length)
{
    return ByteArray(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// A small picture whose byte-run and line-compressed forms stay small.
FramePixels Picture(int phase)
{
    FramePixels pixels{};
    for (int y = 0; y < kFliHeight; ++y) {
        for (int x = 0; x < kFliWidth; ++x) {
            const bool inside = (x - 100 - phase) * (x - 100 - phase) + (y - 90) * (y - 90) < 900;
            pixels[static_cast<std::size_t>(y * kFliWidth + x)] =
                static_cast<std::uint8_t>(inside ? 200 + phase : y / 20);
        }
    }
    return pixels;
}

// Sixteen colours, so a colour chunk of the changed entries stays small.
PaletteBlock Colours(int shift)
{
    PaletteBlock block{};
    for (std::size_t i = 3; i < 48; ++i) {
        block[i] =
            static_cast<std::uint8_t>((i / 3 + static_cast<std::size_t>(shift) * (i % 3)) % 64);
    }
    return block;
}

struct Layout {
    ByteArray bytes;
    std::vector<std::size_t> frameStarts;
    std::vector<std::size_t> chunkStarts;
};

// Frames: colour + byte-run; line compression; colour + line compression;
// black; uncompressed; a chunk of an ignored type; no chunk.
Layout ValidFli()
{
    const FramePixels first = Picture(0);
    const FramePixels second = Picture(8);
    const FramePixels third = Picture(16);
    std::vector<FliFrameData> frames(7);
    frames[0].chunks = {{FLI_COLOR, EncodeColorChunk(Colours(0), PaletteBlock{})},
                        {FLI_BRUN, EncodeBRUNChunk(first)}};
    frames[1].chunks = {{FLI_LC, EncodeLCChunk(first, second)}};
    frames[2].chunks = {{FLI_COLOR, EncodeColorChunk(Colours(1), Colours(0))},
                        {FLI_LC, EncodeLCChunk(second, third)}};
    frames[3].chunks = {{FLI_BLACK, {}}};
    FramePixels stripes{};
    for (std::size_t i = 0; i < stripes.size(); i += 7) {
        stripes[i] = 9;
    }
    frames[4].chunks = {{FLI_COPY, EncodeCopyChunk(stripes)}};
    frames[5].chunks = {{14, ByteArray{1, 2, 3}}};
    Layout layout;
    layout.bytes = WriteFLIFile(frames);
    // Walk what was written to find every frame and chunk header.
    std::size_t at = 128;
    for (const FliFrameData& frame : frames) {
        layout.frameStarts.push_back(at);
        std::size_t chunkAt = at + 16;
        for (const FliChunkData& chunk : frame.chunks) {
            layout.chunkStarts.push_back(chunkAt);
            chunkAt += 6 + chunk.payload.size();
        }
        at = chunkAt;
    }
    return layout;
}

void FliInputs()
{
    const Layout valid = ValidFli();
    const ByteArray& bytes = valid.bytes;
    // The large uncompressed frame is left out of the files cut at every length.
    const ByteArray small = Patched16(Prefix(bytes, valid.frameStarts[4]), 6, 4);
    Emit("fli", "valid-four-frames.fli", small);
    if (g_everything) {
        Emit("fli", "valid.fli", bytes);
        for (std::size_t length = 0; length < small.size(); ++length) {
            Emit("fli", "prefix-" + std::to_string(length) + ".fli", Prefix(small, length));
        }
    }

    // Cut at and beside every structural boundary.
    std::vector<std::size_t> cuts = {0, 1, 6, 7, 8, 127, 128};
    for (const std::size_t start : valid.frameStarts) {
        cuts.insert(cuts.end(), {start + 1, start + 8, start + 15, start + 16, start + 17});
    }
    for (const std::size_t start : valid.chunkStarts) {
        cuts.insert(cuts.end(), {start + 3, start + 6, start + 7});
    }
    for (const std::size_t cut : cuts) {
        if (cut < small.size()) {
            Emit("fli", "cut-" + std::to_string(cut) + ".fli", Prefix(small, cut));
        }
    }

    for (const int count : {-1, 0, 1, 32767, -32768}) {
        Emit("fli", "frame-count-" + std::to_string(count) + ".fli",
             Patched16(small, 6, static_cast<std::uint16_t>(count)));
    }
    const std::uint32_t sizes[] = {
        0,  5,           6,           15,          16,
        17, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, static_cast<std::uint32_t>(small.size() + 100)};
    for (std::size_t f = 0; f < 3; ++f) {
        const std::size_t start = valid.frameStarts[f];
        for (const std::uint32_t size : sizes) {
            Emit("fli", "frame" + std::to_string(f) + "-size-" + Hex(size) + ".fli",
                 Patched32(small, start, size));
        }
        for (const std::uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
            for (std::size_t field = 0; field < 8; ++field) {
                ByteArray changed = small;
                changed[start + field] = value;
                Emit("fli",
                     "frame" + std::to_string(f) + "-byte" + std::to_string(field) + "-" +
                         Hex(value) + ".fli",
                     changed);
            }
        }
    }
    for (std::size_t c = 0; c < 4; ++c) {
        const std::size_t start = valid.chunkStarts[c];
        for (const std::uint32_t size : sizes) {
            Emit("fli", "chunk" + std::to_string(c) + "-size-" + Hex(size) + ".fli",
                 Patched32(small, start, size));
        }
        for (const std::uint16_t type : {0, 11, 12, 13, 14, 15, 16, 0x7FFF, 0xFFFF}) {
            Emit("fli", "chunk" + std::to_string(c) + "-type-" + std::to_string(type) + ".fli",
                 Patched16(small, start + 4, type));
        }
    }
    for (const std::uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
        for (std::size_t field = 0; field < 8; ++field) {
            ByteArray changed = small;
            changed[field] = value;
            Emit("fli", "header-byte" + std::to_string(field) + "-" + Hex(value) + ".fli", changed);
        }
    }
}

// An FLC of an odd width: a prefix chunk; a first frame of 256-level colours, a
// postage stamp and a byte-run image; a delta with the last-pixel word and line
// skips; new colours with an uncompressed image; black with its own delay.
Layout ValidFlc()
{
    auto picture = [](int phase) {
        IndexedImage image{33, 7, ByteArray(33 * 7)};
        for (std::size_t i = 0; i < image.pixels.size(); ++i) {
            image.pixels[i] = static_cast<std::uint8_t>((i % 33) / 4 + phase);
        }
        return image;
    };
    std::vector<FlcAnimationFrame> pictures(4);
    pictures[0] = {picture(0), Colours(0)};
    pictures[1] = {picture(0), Colours(0)};
    for (const std::size_t at : {32, 2 * 33 + 5, 2 * 33 + 6, 5 * 33 + 32}) {
        pictures[1].picture.pixels[at] = 99;
    }
    pictures[2] = {picture(0), Colours(1)};
    for (std::size_t i = 0; i < pictures[2].picture.pixels.size(); ++i) {
        pictures[2].picture.pixels[i] = static_cast<std::uint8_t>(i * 37 + i / 5);
    }
    pictures[3] = {IndexedImage{33, 7, ByteArray(33 * 7)}, Colours(1), 500};
    FlcHeader header;
    header.width = 33;
    header.height = 7;
    header.prefix = ByteArray(10, 0);
    const std::vector<FliFrameData> frames = EncodeFlcAnimation(pictures, true);
    const FliFrameData ring = EncodeFlcFrame(pictures.back(), pictures.front());
    Layout layout;
    layout.bytes = WriteFLCFile(header, frames, &ring);
    std::size_t at = 128 + 6 + header.prefix->size();
    for (const FliFrameData& frame : frames) {
        layout.frameStarts.push_back(at);
        std::size_t chunkAt = at + 16;
        for (const FliChunkData& chunk : frame.chunks) {
            layout.chunkStarts.push_back(chunkAt);
            chunkAt += 6 + chunk.payload.size();
        }
        at = chunkAt;
    }
    return layout;
}

void FlcInputs()
{
    const Layout valid = ValidFlc();
    const ByteArray& bytes = valid.bytes;
    Emit("fli", "flc-33x7.flc", bytes);
    if (g_everything) {
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            Emit("fli", "flc-prefix-" + std::to_string(length) + ".flc", Prefix(bytes, length));
        }
    }
    std::vector<std::size_t> cuts = {12, 80, 128, 134, 137};
    for (const std::size_t start : valid.frameStarts) {
        cuts.insert(cuts.end(), {start + 9, start + 16});
    }
    for (const std::size_t start : valid.chunkStarts) {
        cuts.push_back(start + 7);
    }
    for (const std::size_t cut : cuts) {
        Emit("fli", "flc-cut-" + std::to_string(cut) + ".flc", Prefix(bytes, cut));
    }
    // Depths and variants refused by name, sizes at and past the bounds.
    for (const std::uint16_t depth : {0, 1, 15, 16, 24}) {
        Emit("fli", "flc-depth-" + std::to_string(depth) + ".flc", Patched16(bytes, 12, depth));
    }
    Emit("fli", "flc-magic-af44.flc", Patched16(bytes, 4, 0xAF44));
    for (const std::uint16_t size : {0, 1, 4096, 4097, 0xFFFF}) {
        Emit("fli", "flc-width-" + Hex(size) + ".flc", Patched16(bytes, 8, size));
        Emit("fli", "flc-height-" + Hex(size) + ".flc", Patched16(bytes, 10, size));
    }
    Emit("fli", "flc-4096x4096.flc", Patched16(Patched16(bytes, 8, 4096), 10, 4096));
    // The first frame's offset: none, inside the header, at the prefix chunk, at
    // the end, past it.
    const auto size = static_cast<std::uint32_t>(bytes.size());
    for (const std::uint32_t offset : {0u, 127u, 128u, size, 0xFFFFFFFFu}) {
        Emit("fli", "flc-first-frame-at-" + Hex(offset) + ".flc", Patched32(bytes, 80, offset));
    }
    for (const std::uint32_t speed : {0u, 1u, 0xFFFFFFFFu}) {
        Emit("fli", "flc-speed-" + Hex(speed) + ".flc", Patched32(bytes, 16, speed));
    }
    Emit("fli", "flc-delay-ffff.flc", Patched16(bytes, valid.frameStarts[1] + 8, 0xFFFF));
    Emit("fli", "flc-prefix-size-ffffffff.flc", Patched32(bytes, 128, 0xFFFFFFFFu));
    for (std::size_t c = 0; c < valid.chunkStarts.size(); ++c) {
        const std::size_t start = valid.chunkStarts[c];
        for (const std::uint32_t chunkSize : {0u, 6u, 7u, 0xFFFFFFFFu}) {
            Emit("fli", "flc-chunk" + std::to_string(c) + "-size-" + Hex(chunkSize) + ".flc",
                 Patched32(bytes, start, chunkSize));
        }
        for (const std::uint16_t type : {4, 7, 11, 12, 15, 16, 18}) {
            Emit("fli", "flc-chunk" + std::to_string(c) + "-type-" + std::to_string(type) + ".flc",
                 Patched16(bytes, start + 4, type));
        }
    }
    // The smallest picture and the widest one, in a frame each.
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{4096, 1}}) {
        FlcAnimationFrame frame{
            IndexedImage{width, height, ByteArray(static_cast<std::size_t>(width), 3)}, Colours(2)};
        Emit("fli", "flc-" + std::to_string(width) + "x" + std::to_string(height) + ".flc",
             WriteFlcAnimation(std::span(&frame, 1)));
    }
}

// One frame holding one chunk, for payloads the writer never makes.
ByteArray OneChunk(std::int16_t type, const ByteArray& payload)
{
    const FliFrameData frame{{{type, payload}}};
    return WriteFLIFile(std::span(&frame, 1));
}

void ChunkInputs()
{
    auto emit = [](const std::string& name, std::uint8_t selector, std::int16_t type,
                   const ByteArray& payload) {
        ByteArray input{selector};
        input.insert(input.end(), payload.begin(), payload.end());
        Emit("chunks", name, input);
        Emit("fli", "one-" + name + ".fli", OneChunk(type, payload));
    };
    // Colour packets running past 255, counts 0 meaning 256, negative counts.
    emit("color-past-255", 0, FLI_COLOR, {1, 0, 200, 100});
    emit("color-256-then-1", 0, FLI_COLOR, [] {
        ByteArray p{2, 0, 0, 0};
        p.insert(p.end(), 768, 63);
        p.insert(p.end(), {0, 1, 64, 64, 64});
        return p;
    }());
    emit("color-count-minus-32768", 0, FLI_COLOR, {0x00, 0x80, 0, 1, 1, 2, 3});
    emit("color-count-minus-1", 0, FLI_COLOR, {0xFF, 0xFF, 0, 1, 1, 2, 3});
    emit("color-short-triple", 0, FLI_COLOR, {1, 0, 0, 2, 10, 20, 30, 40});
    for (const std::uint16_t row : {199, 200, 65535}) {
        // First row, one row, one packet: skip 0, replicate 3 pixels.
        emit("lc-first-row-" + std::to_string(row), 1, FLI_LC,
             {static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(row >> 8), 1, 0, 1, 0, 0xFD,
              42});
    }
    emit("lc-rows-beyond-image-empty", 1, FLI_LC, [] {
        ByteArray p{190, 0, 40, 0};
        p.insert(p.end(), 40, 0);
        return p;
    }());
    emit("lc-copy-past-payload", 1, FLI_LC, {0, 0, 1, 0, 1, 0, 100, 1, 2, 3});
    emit("lc-skip-past-image", 1, FLI_LC, [] {
        ByteArray p{199, 0, 1, 0, 255};
        for (int i = 0; i < 255; ++i) {
            p.insert(p.end(), {255, 0});
        }
        return p;
    }());
    emit("brun-row-overrun", 3, FLI_BRUN, [] {
        ByteArray p;
        for (int row = 0; row < 200; ++row) {
            p.insert(p.end(), {4, 127, 1, 127, 2, 127, 3, 0x80});
            p.insert(p.end(), 128, 4);
        }
        return p;
    }());
    emit("brun-image-overrun", 3, FLI_BRUN, [] {
        ByteArray p{255};
        for (int i = 0; i < 255; ++i) {
            p.insert(p.end(), {127, 7});
        }
        return p;
    }());
    emit("brun-short", 3, FLI_BRUN, {1, 0x80, 1, 2});
    emit("copy-short", 4, FLI_COPY, ByteArray(1000, 5));
    emit("black", 2, FLI_BLACK, {});
}

// FLC chunks for the chunk target, on a 33 x 7 record: every chunk the writer
// made for the FLC above, and payloads it never makes.
void FlcChunkInputs()
{
    // The chunk target's selector of each FLC type, then width - 1 and height - 1.
    const auto selector = [](std::int16_t type) -> std::uint8_t {
        switch (type) {
            case FLC_COLOR_256:
                return 6;
            case FLC_DELTA:
                return 7;
            case FLI_BRUN:
                return 8;
            case FLI_COPY:
                return 9;
            case FLI_BLACK:
                return 10;
            default:
                return 11;
        }
    };
    FlcHeader header;
    header.width = 33;
    header.height = 7;
    auto emit = [&](const std::string& name, std::int16_t type, const ByteArray& payload) {
        ByteArray input{selector(type), 32, 6};
        input.insert(input.end(), payload.begin(), payload.end());
        Emit("chunks", "flc-" + name, input);
        const FliFrameData frame{{{type, payload}}};
        Emit("fli", "flc-one-" + name + ".flc", WriteFLCFile(header, std::span(&frame, 1)));
    };
    const Layout valid = ValidFlc();
    const ByteReader file(valid.bytes);
    for (std::size_t c = 0; c < valid.chunkStarts.size(); ++c) {
        const std::size_t start = valid.chunkStarts[c];
        const auto type = static_cast<std::int16_t>(file.U16(static_cast<std::int64_t>(start) + 4));
        const std::size_t end = start + file.U32(static_cast<std::int64_t>(start));
        const ByteArray payload(valid.bytes.begin() + static_cast<std::ptrdiff_t>(start + 6),
                                valid.bytes.begin() + static_cast<std::ptrdiff_t>(end));
        const std::string name = "written-" + std::to_string(c) + "-type-" + std::to_string(type);
        ByteArray input{selector(type), 32, 6};
        input.insert(input.end(), payload.begin(), payload.end());
        Emit("chunks", "flc-" + name, input);
    }
    // Delta words: a line skip past the picture, the last-pixel word on the last
    // line, a run of pairs past the line's end and the picture's, fewer lines
    // than counted.
    emit("delta-skip-past-image", FLC_DELTA, {1, 0, 0x9C, 0xFF, 1, 0, 0, 1, 4, 5});
    emit("delta-last-pixel-last-line", FLC_DELTA, {1, 0, 0xFA, 0xFF, 0x63, 0x80, 0, 0});
    emit("delta-run-past-image", FLC_DELTA, {1, 0, 0xFA, 0xFF, 1, 0, 30, 0xFD, 1, 2});
    emit("delta-lines-short", FLC_DELTA, {5, 0, 1, 0, 0, 1, 4, 5});
    // Byte-run rows ended by the width whatever their count byte, and a run past it.
    emit("brun-rows-by-width", FLI_BRUN, [] {
        ByteArray p;
        for (int row = 0; row < 7; ++row) {
            p.insert(p.end(), {0, 33, static_cast<std::uint8_t>(row)});
        }
        return p;
    }());
    emit("brun-run-past-image", FLI_BRUN, {1, 127, 9, 1, 127, 9});
    emit("color-256-count-0", FLC_COLOR_256, [] {
        ByteArray p{1, 0, 0, 0};
        for (int i = 0; i < 768; ++i) {
            p.push_back(static_cast<std::uint8_t>(i));
        }
        return p;
    }());
}

void ArtInputs()
{
    ByteArray wall(4096);
    for (std::size_t i = 0; i < wall.size(); ++i) {
        wall[i] = static_cast<std::uint8_t>(i * 7 + i / 64);
    }
    for (const std::size_t length : {0, 1, 4095, 4096}) {
        Emit("art", "wall-" + std::to_string(length), Prefix(wall, length));
    }
    IndexedImage picture{13, 7, ByteArray(91)};
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        picture.pixels[i] = static_cast<std::uint8_t>(i);
    }
    const ByteArray cel = EncodeCelImage(picture, Colours(3));
    Emit("art", "cel-13x7", cel);
    for (const std::size_t cut : {2, 4, 5, 12, 15, 16, 31, 32, 100, 799, 800, 890}) {
        Emit("art", "cel-cut-" + std::to_string(cut), Prefix(cel, cut));
    }
    for (const std::uint16_t size : {0, 1, 0x7FFF, 0x8000, 0xFFFF}) {
        Emit("art", "cel-width-" + Hex(size), Patched16(cel, 2, size));
        Emit("art", "cel-height-" + Hex(size), Patched16(cel, 4, size));
    }
    Emit("art", "still-that-is-an-flc", ValidFlc().bytes);
    Emit("art", "cel-65535x65535", Patched16(Patched16(cel, 2, 0xFFFF), 4, 0xFFFF));
    for (const std::uint32_t count : {0u, 1u, 90u, 92u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        Emit("art", "cel-count-" + Hex(count), Patched32(cel, 12, count));
    }
}

void BmpInputs()
{
    auto emit = [](const std::string& name, std::uint16_t width, std::uint16_t height,
                   std::size_t pixels) {
        ByteArray input(4);
        StoreU16(input.data(), width);
        StoreU16(input.data() + 2, height);
        input.insert(input.end(), pixels, 0x5A);
        Emit("bmp", name, input);
    };
    emit("5x3", 5, 3, 15);
    emit("5x3-short", 5, 3, 14);
    emit("0x0", 0, 0, 0);
    emit("64x0", 64, 0, 0);
    emit("0x64", 0, 64, 0);
    emit("64x64", 64, 64, 4096);
    emit("negative-width", 0xFFFF, 3, 10);
    emit("negative-height", 3, 0xFFFF, 10);
    emit("huge-overflow", 0x7FFF, 0x7FFF, 100);  // both scaled past 2^31 by the target
    emit("huge-width", 0x4001, 1, 100);
    // Raw pixels that look like a bitmap header, as after a failed build.
    ByteArray header(70, 0);
    header[0] = 'B';
    header[1] = 'M';
    StoreU32(header.data() + 18, 1000);
    StoreU32(header.data() + 22, 1000);
    StoreU16(header.data() + 28, 8);
    ByteArray input{0xFF, 0x7F, 0xFF, 0x7F};
    input.insert(input.end(), header.begin(), header.end());
    Emit("bmp", "failed-build-raw-header", input);
}

// The picture target: a first byte choosing the form (even: a BMP image follows;
// odd: width, height and pixels for AddBMPHeader), then the bytes.
void PictureInputs()
{
    auto image = [](std::uint8_t form, const ByteArray& bytes) {
        ByteArray input(1 + bytes.size(), form);
        std::copy(bytes.begin(), bytes.end(), input.begin() + 1);
        return input;
    };
    Palette palette;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        palette[i] = MakeColor(static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(255 - i));
    }
    IndexedImage odd{13, 7, ByteArray(91)};
    for (std::size_t i = 0; i < odd.pixels.size(); ++i) {
        odd.pixels[i] = static_cast<std::uint8_t>(i * 5);
    }
    const BmpImage bmp = BuildBmpImage(odd, palette);
    Emit("picture", "bmp-13x7", image(0, bmp));
    Emit("picture", "bmp-1x1", image(2, BuildBmpImage(1, 1, ByteArray{7}, palette)));
    // Cut inside the file header, the size fields, the bit count, the colour
    // table and the last row.
    for (const std::size_t cut : {0, 14, 18, 22, 25, 26, 28, 29, 30, 1077, 1078, 1079}) {
        Emit("picture", "bmp-cut-" + std::to_string(cut), image(0, Prefix(bmp, cut)));
    }
    Emit("picture", "bmp-cut-last-byte", image(0, Prefix(bmp, bmp.size() - 1)));
    for (const std::uint32_t value : {0u, 1u, 14u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        Emit("picture", "bmp-width-" + Hex(value), image(0, Patched32(bmp, 18, value)));
        Emit("picture", "bmp-height-" + Hex(value), image(0, Patched32(bmp, 22, value)));
    }
    Emit("picture", "bmp-0x7fffffff-rows-of-0",
         image(0, Patched32(Patched32(bmp, 18, 0), 22, 0x7FFFFFFF)));
    for (const std::uint16_t bits : {0, 1, 4, 24, 0xFFFF}) {
        Emit("picture", "bmp-bits-" + std::to_string(bits), image(0, Patched16(bmp, 28, bits)));
    }

    auto build = [](const std::string& name, std::uint16_t width, std::uint16_t height,
                    const ByteArray& pixels) {
        ByteArray input(5);
        input[0] = 1;
        StoreU16(input.data() + 1, width);
        StoreU16(input.data() + 3, height);
        input.insert(input.end(), pixels.begin(), pixels.end());
        Emit("picture", name, input);
    };
    build("build-13x7", 13, 7, odd.pixels);
    build("build-0x0", 0, 0, {});
    build("build-short", 13, 7, Prefix(odd.pixels, 90));
    build("build-negative", 0xFFFF, 7, odd.pixels);
    // Raw pixels left by a failed build that read as a small bitmap of their own.
    ByteArray raw =
        Patched16(Patched32(Patched32(ByteArray(1078 + 16, 0x33), 18, 2), 22, 4), 28, 8);
    build("build-failed-raw-reads-as-2x4", 0x7FFF, 0x7FFF, raw);
    build("build-failed-raw-rows-short", 0x7FFF, 0x7FFF, Prefix(raw, raw.size() - 1));
}

// The export target: a flags byte (bit 0 turns walls, bit 1 adds a second wall),
// then the palette file, the walls and the still picture each after a 32-bit
// length, then the animation.
void ExportInputs()
{
    struct Game {
        std::uint8_t flags = 3;
        ByteArray palette;
        ByteArray wall;
        ByteArray secondWall;
        ByteArray still;
        ByteArray animation;
    };
    auto emit = [](const std::string& name, const Game& game) {
        ByteArray input{game.flags};
        auto part = [&input](const ByteArray& bytes) {
            const std::size_t at = input.size();
            input.resize(at + 4);
            StoreU32(input.data() + at, static_cast<std::uint32_t>(bytes.size()));
            input.insert(input.end(), bytes.begin(), bytes.end());
        };
        part(game.palette);
        part(game.wall);
        if ((game.flags & 2) != 0) {
            part(game.secondWall);
        }
        part(game.still);
        input.insert(input.end(), game.animation.begin(), game.animation.end());
        Emit("export", name, input);
    };

    Game valid;
    const PaletteBlock colours = Colours(2);
    valid.palette.assign(colours.begin(), colours.end());
    valid.palette.insert(valid.palette.end(), 10, 0xEE);  // bytes after the block
    valid.wall = ByteArray(kWallBytes);
    for (std::size_t i = 0; i < kWallBytes; ++i) {
        valid.wall[i] = static_cast<std::uint8_t>(i / 64 + i % 3);
    }
    valid.secondWall = ByteArray(kWallBytes + 100, 9);
    IndexedImage still{7, 5, ByteArray(35)};
    for (std::size_t i = 0; i < still.pixels.size(); ++i) {
        still.pixels[i] = static_cast<std::uint8_t>(i + 1);
    }
    valid.still = EncodeCelImage(still, Colours(4));
    FramePixels flat{};
    for (std::size_t i = 0; i < flat.size(); ++i) {
        flat[i] = static_cast<std::uint8_t>(i / kFliWidth / 25);
    }
    FramePixels changed = flat;
    changed[kFliWidth * 50 + 10] = 77;
    std::vector<FliFrameData> frames(3);
    frames[0].chunks = {{FLI_COLOR, EncodeColorChunk(Colours(0), PaletteBlock{})},
                        {FLI_BRUN, EncodeBRUNChunk(flat)}};
    frames[1].chunks = {{FLI_LC, EncodeLCChunk(flat, changed)}};
    frames[2].chunks = {{FLI_BLACK, {}}};
    valid.animation = WriteFLIFile(frames);
    emit("valid", valid);

    Game oneWall = valid;
    oneWall.flags = 0;
    emit("one-wall-unturned", oneWall);

    Game broken = valid;
    broken.wall.resize(kWallBytes - 1);
    broken.secondWall.clear();
    broken.palette.resize(300);
    broken.still = Patched16(Patched16(valid.still, 2, 0xFFFF), 4, 0xFFFF);
    broken.animation.resize(valid.animation.size() - 20);
    emit("short-wall-empty-wall-short-palette-huge-still-cut-animation", broken);

    Game empty;
    emit("all-files-empty", empty);

    Game flc = valid;
    flc.animation = ValidFlc().bytes;
    flc.still = flc.animation;
    emit("flc-animation-flc-still", flc);

    Game lying = valid;
    lying.animation = Patched16(valid.animation, 6, 0x7FFF);
    lying.still = Patched32(valid.still, 12, 0xFFFFFFFFu);
    emit("frame-count-32767-still-count-minus-1", lying);

    ByteArray pastEnd{3, 0xFF, 0xFF, 0xFF, 0xFF};
    pastEnd.insert(pastEnd.end(), valid.palette.begin(), valid.palette.end());
    Emit("export", "palette-length-past-end", pastEnd);
}

}  // namespace

// Edited images and palette files as editors write them: the image readers' seeds.
void ImageInputs()
{
    Palette palette;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        palette[i] = MakeColor(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 3), 9);
    }
    IndexedImage image{13, 7, {}};
    for (int i = 0; i < 13 * 7; ++i) {
        image.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    }
    const ByteArray bmp = BuildBmpImage(image, palette);
    Emit("images", "bmp-13x7", bmp);
    Emit("images", "bmp-top-down", Patched32(bmp, 22, static_cast<std::uint32_t>(-7)));
    Emit("images", "bmp-24-bit", Patched16(bmp, 28, 24));
    Emit("images", "bmp-4-bit-16-colours", Patched32(Patched16(bmp, 28, 4), 46, 16));
    Emit("images", "bmp-colours-0x7fffffff", Patched32(bmp, 46, 0x7FFFFFFF));
    const ByteArray png = EncodePngImage(image.width, image.height, image.pixels, palette);
    Emit("images", "png-13x7", png);
    Emit("images", "png-cut", Prefix(png, png.size() / 2));
    GifWriter writer(13, 7);
    writer.AddPicture(image, palette, 5);
    IndexedImage changed = image;
    changed.pixels[20] = 1;
    Palette other = palette;
    other[3] = MakeColor(1, 2, 3);
    writer.AddPicture(changed, other, 7);
    const ByteArray gif = writer.Finish();
    Emit("images", "gif-two-frames", gif);
    Emit("images", "gif-cut", Prefix(gif, gif.size() - 9));
    Emit("images", "gif-width-0xffff", Patched16(gif, 6, 0xFFFF));
    for (const auto format :
         {PaletteFileFormat::Gimp, PaletteFileFormat::Jasc, PaletteFileFormat::Adobe}) {
        Emit("images", "palette-" + std::to_string(static_cast<int>(format)),
             EncodePaletteFile(palette, format));
    }
}

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[1], "--regression") != 0)) {
        std::fprintf(stderr, "usage: %s [--regression] OUT_FOLDER\n", argv[0]);
        return 2;
    }
    g_everything = argc == 2;
    g_out = argv[argc - 1];
    FliInputs();
    FlcInputs();
    ChunkInputs();
    FlcChunkInputs();
    ArtInputs();
    BmpInputs();
    PictureInputs();
    ExportInputs();
    ImageInputs();
    std::printf("wrote %zu inputs to %s\n", g_written, g_out.string().c_str());
    return 0;
}
