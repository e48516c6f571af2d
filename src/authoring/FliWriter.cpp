#include "authoring/FliWriter.h"

#include <algorithm>
#include <cstring>

#include "util/Error.h"

namespace varek {

namespace {

constexpr std::size_t kWidth = static_cast<std::size_t>(kFliWidth);
constexpr std::size_t kHeight = static_cast<std::size_t>(kFliHeight);

std::size_t SameRun(const std::uint8_t* row, std::size_t from, std::size_t end, std::size_t limit)
{
    std::size_t length = 1;
    while (from + length < end && length < limit && row[from + length] == row[from]) {
        ++length;
    }
    return length;
}

// Byte-run packets of one row: positive sizes replicate, negative ones copy.
std::size_t EncodeBRUNRow(const std::uint8_t* row, ByteArray& out)
{
    const std::size_t countAt = out.size();
    out.push_back(0);
    std::size_t packets = 0;
    std::size_t x = 0;
    while (x < kWidth) {
        const std::size_t run = SameRun(row, x, kWidth, 127);
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(row[x]);
            x += run;
        } else {
            std::size_t end = x + 1;
            while (end < kWidth && end - x < 128 && SameRun(row, end, kWidth, 2) < 2) {
                ++end;
            }
            const std::size_t length = end - x;
            out.push_back(static_cast<std::uint8_t>(256 - length));
            out.insert(out.end(), row + x, row + end);
            x = end;
        }
        ++packets;
    }
    out[countAt] = static_cast<std::uint8_t>(packets);
    return packets;
}

// Line-compression packets of one row: skip, then positive sizes copy, negative
// ones replicate. Short unchanged gaps are written over rather than skipped.
void EncodeLCRow(const std::uint8_t* previous, const std::uint8_t* row, ByteArray& out)
{
    ByteArray packets;
    std::size_t packetCount = 0;
    std::size_t x = 0;
    while (true) {
        std::size_t start = x;
        while (start < kWidth && previous[start] == row[start]) {
            ++start;
        }
        if (start == kWidth) {
            break;
        }
        std::size_t skip = start - x;
        while (skip > 255) {
            packets.insert(packets.end(), {255, 0});  // skip 255, copy nothing
            ++packetCount;
            skip -= 255;
        }
        // The changed span, bridging gaps of up to two unchanged pixels.
        std::size_t end = start + 1;
        while (end < kWidth) {
            if (previous[end] != row[end]) {
                ++end;
                continue;
            }
            std::size_t gap = end;
            while (gap < kWidth && gap - end < 3 && previous[gap] == row[gap]) {
                ++gap;
            }
            if (gap < kWidth && gap - end < 3) {
                end = gap;
            } else {
                break;
            }
        }
        std::size_t p = start;
        bool first = true;
        while (p < end) {
            const std::size_t run = SameRun(row, p, end, 128);
            packets.push_back(first ? static_cast<std::uint8_t>(skip) : 0);
            first = false;
            if (run >= 3) {
                packets.push_back(static_cast<std::uint8_t>(256 - run));
                packets.push_back(row[p]);
                p += run;
            } else {
                std::size_t literalEnd = p + 1;
                while (literalEnd < end && literalEnd - p < 127 &&
                       SameRun(row, literalEnd, end, 3) < 3) {
                    ++literalEnd;
                }
                packets.push_back(static_cast<std::uint8_t>(literalEnd - p));
                packets.insert(packets.end(), row + p, row + literalEnd);
                p = literalEnd;
            }
            ++packetCount;
        }
        x = end;
    }
    // A literal packet ends where a run of three starts, so a packet covers two
    // pixels on average at worst: 320 pixels never need more than 255 packets.
    out.push_back(static_cast<std::uint8_t>(packetCount));
    out.insert(out.end(), packets.begin(), packets.end());
}

bool RowsEqual(const FramePixels& a, const FramePixels& b, std::size_t row)
{
    return std::equal(a.begin() + static_cast<std::ptrdiff_t>(row * kWidth),
                      a.begin() + static_cast<std::ptrdiff_t>((row + 1) * kWidth),
                      b.begin() + static_cast<std::ptrdiff_t>(row * kWidth));
}

void WriteFrame(ByteWriter& writer, const FliFrameData& frame)
{
    const std::size_t start = writer.position();
    writer.U32(0);
    writer.U16(kFliFrameMagic);
    writer.U16(static_cast<std::uint16_t>(frame.chunks.size()));
    writer.Fill(8, 0);
    for (const FliChunkData& chunk : frame.chunks) {
        writer.U32(static_cast<std::uint32_t>(kFliChunkHeaderSize + chunk.payload.size()));
        writer.U16(static_cast<std::uint16_t>(chunk.type));
        writer.Bytes(chunk.payload);
    }
    writer.PatchU32(start, static_cast<std::uint32_t>(writer.position() - start));
}

std::vector<FliChunkData> PixelChunks(const FramePixels& previous, const FramePixels& pixels)
{
    if (std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t p) { return p == 0; }) &&
        previous != pixels) {
        return {FliChunkData{FLI_BLACK, {}}};
    }
    FliChunkData best{FLI_LC, EncodeLCChunk(previous, pixels)};
    if (best.payload.size() > 4) {
        ByteArray brun = EncodeBRUNChunk(pixels);
        if (brun.size() < best.payload.size()) {
            best = FliChunkData{FLI_BRUN, std::move(brun)};
        }
        if (best.payload.size() > kFramePixels) {
            best = FliChunkData{FLI_COPY, EncodeCopyChunk(pixels)};
        }
    }
    return {std::move(best)};
}

}  // namespace

