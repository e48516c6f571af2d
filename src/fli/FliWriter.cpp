#include "fli/FliWriter.h"

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
std::size_t EncodeBRUNRow(const std::uint8_t* row, std::size_t width, ByteArray& out)
{
    const std::size_t countAt = out.size();
    out.push_back(0);
    std::size_t packets = 0;
    std::size_t x = 0;
    while (x < width) {
        const std::size_t run = SameRun(row, x, width, 127);
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(row[x]);
            x += run;
        } else {
            std::size_t end = x + 1;
            while (end < width && end - x < 128 && SameRun(row, end, width, 2) < 2) {
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
    writer.U16(frame.delay);
    writer.Fill(6, 0);
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
        EncodeBRUNRow(pixels.data() + row * kWidth, kWidth, out);
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

// ---- FLC

namespace {

std::size_t Width(const IndexedImage& image)
{
    return static_cast<std::size_t>(image.width);
}

std::size_t Height(const IndexedImage& image)
{
    return static_cast<std::size_t>(image.height);
}

const std::uint8_t* Row(const IndexedImage& image, std::size_t row)
{
    return image.pixels.data() + row * Width(image);
}

// Pair index p covers columns 2p and 2p + 1.
bool PairSame(const std::uint8_t* a, const std::uint8_t* b, std::size_t p)
{
    return a[2 * p] == b[2 * p] && a[2 * p + 1] == b[2 * p + 1];
}

bool PairsEqual(const std::uint8_t* row, std::size_t p, std::size_t q)
{
    return row[2 * p] == row[2 * q] && row[2 * p + 1] == row[2 * q + 1];
}

std::size_t SamePairs(const std::uint8_t* row, std::size_t from, std::size_t end, std::size_t limit)
{
    std::size_t length = 1;
    while (from + length < end && length < limit && PairsEqual(row, from, from + length)) {
        ++length;
    }
    return length;
}

// The packets of one line's pairs; returns how many were written.
std::size_t EncodeFlcDeltaPairs(const std::uint8_t* previous, const std::uint8_t* row,
                                std::size_t pairs, ByteArray& out)
{
    std::size_t packetCount = 0;
    std::size_t x = 0;  // in pairs
    while (true) {
        std::size_t start = x;
        while (start < pairs && PairSame(previous, row, start)) {
            ++start;
        }
        if (start == pairs) {
            break;
        }
        // The skip byte counts pixels, at most 127 pairs: a longer gap is crossed by
        // packets that rewrite one unchanged pair after the longest skip.
        while (start - x > 127) {
            const std::size_t same = x + 127;
            out.insert(out.end(), {254, 1, row[2 * same], row[2 * same + 1]});
            ++packetCount;
            x = same + 1;
        }
        const std::size_t skip = start - x;
        // The changed span, bridging a single unchanged pair.
        std::size_t end = start + 1;
        while (end < pairs) {
            if (!PairSame(previous, row, end)) {
                ++end;
            } else if (end + 1 < pairs && !PairSame(previous, row, end + 1)) {
                end += 2;
            } else {
                break;
            }
        }
        std::size_t p = start;
        bool first = true;
        while (p < end) {
            out.push_back(first ? static_cast<std::uint8_t>(2 * skip) : 0);
            first = false;
            const std::size_t run = SamePairs(row, p, end, 128);
            if (run >= 2) {
                out.push_back(static_cast<std::uint8_t>(256 - run));
                out.insert(out.end(), {row[2 * p], row[2 * p + 1]});
                p += run;
            } else {
                std::size_t literalEnd = p + 1;
                while (literalEnd < end && literalEnd - p < 127 &&
                       SamePairs(row, literalEnd, end, 2) < 2) {
                    ++literalEnd;
                }
                out.push_back(static_cast<std::uint8_t>(literalEnd - p));
                out.insert(out.end(), row + 2 * p, row + 2 * literalEnd);
                p = literalEnd;
            }
            ++packetCount;
        }
        x = end;
    }
    return packetCount;
}

void CheckPixels(const IndexedImage& image)
{
    if (image.width < 0 || image.height < 0 ||
        image.pixels.size() != Width(image) * Height(image)) {
        throw Error(ErrorKind::Corrupt, "an FLC picture needs one pixel for each place");
    }
}

void CheckSameSize(const IndexedImage& a, const IndexedImage& b)
{
    CheckPixels(a);
    CheckPixels(b);
    if (a.width != b.width || a.height != b.height) {
        throw Error(ErrorKind::Corrupt, "the pictures of an FLC file must all have one size");
    }
}

bool FlcRowsEqual(const IndexedImage& a, const IndexedImage& b, std::size_t row)
{
    return std::equal(Row(a, row), Row(a, row) + Width(a), Row(b, row));
}

std::vector<FliChunkData> FlcPixelChunks(const IndexedImage& previous, const IndexedImage& picture)
{
    if (std::all_of(picture.pixels.begin(), picture.pixels.end(),
                    [](std::uint8_t p) { return p == 0; }) &&
        previous != picture) {
        return {FliChunkData{FlcWriterChunk::kBlack, {}}};
    }
    FliChunkData best{FlcWriterChunk::kDelta, EncodeFlcDeltaChunk(previous, picture)};
    if (best.payload.size() > 2) {
        ByteArray byteRun = EncodeFlcByteRunChunk(picture);
        if (byteRun.size() < best.payload.size()) {
            best = FliChunkData{FlcWriterChunk::kByteRun, std::move(byteRun)};
        }
        if (best.payload.size() > picture.pixels.size()) {
            best = FliChunkData{FlcWriterChunk::kCopy, EncodeFlcCopyChunk(picture)};
        }
    }
    return {std::move(best)};
}

}  // namespace

ByteArray EncodeFlcDeltaChunk(const IndexedImage& previous, const IndexedImage& picture)
{
    CheckSameSize(previous, picture);
    const std::size_t width = Width(picture);
    const std::size_t pairs = width / 2;
    ByteArray out;
    ByteWriter writer(out);
    writer.U16(0);
    std::size_t lines = 0;
    std::size_t skipped = 0;
    for (std::size_t row = 0; row < Height(picture); ++row) {
        if (FlcRowsEqual(previous, picture, row)) {
            ++skipped;
            continue;
        }
        // A skip word holds the negated line count in its low 14 bits.
        while (skipped > 0) {
            const std::size_t step = std::min<std::size_t>(skipped, 0x3FFF);
            writer.U16(static_cast<std::uint16_t>(0x10000 - step));
            skipped -= step;
        }
        const std::uint8_t* before = Row(previous, row);
        const std::uint8_t* after = Row(picture, row);
        if (width % 2 == 1 && before[width - 1] != after[width - 1]) {
            writer.U16(static_cast<std::uint16_t>(0x8000 | after[width - 1]));
        }
        const std::size_t countAt = out.size();
        writer.U16(0);
        const std::size_t packets = EncodeFlcDeltaPairs(before, after, pairs, out);
        // The count word's top two bits are its opcode.
        if (packets > 0x3FFF) {
            throw Error(ErrorKind::TooLarge, "a delta line needs more than 16383 packets");
        }
        StoreU16(out.data() + countAt, static_cast<std::uint16_t>(packets));
        ++lines;
    }
    StoreU16(out.data(), static_cast<std::uint16_t>(lines));
    return out;
}

ByteArray EncodeFlcByteRunChunk(const IndexedImage& picture)
{
    CheckPixels(picture);
    ByteArray out;
    out.reserve(picture.pixels.size() / 2);
    for (std::size_t row = 0; row < Height(picture); ++row) {
        EncodeBRUNRow(Row(picture, row), Width(picture), out);
    }
    return out;
}

ByteArray EncodeFlcCopyChunk(const IndexedImage& picture)
{
    return ByteArray(picture.pixels.begin(), picture.pixels.end());
}

ByteArray EncodePostageStampChunk(const IndexedImage& picture)
{
    CheckPixels(picture);
    const std::size_t width = Width(picture);
    const std::size_t height = Height(picture);
    // The picture's own size within 100 x 63, otherwise the largest size there with
    // its aspect, at least 1 x 1.
    std::size_t stampWidth = width;
    std::size_t stampHeight = height;
    if (stampWidth > 100) {
        stampHeight = std::max<std::size_t>(1, stampHeight * 100 / stampWidth);
        stampWidth = 100;
    }
    if (stampHeight > 63) {
        stampWidth = std::max<std::size_t>(1, stampWidth * 63 / stampHeight);
        stampHeight = 63;
    }
    ByteArray out;
    ByteWriter writer(out);
    writer.U16(static_cast<std::uint16_t>(stampHeight));
    writer.U16(static_cast<std::uint16_t>(stampWidth));
    writer.U16(1);
    writer.U32(static_cast<std::uint32_t>(kFliChunkHeaderSize + stampWidth * stampHeight));
    writer.U16(static_cast<std::uint16_t>(FlcWriterChunk::kCopy));
    for (std::size_t y = 0; y < stampHeight; ++y) {
        for (std::size_t x = 0; x < stampWidth; ++x) {
            writer.U8(picture.pixels[y * height / stampHeight * width + x * width / stampWidth]);
        }
    }
    return out;
}

ByteArray WriteFLCFile(const FlcHeader& header, std::span<const FliFrameData> frames,
                       const FliFrameData* ring)
{
    if (frames.size() > 65535) {
        throw Error(ErrorKind::TooLarge, "an FLC file holds at most 65535 frames");
    }
    ByteArray out;
    ByteWriter writer(out);
    writer.U32(0);
    writer.U16(header.magic);
    writer.U16(static_cast<std::uint16_t>(frames.size()));
    writer.U16(header.width);
    writer.U16(header.height);
    writer.U16(header.depth);
    writer.U16(3);  // flags: the file was written through and closed
    writer.U32(header.speed);
    writer.Fill(38 - writer.position(), 0);  // reserved, dates and creators
    writer.U16(1);                           // aspect: square pixels
    writer.U16(1);
    writer.Fill(80 - writer.position(), 0);
    writer.U32(0);  // the first frame's offset, patched below
    writer.U32(0);  // the second frame's
    writer.Fill(static_cast<std::size_t>(kFliHeaderSize) - writer.position(), 0);
    if (header.prefix) {
        writer.U32(static_cast<std::uint32_t>(kFliChunkHeaderSize + header.prefix->size()));
        writer.U16(FlcWriterChunk::kPrefix);
        writer.Bytes(*header.prefix);
    }
    std::vector<std::size_t> starts;
    for (const FliFrameData& frame : frames) {
        starts.push_back(out.size());
        WriteFrame(writer, frame);
    }
    if (ring != nullptr) {
        starts.push_back(out.size());
        WriteFrame(writer, *ring);
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(starts.size(), 2); ++i) {
        writer.PatchU32(80 + 4 * i, static_cast<std::uint32_t>(starts[i]));
    }
    writer.PatchU32(0, static_cast<std::uint32_t>(out.size()));
    return out;
}

std::vector<FliFrameData> EncodeFlcAnimation(std::span<const FlcAnimationFrame> frames,
                                             bool postageStamp)
{
    std::vector<FliFrameData> encoded;
    encoded.reserve(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const FlcAnimationFrame& frame = frames[i];
        const IndexedImage& picture = frame.picture;
        if (picture.width < 1 || picture.height < 1 || picture.width > 65535 ||
            picture.height > 65535 || picture.pixels.size() != Width(picture) * Height(picture)) {
            throw Error(ErrorKind::Corrupt,
                        "an FLC picture needs 1 to 65535 columns and rows and "
                        "one pixel each");
        }
        FliFrameData data;
        data.delay = frame.delay;
        if (i == 0) {
            data.chunks.push_back({FlcWriterChunk::kColor256, EncodeColorChunk(frame.colors)});
            if (postageStamp) {
                data.chunks.push_back(
                    {FlcWriterChunk::kPostageStamp, EncodePostageStampChunk(picture)});
            }
            data.chunks.push_back({FlcWriterChunk::kByteRun, EncodeFlcByteRunChunk(picture)});
            encoded.push_back(std::move(data));
        } else {
            encoded.push_back(EncodeFlcFrame(frames[i - 1], frame));
        }
    }
    return encoded;
}

FliFrameData EncodeFlcFrame(const FlcAnimationFrame& previous, const FlcAnimationFrame& frame)
{
    CheckSameSize(previous.picture, frame.picture);
    FliFrameData data;
    data.delay = frame.delay;
    ByteArray colors = EncodeColorChunk(frame.colors, previous.colors);
    if (!colors.empty()) {
        data.chunks.push_back({FlcWriterChunk::kColor256, std::move(colors)});
    }
    for (FliChunkData& chunk : FlcPixelChunks(previous.picture, frame.picture)) {
        data.chunks.push_back(std::move(chunk));
    }
    return data;
}

ByteArray WriteFlcAnimation(std::span<const FlcAnimationFrame> frames, const FlcOptions& options)
{
    std::vector<FliFrameData> encoded = EncodeFlcAnimation(frames, options.postageStamp);
    FlcHeader header;
    header.speed = options.speed;
    header.prefix = options.prefix;
    if (frames.empty()) {
        return WriteFLCFile(header, encoded);
    }
    header.width = static_cast<std::uint16_t>(frames.front().picture.width);
    header.height = static_cast<std::uint16_t>(frames.front().picture.height);
    // The ring frame turns the last frame back into the first, at the file's speed.
    FlcAnimationFrame pair[2] = {frames.back(), frames.front()};
    pair[1].delay = 0;
    const std::vector<FliFrameData> ring = EncodeFlcAnimation(pair);
    return WriteFLCFile(header, encoded, &ring[1]);
}

}  // namespace varek