ByteArray EncodeColorChunk(const PaletteBlock& colors)
{
    ByteArray out;
    out.reserve(4 + kPaletteBlockSize);
    ByteWriter writer(out);
    writer.U16(1);
    writer.U8(0);  // skip nothing
    writer.U8(0);  // 0 stands for 256 colours
    writer.Bytes(colors);
    return out;
}

ByteArray EncodeColorChunk(const PaletteBlock& colors, const PaletteBlock& previous)
{
    auto changed = [&](std::size_t i) {
        return !std::equal(colors.begin() + static_cast<std::ptrdiff_t>(3 * i),
                           colors.begin() + static_cast<std::ptrdiff_t>(3 * i + 3),
                           previous.begin() + static_cast<std::ptrdiff_t>(3 * i));
    };
    ByteArray out;
    ByteWriter writer(out);
    writer.U16(0);
    std::uint16_t packets = 0;
    std::size_t index = 0;
    while (true) {
        std::size_t start = index;
        while (start < kPaletteEntries && !changed(start)) {
            ++start;
        }
        if (start == kPaletteEntries) {
            break;
        }
        // Runs separated by fewer than two unchanged entries are joined: a packet
        // header costs two bytes, an entry three.
        std::size_t end = start + 1;
        while (end < kPaletteEntries &&
               (changed(end) || (end + 1 < kPaletteEntries && changed(end + 1)))) {
            ++end;
        }
        writer.U8(static_cast<std::uint8_t>(start - index));
        writer.U8(static_cast<std::uint8_t>(end - start));  // 256 wraps to 0, which means 256
        writer.Bytes(std::span(colors).subspan(3 * start, 3 * (end - start)));
        ++packets;
        index = end;
    }
    if (packets == 0) {
        return {};
    }
    StoreU16(out.data(), packets);
    return out;
}

ByteArray EncodeBRUNChunk(const FramePixels& pixels)
{
    ByteArray out;
    out.reserve(kFramePixels / 2);
    for (std::size_t row = 0; row < kHeight; ++row) {
        EncodeBRUNRow(pixels.data() + row * kWidth, out);
    }
    return out;
}

ByteArray EncodeLCChunk(const FramePixels& previous, const FramePixels& pixels)
{
    std::size_t first = 0;
    while (first < kHeight && RowsEqual(previous, pixels, first)) {
        ++first;
    }
    ByteArray out;
    ByteWriter writer(out);
    if (first == kHeight) {
        writer.U16(0);
        writer.U16(0);
        return out;
    }
    std::size_t last = kHeight - 1;
    while (RowsEqual(previous, pixels, last)) {
        --last;
    }
    writer.U16(static_cast<std::uint16_t>(first));
    writer.U16(static_cast<std::uint16_t>(last - first + 1));
    for (std::size_t row = first; row <= last; ++row) {
        EncodeLCRow(previous.data() + row * kWidth, pixels.data() + row * kWidth, out);
    }
    return out;
}

ByteArray EncodeCopyChunk(const FramePixels& pixels)
{
    return ByteArray(pixels.begin(), pixels.end());
}

ByteArray WriteFLIFile(std::span<const FliFrameData> frames, std::uint16_t speed,
                       const FliFrameData* ring)
{
    if (frames.size() > 65535) {
        throw Error(ErrorKind::TooLarge, "an FLI file holds at most 65535 frames");
    }
    ByteArray out;
    ByteWriter writer(out);
    writer.U32(0);
    writer.U16(kFliFileMagic);
    writer.U16(static_cast<std::uint16_t>(frames.size()));
    writer.U16(static_cast<std::uint16_t>(kFliWidth));
    writer.U16(static_cast<std::uint16_t>(kFliHeight));
    writer.U16(8);  // bits per pixel
    writer.U16(0);  // flags
    writer.U16(speed);
    writer.Fill(static_cast<std::size_t>(kFliHeaderSize) - writer.position(), 0);
    for (const FliFrameData& frame : frames) {
        WriteFrame(writer, frame);
    }
    if (ring != nullptr) {
        WriteFrame(writer, *ring);
    }
    writer.PatchU32(0, static_cast<std::uint32_t>(out.size()));
    return out;
}

std::vector<FliFrameData> EncodeAnimation(std::span<const AnimationFrame> frames)
{
    std::vector<FliFrameData> encoded;
    encoded.reserve(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const AnimationFrame& frame = frames[i];
        FliFrameData data;
        if (i == 0) {
            data.chunks.push_back({FLI_COLOR, EncodeColorChunk(frame.colors)});
            data.chunks.push_back({FLI_BRUN, EncodeBRUNChunk(frame.pixels)});
        } else {
            const AnimationFrame& previous = frames[i - 1];
            ByteArray colors = EncodeColorChunk(frame.colors, previous.colors);
            if (!colors.empty()) {
                data.chunks.push_back({FLI_COLOR, std::move(colors)});
            }
            for (FliChunkData& chunk : PixelChunks(previous.pixels, frame.pixels)) {
                data.chunks.push_back(std::move(chunk));
            }
        }
        encoded.push_back(std::move(data));
    }
    return encoded;
}

ByteArray WriteAnimation(std::span<const AnimationFrame> frames, std::uint16_t speed)
{
    const std::vector<FliFrameData> encoded = EncodeAnimation(frames);
    if (frames.empty()) {
        return WriteFLIFile(encoded, speed);
    }
    // The ring frame turns the last frame back into the first.
    const AnimationFrame pair[2] = {frames.back(), frames.front()};
    const std::vector<FliFrameData> ring = EncodeAnimation(pair);
    return WriteFLIFile(encoded, speed, &ring[1]);
}

}  // namespace varek
