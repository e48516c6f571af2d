#include "fli/FliDecoder.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "util/ByteReader.h"
#include "util/Error.h"
#include "util/Text.h"

namespace varek {

namespace {

std::int64_t PixelLimit(const FrameRecord& record)
{
    return static_cast<std::int64_t>(record.Width) * record.Height;
}

// Where a pixel decoder stopped before its end: a read past its payload, or a
// pixel outside the frame. Line-compression faults are many in a hostile file and
// are mostly counted, so the decoders report them as values; Raise makes the Error.
struct DecodeStop {
    bool pastPayload = false;
    std::int64_t offset = 0;  // the read past the payload: its offset and byte count
    std::int64_t count = 0;
    std::int64_t pixel = 0;  // otherwise the first pixel outside the frame
};
using Stopped = std::optional<DecodeStop>;

Stopped PastPayload(std::int64_t offset, std::int64_t count)
{
    return DecodeStop{true, offset, count, 0};
}

[[noreturn]] void Raise(const DecodeStop& stop, const ByteReader& data, const FrameRecord& record)
{
    if (stop.pastPayload) {
        data.Require(stop.offset, stop.count);
    }
    throw Error(ErrorKind::Corrupt, "pixel " + std::to_string(stop.pixel) + " lies outside the " +
                                        std::to_string(record.Width) + " x " +
                                        std::to_string(record.Height) + " frame");
}

// The pixels a decoder wrote, from first to one past the last; empty when first >= end.
struct PixelRange {
    std::int64_t first = std::numeric_limits<std::int64_t>::max();
    std::int64_t end = 0;

    void Add(std::int64_t from, std::int64_t count)
    {
        first = std::min(first, from);
        end = std::max(end, from + count);
    }
};

// The two pixel decoders share one running pixel cursor and these run writers.
class PixelCursor {
public:
    PixelCursor(FrameRecord& record, std::int64_t start, PixelRange* written = nullptr)
        : m_pixels(record.Pixels.data()),
          m_limit(PixelLimit(record)),
          m_width(record.Width),
          m_at(start),
          m_written(written)
    {
    }

    void Skip(std::int64_t count) { m_at += count; }
    void MoveTo(std::int64_t pixel) { m_at = pixel; }
    std::int64_t At() const noexcept { return m_at; }

    // One value count times; the pixels that fit are written before the stop.
    Stopped Replicate(std::int64_t count, std::uint8_t value)
    {
        if (count <= 0) {
            return std::nullopt;
        }
        const std::int64_t fits = std::clamp<std::int64_t>(m_limit - m_at, 0, count);
        if (fits > 0) {
            std::memset(m_pixels + m_at, value, static_cast<std::size_t>(fits));
            Written(fits);
        }
        if (fits < count) {
            return DecodeStop{false, 0, 0, m_at + fits};
        }
        m_at += count;
        return std::nullopt;
    }

    // count literal bytes from data at offset; the part that lies inside both the
    // payload and the frame is written before the stop.
    Stopped Copy(ByteSpan data, std::int64_t offset, std::int64_t count)
    {
        if (count <= 0) {
            return std::nullopt;
        }
        const auto dataLeft = static_cast<std::int64_t>(data.size()) - offset;
        const std::int64_t fits =
            std::clamp<std::int64_t>(std::min(m_limit - m_at, dataLeft), 0, count);
        if (fits > 0) {
            std::memcpy(m_pixels + m_at, data.data() + offset, static_cast<std::size_t>(fits));
            Written(fits);
        }
        if (fits < count) {
            return dataLeft < count ? PastPayload(offset, count)
                                    : DecodeStop{false, 0, 0, m_at + fits};
        }
        m_at += count;
        return std::nullopt;
    }

    // count copies of the pixel pair first, second; the pixels that fit are written
    // before the stop.
    Stopped ReplicatePair(std::int64_t count, std::uint8_t first, std::uint8_t second)
    {
        const std::int64_t fits = std::clamp<std::int64_t>(m_limit - m_at, 0, 2 * count);
        for (std::int64_t i = 0; i < fits; ++i) {
            m_pixels[m_at + i] = i % 2 == 0 ? first : second;
        }
        if (fits > 0) {
            Written(fits);
        }
        if (fits < 2 * count) {
            return DecodeStop{false, 0, 0, m_at + fits};
        }
        m_at += 2 * count;
        return std::nullopt;
    }

    // After a row: a row without packets moves on by exactly one row; otherwise the
    // cursor rises to the next row start unless the packets ended exactly on one.
    void EndRow(unsigned packetCount)
    {
        if (packetCount == 0) {
            m_at += m_width;
        } else if (m_at % m_width != 0) {
            m_at += m_width - m_at % m_width;
        }
    }

private:
    void Written(std::int64_t count)
    {
        if (m_written != nullptr) {
            m_written->Add(m_at, count);
        }
    }

    std::uint8_t* m_pixels;
    std::int64_t m_limit;
    std::int64_t m_width;
    std::int64_t m_at;
    PixelRange* m_written;
};

std::string Hex16(std::uint16_t value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += kDigits[(value >> shift) & 0xF];
    }
    return text;
}

std::string Described(const char* what, std::int32_t frameIndex, std::int64_t position)
{
    return std::string(what) + " " + std::to_string(frameIndex + 1) + " at offset " +
           std::to_string(position);
}

}  // namespace

namespace {

// Colour packets of either chunk type; component maps a stored byte to 8 bits.
template <typename Component>
void DecodeColorPackets(const FLIChunk& chunk, FrameRecord& record, Component component)
{
    const ByteReader data(chunk.Data, "the colour chunk");
    const std::int16_t packetCount = data.I16(kColorPacketCountOffset);
    if (packetCount == std::numeric_limits<std::int16_t>::min()) {
        throw Error(ErrorKind::Corrupt, "the colour chunk gives its packet count as -32768");
    }
    std::int64_t cursor = kColorPacketsOffset;
    std::int64_t index = 0;
    for (std::int32_t packet = 0; packet < packetCount; ++packet) {
        const std::int64_t skip = data.U8(cursor);
        std::int64_t count = data.U8(cursor + 1);
        if (count == 0) {
            count = kColorCountOfZero;
        }
        cursor += 2;
        index += skip;
        for (std::int64_t j = 0; j < count; ++j) {
            if (index + j >= static_cast<std::int64_t>(kPaletteEntries)) {
                throw Error(ErrorKind::Corrupt, "colour " + std::to_string(index + j) +
                                                    " lies outside the 256-colour table");
            }
            const ByteSpan triple = data.Slice(cursor + 3 * j, 3);
            record.Colors[static_cast<std::size_t>(index + j)] =
                component(triple[0], triple[1], triple[2]);
        }
        cursor += 3 * count;
        index += count;
    }
}

}  // namespace

void DecodeColorChunk(const FLIChunk& chunk, FrameRecord& record)
{
    DecodeColorPackets(chunk, record, [](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return VgaColor(r, g, b);
    });
}

void DecodeColor256Chunk(const FLIChunk& chunk, FrameRecord& record)
{
    DecodeColorPackets(chunk, record, [](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return static_cast<ColorValue>(r | g << 8 | b << 16);
    });
}

namespace {

// The non-throwing reader the two delta decoders share.
class DeltaReader {
public:
    explicit DeltaReader(ByteSpan data) : m_data(data) {}

    std::int64_t Cursor() const noexcept { return m_cursor; }
    void Skip(std::int64_t count) { m_cursor += count; }

    // The next byte of the payload, or false past its end.
    bool Next(std::uint8_t& value)
    {
        if (m_cursor >= static_cast<std::int64_t>(m_data.size())) {
            return false;
        }
        value = m_data[static_cast<std::size_t>(m_cursor++)];
        return true;
    }

    bool Next16(std::uint16_t& value)
    {
        std::uint8_t low = 0;
        std::uint8_t high = 0;
        if (m_cursor + 2 > static_cast<std::int64_t>(m_data.size())) {
            return false;
        }
        Next(low);
        Next(high);
        value = static_cast<std::uint16_t>(low | high << 8);
        return true;
    }

private:
    ByteSpan m_data;
    std::int64_t m_cursor = 0;
};

// The line-compression decoder, reading its payload without throwing.
Stopped DecodeLC(const FLIChunk& chunk, FrameRecord& record, PixelRange* written)
{
    const ByteSpan data = chunk.Data;
    const auto size = static_cast<std::int64_t>(data.size());
    if (size < kLCRowsOffset) {
        const std::int64_t field = size < kLCRowCountOffset ? kLCFirstRowOffset : kLCRowCountOffset;
        return PastPayload(field, 2);
    }
    DeltaReader reader(data);
    std::uint16_t firstRow = 0;
    std::uint16_t rowCount = 0;
    reader.Next16(firstRow);
    reader.Next16(rowCount);
    PixelCursor pixels(record, std::int64_t{firstRow} * record.Width, written);
    for (std::int64_t row = 0; row < rowCount; ++row) {
        std::uint8_t packetCount = 0;
        if (!reader.Next(packetCount)) {
            return PastPayload(reader.Cursor(), 1);
        }
        for (unsigned packet = 0; packet < packetCount; ++packet) {
            std::uint8_t skip = 0;
            std::uint8_t runSize = 0;
            if (!reader.Next(skip)) {
                return PastPayload(reader.Cursor(), 1);
            }
            pixels.Skip(skip);
            if (!reader.Next(runSize)) {
                return PastPayload(reader.Cursor(), 1);
            }
            if (runSize >= kRunSizeSign) {
                std::uint8_t value = 0;
                if (!reader.Next(value)) {
                    return PastPayload(reader.Cursor(), 1);
                }
                if (Stopped stop = pixels.Replicate(256 - runSize, value)) {
                    return stop;
                }
            } else {
                if (Stopped stop = pixels.Copy(data, reader.Cursor(), runSize)) {
                    return stop;
                }
                reader.Skip(runSize);
            }
        }
        pixels.EndRow(packetCount);
    }
    return std::nullopt;
}

// The word-oriented delta: a count of the lines it changes, each line led by
// words whose top two bits say what they are: 11 skips lines, 10 sets the line's
// last pixel (for odd widths) and 00 gives the line's packet count. Each packet
// skips columns, then a positive count of literal pixel pairs or a negative
// count of one pair repeated.
Stopped DecodeDeltaFlc(const FLIChunk& chunk, FrameRecord& record, PixelRange* written)
{
    const ByteSpan data = chunk.Data;
    DeltaReader reader(data);
    std::uint16_t lineCount = 0;
    if (!reader.Next16(lineCount)) {
        return PastPayload(0, 2);
    }
    PixelCursor pixels(record, 0, written);
    const std::int64_t width = record.Width;
    std::int64_t line = 0;
    for (std::uint32_t decoded = 0; decoded < lineCount; ++decoded) {
        std::uint16_t word = 0;
        for (;;) {
            if (!reader.Next16(word)) {
                return PastPayload(reader.Cursor(), 2);
            }
            const unsigned kind = word >> 14;
            if (kind == 3) {
                line += 65536 - word;
            } else if (kind == 2) {
                pixels.MoveTo(line * width + width - 1);
                if (Stopped stop = pixels.Replicate(1, static_cast<std::uint8_t>(word & 0xFF))) {
                    return stop;
                }
            } else if (kind == 0) {
                break;
            } else {
                return DecodeStop{false, 0, 0, line * width};
            }
        }
        pixels.MoveTo(line * width);
        for (unsigned packet = 0; packet < word; ++packet) {
            std::uint8_t skip = 0;
            std::uint8_t countByte = 0;
            if (!reader.Next(skip) || !reader.Next(countByte)) {
                return PastPayload(reader.Cursor(), 1);
            }
            pixels.Skip(skip);
            const auto count = static_cast<std::int8_t>(countByte);
            if (count >= 0) {
                if (Stopped stop = pixels.Copy(data, reader.Cursor(), 2 * count)) {
                    return stop;
                }
                reader.Skip(2 * count);
            } else {
                std::uint8_t first = 0;
                std::uint8_t second = 0;
                if (!reader.Next(first) || !reader.Next(second)) {
                    return PastPayload(reader.Cursor(), 1);
                }
                if (Stopped stop = pixels.ReplicatePair(-count, first, second)) {
                    return stop;
                }
            }
        }
        ++line;
    }
    return std::nullopt;
}

// The byte-run image. An FLI row ends after its packet count of packets; an FLC
// row once the width is filled, as FLC writers leave the count unreliable.
void DecodeBRUN(const FLIChunk& chunk, FrameRecord& record, PixelRange* written, FlicKind kind)
{
    const ByteReader data(chunk.Data, "the byte-run chunk");
    std::int64_t cursor = 0;
    PixelCursor pixels(record, 0, written);
    const std::int64_t width = record.Width;
    for (std::int32_t row = 0; row < record.Height; ++row) {
        const unsigned packetCount = data.U8(cursor++);
        const std::int64_t rowEnd = (row + 1) * width;
        if (kind == FlicKind::Flc) {
            pixels.MoveTo(row * width);
        }
        for (unsigned packet = 0;
             kind == FlicKind::Flc ? pixels.At() < rowEnd : packet < packetCount; ++packet) {
            const std::uint8_t size = data.U8(cursor++);
            // A size of 0 writes nothing but still uses up its pixel byte.
            Stopped stop = size < kRunSizeSign ? pixels.Replicate(size, data.U8(cursor++))
                                               : pixels.Copy(data.bytes(), cursor, 256 - size);
            if (stop) {
                Raise(*stop, data, record);
            }
            if (size >= kRunSizeSign) {
                cursor += 256 - size;
            }
        }
        if (kind == FlicKind::Fli) {
            pixels.EndRow(packetCount);
        }
    }
}

void DecodeCopy(const FLIChunk& chunk, FrameRecord& record, PixelRange* written)
{
    const ByteReader data(chunk.Data, "the uncompressed chunk");
    PixelCursor pixels(record, 0, written);
    if (Stopped stop = pixels.Copy(data.bytes(), 0, PixelLimit(record))) {
        Raise(*stop, data, record);
    }
}

// Throws the fault a delta decode stopped at.
void RaiseDelta(const FLIChunk& chunk, const FrameRecord& record, const Stopped& stop)
{
    if (stop) {
        Raise(*stop, ByteReader(chunk.Data, "the line-compression chunk"), record);
    }
}

void DecodeBlack(FrameRecord& record, PixelRange* written)
{
    if (written == nullptr) {
        std::fill(record.Pixels.begin(), record.Pixels.end(), std::uint8_t{0});
        return;
    }
    // Only the pixels written since the record was last all black are cleared: a
    // file of black chunks costs no more than the pixels it set.
    if (written->first < written->end) {
        std::memset(record.Pixels.data() + written->first, 0,
                    static_cast<std::size_t>(written->end - written->first));
    }
    *written = PixelRange{};
}

// What the table does with a chunk type. A delta's faults spoil one frame's
// changes, not the file: the walk counts them and goes on.
enum class ChunkRole { Colors, Pixels, Delta, Preview };

using DeltaDecoder = Stopped (*)(const FLIChunk&, FrameRecord&, PixelRange*);

struct ChunkKindEntry {
    std::int16_t type;
    bool flcOnly;
    ChunkRole role;
};

// Every chunk type read. A postage stamp is the file's own preview of its first
// frame, left for file browsers: skipped without counting it, as every FLC
// writer adds one.
constexpr ChunkKindEntry kChunkKinds[] = {
    {FLC_COLOR_256, true, ChunkRole::Colors}, {FLC_DELTA, true, ChunkRole::Delta},
    {FLI_COLOR, false, ChunkRole::Colors},    {FLI_LC, false, ChunkRole::Delta},
    {FLI_BLACK, false, ChunkRole::Pixels},    {FLI_BRUN, false, ChunkRole::Pixels},
    {FLI_COPY, false, ChunkRole::Pixels},     {FLC_STAMP, true, ChunkRole::Preview},
};

const ChunkKindEntry* FindChunkKind(std::int16_t type, FlicKind kind)
{
    for (const ChunkKindEntry& entry : kChunkKinds) {
        if (entry.type == type && (!entry.flcOnly || kind == FlicKind::Flc)) {
            return &entry;
        }
    }
    return nullptr;
}

Stopped DecodeDelta(const FLIChunk& chunk, FrameRecord& record, PixelRange* written)
{
    return chunk.Type == FLC_DELTA ? DecodeDeltaFlc(chunk, record, written)
                                   : DecodeLC(chunk, record, written);
}

// Runs the decoder of the chunk's type, widening written, when given, by the
// pixels it wrote; a delta's fault is returned, every other fault thrown.
Stopped DecodeKnown(const FLIChunk& chunk, FrameRecord& record, PixelRange* written, FlicKind kind)
{
    switch (chunk.Type) {
        case FLC_COLOR_256:
            DecodeColor256Chunk(chunk, record);
            break;
        case FLI_COLOR:
            DecodeColorChunk(chunk, record);
            break;
        case FLC_DELTA:
        case FLI_LC:
            return DecodeDelta(chunk, record, written);
        case FLI_BLACK:
            DecodeBlack(record, written);
            break;
        case FLI_BRUN:
            DecodeBRUN(chunk, record, written, kind);
            break;
        case FLI_COPY:
            DecodeCopy(chunk, record, written);
            break;
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace

void DecodeLCChunk(const FLIChunk& chunk, FrameRecord& record)
{
    RaiseDelta(chunk, record, DecodeLC(chunk, record, nullptr));
}

void DecodeDeltaFlcChunk(const FLIChunk& chunk, FrameRecord& record)
{
    RaiseDelta(chunk, record, DecodeDeltaFlc(chunk, record, nullptr));
}

void DecodeBRUNChunk(const FLIChunk& chunk, FrameRecord& record, FlicKind kind)
{
    DecodeBRUN(chunk, record, nullptr, kind);
}

void DecodeCopyChunk(const FLIChunk& chunk, FrameRecord& record)
{
    DecodeCopy(chunk, record, nullptr);
}

void DecodeBlackChunk(FrameRecord& record)
{
    DecodeBlack(record, nullptr);
}

void DecodeChunk(const FLIChunk& chunk, FrameRecord& record, FlicKind kind)
{
    if (FindChunkKind(chunk.Type, kind) != nullptr) {
        RaiseDelta(chunk, record, DecodeKnown(chunk, record, nullptr, kind));
    }
}

namespace {

// Where a walk of the bytes read so far would need more of the file.
struct NeedMore {
    std::int64_t end = 0;  // the first byte past those needed
};

[[noreturn]] void ThrowPastEnd(const std::string& what, std::int64_t fileSize, std::int64_t needed,
                               NeedMore* needMore)
{
    if (needMore != nullptr) {
        needMore->end = needed;
    }
    throw Error(ErrorKind::Truncated, what + " runs past the end of the file (" +
                                          Counted(fileSize, "byte", "bytes") + ")");
}

void CountSkipped(std::int16_t chunkType, FliLoad& load)
{
    const auto type = static_cast<std::uint16_t>(chunkType);
    const auto known =
        std::find_if(load.skipped.begin(), load.skipped.end(),
                     [type](const SkippedChunks& seen) { return seen.type == type; });
    if (known != load.skipped.end()) {
        ++known->count;
    } else if (load.skipped.size() < kKeptFaults) {
        load.skipped.push_back({type, 1});
    } else {
        ++load.moreSkipped;
    }
}

void KeepLineFault(const Error& error, std::int32_t frameIndex, FliLoad& load)
{
    load.lineFaults.emplace_back(
        error.kind(), "in frame " + std::to_string(frameIndex + 1) + ", " + error.detail());
}

// Why a walk that read every frame the header counts gave no picture.
Error NoPicture(const FliLoad& load, std::int64_t bytesAfterHeader)
{
    if (load.fileFrames == 0) {
        std::string detail = "the header counts 0 frames";
        if (bytesAfterHeader > 0) {
            detail += ", though " + WithThousands(static_cast<std::uint64_t>(bytesAfterHeader)) +
                      " bytes follow it";
        }
        return Error(ErrorKind::Corrupt, detail);
    }
    std::string detail = load.fileFrames == 1
                             ? std::string("its one frame holds no chunk")
                             : "none of its " +
                                   WithThousands(static_cast<std::uint64_t>(load.fileFrames)) +
                                   " frames holds a chunk";
    if (load.skipped.empty()) {
        return Error(ErrorKind::Corrupt, detail);
    }
    detail += " of a type this program decodes; it skipped ";
    for (std::size_t i = 0; i < load.skipped.size(); ++i) {
        const SkippedChunks& chunks = load.skipped[i];
        detail += (i == 0 ? "" : ", ") + WithThousands(chunks.count) +
                  (i == 0 ? (chunks.count == 1 ? " chunk" : " chunks") : "") + " of type " +
                  std::to_string(chunks.type);
    }
    if (load.moreSkipped > 0) {
        detail += " and " + WithThousands(load.moreSkipped) + " of other types";
    }
    return Error(ErrorKind::Unsupported, detail);
}

// Gives the record a new picture is decoded into, or nullptr to walk the headers
// without decoding; told where the frame that starts it lies.
using PictureStart = std::function<FrameRecord*(std::int64_t framePosition)>;

// The frame header at position, checked; throws past the file's end or for a
// size below the header.
FLIFrame ReadFrameHeader(const ByteReader& file, std::int64_t position, std::int32_t frameIndex,
                         NeedMore* needMore)
{
    const auto fileSize = static_cast<std::int64_t>(file.size());
    if (position + kFliFrameHeaderSize > fileSize) {
        ThrowPastEnd("the header of " + Described("frame", frameIndex, position), fileSize,
                     position + kFliFrameHeaderSize, needMore);
    }
    FLIFrame frame;
    frame.Size = file.I32(position + kFliFrameSizeOffset);
    frame.Magic = file.U16(position + kFliFrameMagicOffset);
    frame.Chunks = file.I16(position + kFliFrameChunkCountOffset);
    if (frame.Size < kFliFrameHeaderSize) {
        throw Error(ErrorKind::Corrupt, Described("frame", frameIndex, position) +
                                            " gives its size as " + std::to_string(frame.Size) +
                                            ", less than its 16-byte header");
    }
    return frame;
}

// The chunk at position within a frame ending at frameEnd, cut at that end.
FLIChunk ReadChunk(const ByteReader& file, std::int64_t position, std::int64_t frameEnd,
                   std::int32_t frameIndex, NeedMore* needMore)
{
    const auto fileSize = static_cast<std::int64_t>(file.size());
    const auto where = [&] {
        return "the chunk at offset " + std::to_string(position) + " of frame " +
               std::to_string(frameIndex + 1);
    };
    if (position + kFliChunkHeaderSize > fileSize) {
        ThrowPastEnd(where(), fileSize, position + kFliChunkHeaderSize, needMore);
    }
    FLIChunk chunk;
    chunk.Size = file.I32(position + kFliChunkSizeOffset);
    chunk.Type = file.I16(position + kFliChunkTypeOffset);
    if (chunk.Size < kFliChunkHeaderSize) {
        throw Error(ErrorKind::Corrupt, where() + " gives its size as " +
                                            std::to_string(chunk.Size) +
                                            ", less than its 6-byte header");
    }
    const std::int64_t chunkEnd = std::min(position + chunk.Size, frameEnd);
    if (chunkEnd > fileSize) {
        ThrowPastEnd(where(), fileSize, chunkEnd, needMore);
    }
    chunk.Data =
        file.bytes().subspan(static_cast<std::size_t>(position + kFliChunkHeaderSize),
                             static_cast<std::size_t>(chunkEnd - position - kFliChunkHeaderSize));
    return chunk;
}

// One walk through a file's frames.
class FrameWalk {
public:
    FrameWalk(std::span<const std::uint8_t> bytes, const PictureStart& startPicture, FliLoad& load,
              NeedMore* needMore)
        : m_file(bytes, "the FLI file"),
          m_startPicture(startPicture),
          m_load(load),
          m_needMore(needMore)
    {
    }

    // The frame at position, counted from 0; returns where the next one starts.
    std::int64_t Frame(std::int64_t position, std::int32_t frameIndex)
    {
        FLIFrame frame = ReadFrameHeader(m_file, position, frameIndex, m_needMore);
        // An FLC may hold a prefix or other chunks of its own between frames.
        while (m_load.header.kind == FlicKind::Flc && frame.Magic != kFliFrameMagic) {
            position += frame.Size;
            frame = ReadFrameHeader(m_file, position, frameIndex, m_needMore);
        }
        if (frame.Magic != kFliFrameMagic) {
            throw Error(ErrorKind::Corrupt, Described("frame", frameIndex, position) +
                                                " has the magic number " + Hex16(frame.Magic) +
                                                ", not " + Hex16(kFliFrameMagic));
        }
        m_framePosition = position;
        const std::int64_t frameEnd = position + frame.Size;
        FrameDuration duration = m_load.header.frameDuration;
        if (m_load.header.kind == FlicKind::Flc) {
            const std::uint16_t delay = m_file.U16(position + kFlcFrameDelayOffset);
            if (delay > 0) {
                duration = delay * kFlcMillisecond;
            }
        }
        m_record = nullptr;
        m_hasRecord = false;
        std::int64_t chunkPosition = position + kFliFrameHeaderSize;
        for (std::int32_t chunkIndex = 0; chunkIndex < frame.Chunks; ++chunkIndex) {
            if (chunkPosition + kFliChunkHeaderSize > frameEnd) {
                break;  // the frame holds no further chunk header
            }
            const FLIChunk chunk =
                ReadChunk(m_file, chunkPosition, frameEnd, frameIndex, m_needMore);
            Chunk(chunk, frameIndex, duration);
            chunkPosition += chunk.Size;
        }
        if (!m_hasRecord && !m_load.pictures.empty()) {
            // A frame without a decoded chunk shows the picture before it for longer.
            ++m_load.pictures.back().frameCount;
            m_load.pictures.back().duration += duration;
        }
        return frameEnd;
    }

private:
    void Chunk(const FLIChunk& chunk, std::int32_t frameIndex, FrameDuration duration)
    {
        const ChunkKindEntry* kind = FindChunkKind(chunk.Type, m_load.header.kind);
        if (kind == nullptr) {
            CountSkipped(chunk.Type, m_load);
            return;
        }
        if (kind->role == ChunkRole::Preview) {
            return;
        }
        if (!m_hasRecord) {
            m_record = m_startPicture(m_framePosition);
            m_load.pictures.push_back({frameIndex + 1, 1, duration});
            m_hasRecord = true;
        }
        if (m_record == nullptr) {
            return;
        }
        const Stopped stop = DecodeKnown(chunk, *m_record, &m_written, m_load.header.kind);
        // A delta fault spoils one frame's changes, not the file; past the few
        // kept, it is only counted.
        if (stop && m_load.lineFaults.size() < kKeptFaults) {
            try {
                RaiseDelta(chunk, *m_record, stop);
            } catch (const Error& error) {
                KeepLineFault(error, frameIndex, m_load);
            }
        } else if (stop) {
            ++m_load.moreLineFaults;
        }
    }

public:
    // The pixels that may not be 0 in the record the next picture is decoded
    // over, when it is not the one this walk decoded last.
    void SetWritten(const PixelRange& written) { m_written = written; }

private:
    ByteReader m_file;
    const PictureStart& m_startPicture;
    FliLoad& m_load;
    NeedMore* m_needMore;
    // The pixels of the record being decoded that may not be 0.
    PixelRange m_written;
    FrameRecord* m_record = nullptr;
    bool m_hasRecord = false;
    std::int64_t m_framePosition = 0;
};

// The frame walk. Fills load, decodes each picture into the record startPicture
// gives, and throws the fault that ends it; a walk that runs past the end of bytes
// says in needMore, when given, how far it needed them. load.header is read
// before, as the records are made at its size.
void WalkFrames(std::span<const std::uint8_t> bytes, const PictureStart& startPicture,
                FliLoad& load, const LoadProgress& progress, NeedMore* needMore = nullptr)
{
    const std::int32_t frameCount = load.header.frameCount;
    load.fileFrames = frameCount;
    FrameWalk walk(bytes, startPicture, load, needMore);
    std::int64_t position = load.header.firstFrame;
    for (std::int32_t frameIndex = 0; frameIndex < frameCount; ++frameIndex) {
        position = walk.Frame(position, frameIndex);
        // A stop asked for after the last frame leaves nothing unread.
        if (progress && !progress(frameIndex + 1, frameCount) && frameIndex + 1 < frameCount) {
            load.cancelled = true;
            return;
        }
    }
    if (load.pictures.empty()) {
        throw NoPicture(load, static_cast<std::int64_t>(bytes.size()) - load.header.firstFrame);
    }
}

// The header into load.header, then the walk.
void ReadAndWalk(std::span<const std::uint8_t> bytes, const PictureStart& startPicture,
                 FliLoad& load, const LoadProgress& progress, NeedMore* needMore = nullptr)
{
    if (bytes.size() < static_cast<std::size_t>(kFliHeaderSize) && needMore != nullptr) {
        needMore->end = kFliHeaderSize;
    }
    load.header = ReadFlicHeader(bytes);
    WalkFrames(bytes, startPicture, load, progress, needMore);
}

}  // namespace

FlicHeader ReadFlicHeader(std::span<const std::uint8_t> bytes)
{
    const ByteReader file(bytes, "the FLI file");
    if (bytes.size() < static_cast<std::size_t>(kFliHeaderSize)) {
        throw Error(ErrorKind::Truncated, "the file holds " +
                                              Counted(bytes.size(), "byte", "bytes") +
                                              ", an FLI header needs 128");
    }
    FlicHeader header;
    header.magic = file.U16(kFliMagicOffset);
    if (header.magic == kFlcDeepFileMagic) {
        throw Error(ErrorKind::Unsupported,
                    "the file is an FLC animation of more than 8 bits a pixel (magic number " +
                        Hex16(header.magic) + "); this program reads 8-bit FLI and FLC files");
    }
    if (header.magic != kFliFileMagic && header.magic != kFlcFileMagic) {
        throw Error(ErrorKind::Corrupt, "the file is not an FLI animation: its magic number is " +
                                            Hex16(header.magic) + ", not " + Hex16(kFliFileMagic) +
                                            " or " + Hex16(kFlcFileMagic));
    }
    header.frameCount = file.U16(kFliFrameCountOffset);
    if (header.magic == kFliFileMagic) {
        // Every FLI frame is 320 x 200, whatever the header's fields say.
        const std::uint16_t ticks = file.U16(kFliSpeedOffset);
        header.frameDuration = (ticks == 0 ? kFliTicksWhenZero : ticks) * kFliTick;
        return header;
    }
    header.kind = FlicKind::Flc;
    const std::int32_t width = file.U16(kFliWidthOffset);
    const std::int32_t height = file.U16(kFliHeightOffset);
    const std::int32_t depth = file.U16(kFliDepthOffset);
    header.width = width == 0 ? kFliWidth : width;
    header.height = height == 0 ? kFliHeight : height;
    header.depth = depth == 0 ? kFlicDepth : depth;
    if (header.depth != kFlicDepth) {
        throw Error(ErrorKind::Unsupported,
                    "the file is an FLC animation of " + std::to_string(header.depth) +
                        " bits a pixel; this program reads 8-bit FLI and FLC files");
    }
    if (header.width > kMaxFrameSide || header.height > kMaxFrameSide) {
        throw Error(ErrorKind::TooLarge, "its frames are " + std::to_string(header.width) + " x " +
                                             std::to_string(header.height) +
                                             " pixels, more than the " +
                                             std::to_string(kMaxFrameSide) + " x " +
                                             std::to_string(kMaxFrameSide) + " this program reads");
    }
    const std::uint32_t milliseconds = file.U32(kFliSpeedOffset);
    // A speed of 0 plays at one tick of 1/70 s, the fastest an FLI plays.
    header.frameDuration = milliseconds == 0 ? kFliTick : milliseconds * kFlcMillisecond;
    const std::uint32_t firstFrame = file.U32(kFlcFirstFrameOffset);
    if (firstFrame >= static_cast<std::uint32_t>(kFliHeaderSize) && firstFrame < bytes.size()) {
        header.firstFrame = firstFrame;
    }
    return header;
}

FliLoad DecodeFLIFile(std::span<const std::uint8_t> bytes, FrameStore& store,
                      const LoadProgress& progress)
{
    FliLoad load;
    const PictureStart addRecord = [&store](std::int64_t) {
        store.AddFrame();
        return &store.Newest();
    };
    try {
        load.header = ReadFlicHeader(bytes);
    } catch (const Error& error) {
        store.Reset();
        store.ReleaseUnused();
        load.stop = error;
        return load;
    }
    store.Reset(load.header.width, load.header.height);
    try {
        WalkFrames(bytes, addRecord, load, progress);
    } catch (const Error& error) {
        load.stop = error;
    } catch (...) {
        store.ReleaseUnused();
        throw;
    }
    // However the load ended, the store keeps no memory its records do not use.
    store.ReleaseUnused();
    return load;
}

FliLoad OutlineFLIFile(std::span<const std::uint8_t> bytes)
{
    FliLoad load;
    try {
        ReadAndWalk(bytes, [](std::int64_t) { return nullptr; }, load, {});
    } catch (const Error& error) {
        load.stop = error;
    }
    return load;
}

FileBytes ReadFLIBytes(const SourceFile& file)
{
    const std::uint64_t size = file.Size();
    const ByteArray header = file.ReadStart(kFliHeaderSize);
    const std::uint64_t declared =
        header.size() >= 4 ? ByteReader(header).U32(kFliFileSizeOffset) : 0;
    // A size field that cannot be the file's, or asks for more than is ever read,
    // is not followed: the frames are read as far as they go, a first guess
    // doubled until they fit.
    constexpr std::uint64_t kFirstGuess = std::uint64_t{64} << 10;
    std::uint64_t wanted = declared >= static_cast<std::uint64_t>(kFliHeaderSize) &&
                                   declared <= std::min(size, kMaxFliFileBytes)
                               ? declared
                               : std::min(size, kFirstGuess);
    for (;;) {
        if (wanted > kMaxFliFileBytes) {
            throw Error(ErrorKind::TooLarge, "its frames need more than the " +
                                                 WithThousands(kMaxFliFileBytes) +
                                                 " bytes read of an animation at most");
        }
        FileBytes bytes = file.ReadFront(wanted);
        FliLoad outline;
        NeedMore needMore;
        try {
            ReadAndWalk(
                bytes.bytes(), [](std::int64_t) { return nullptr; }, outline, {}, &needMore);
        } catch (const Error&) {
        }
        const auto needed = static_cast<std::uint64_t>(needMore.end);
        if (needed <= bytes.size() || bytes.size() >= size) {
            return bytes;
        }
        bytes = FileBytes();
        wanted = std::min(size, std::max(needed, std::min(2 * wanted, kMaxFliFileBytes)));
    }
}

FliLoad StreamFLIFile(std::span<const std::uint8_t> bytes, const PictureSink& sink,
                      const LoadProgress& progress)
{
    const FliLoad outline = OutlineFLIFile(bytes);
    FliLoad load;
    // One working record: a picture is handed on once the next one starts, or the
    // walk ends, since only then are the file frames it stands for known.
    const auto record = std::make_unique<FrameRecord>(outline.header.width, outline.header.height);
    // What the sink throws passes through the walk untouched, not as its stop.
    struct SinkFault {
        std::exception_ptr fault;
    };
    const auto handOn = [&] {
        try {
            sink(StreamedPicture{load.pictures.size(), *record, load.pictures.back(), outline});
        } catch (...) {
            throw SinkFault{std::current_exception()};
        }
    };
    const PictureStart nextPicture = [&](std::int64_t) {
        if (!load.pictures.empty()) {
            handOn();
        }
        return record.get();
    };
    try {
        try {
            ReadAndWalk(bytes, nextPicture, load, progress);
        } catch (const Error& error) {
            load.stop = error;
        }
        if (!load.pictures.empty()) {
            handOn();
        }
    } catch (const SinkFault& sinkFault) {
        std::rethrow_exception(sinkFault.fault);
    }
    return load;
}

std::size_t FrameSeeker::SnapshotInterval(std::size_t pictures, std::int32_t width,
                                          std::int32_t height, std::size_t budget) noexcept
{
    const std::size_t perSnapshot =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) + sizeof(FrameRecord);
    const std::size_t snapshots = std::max<std::size_t>(budget / perSnapshot, 1);
    return std::max<std::size_t>((pictures + snapshots - 1) / snapshots, 1);
}

struct FrameSeeker::State {
    FileBytes bytes;
    std::vector<PictureFrames> pictures;
    std::vector<std::int64_t> starts;  // where the frame that makes each picture lies
    std::size_t interval = 1;
    // Snapshot i holds picture i * interval + 1.
    std::vector<FrameRecord> snapshots;
    FrameRecord work;
    std::size_t workPicture = 0;  // the picture work holds, 0 for none
    // A seek walks the frames again over work; what the walk learns of the file
    // the load has said already.
    FliLoad walked;
    PictureStart overWork = [this](std::int64_t) { return &work; };
    std::unique_ptr<FrameWalk> walk;

    bool IsSnapshot(std::size_t picture) const noexcept { return (picture - 1) % interval == 0; }

    // Decodes the picture after workPicture over it.
    void Step()
    {
        walked.pictures.clear();
        walked.lineFaults.clear();
        walked.skipped.clear();
        try {
            walk->Frame(starts[workPicture], pictures[workPicture].firstFrame - 1);
        } catch (const Error&) {
            // The fault that stopped the load, met again in its last picture: the
            // record holds what the load's did.
        }
        ++workPicture;
    }
};

FrameSeeker::FrameSeeker() = default;
FrameSeeker::~FrameSeeker() = default;
FrameSeeker::FrameSeeker(FrameSeeker&&) noexcept = default;
FrameSeeker& FrameSeeker::operator=(FrameSeeker&&) noexcept = default;

FliLoad FrameSeeker::Load(FileBytes bytes, const LoadProgress& progress, std::size_t budget)
{
    Clear();
    auto state = std::make_unique<State>();
    State& s = *state;
    s.bytes = std::move(bytes);
    const std::span<const std::uint8_t> file = s.bytes.bytes();
    FliLoad load;
    try {
        load.header = ReadFlicHeader(file);
    } catch (const Error& error) {
        load.stop = error;
        return load;
    }
    // The headers alone count the pictures, so the snapshots' spacing is known
    // before the first is taken.
    const std::size_t expected = OutlineFLIFile(file).pictures.size();
    s.interval = SnapshotInterval(expected, load.header.width, load.header.height, budget);
    s.snapshots.reserve((expected + s.interval - 1) / s.interval);
    s.starts.reserve(expected);
    s.work = FrameRecord(load.header.width, load.header.height);
    // A new picture is decoded over the one before, which is whole by then.
    const auto keepSnapshot = [&s] {
        if (s.workPicture > 0 && s.IsSnapshot(s.workPicture)) {
            s.snapshots.push_back(s.work);
        }
    };
    const PictureStart nextPicture = [&](std::int64_t framePosition) {
        keepSnapshot();
        s.starts.push_back(framePosition);
        ++s.workPicture;
        return &s.work;
    };
    try {
        WalkFrames(file, nextPicture, load, progress);
    } catch (const Error& error) {
        load.stop = error;
    }
    keepSnapshot();
    s.pictures = load.pictures;
    s.walked.header = load.header;
    s.walk = std::make_unique<FrameWalk>(file, s.overWork, s.walked, nullptr);
    s.walk->SetWritten({0, PixelLimit(s.work)});
    m_state = std::move(state);
    return load;
}

void FrameSeeker::Clear() noexcept
{
    m_state.reset();
}

std::size_t FrameSeeker::FrameCount() const noexcept
{
    return m_state ? m_state->pictures.size() : 0;
}

std::size_t FrameSeeker::Interval() const noexcept
{
    return m_state ? m_state->interval : 1;
}

std::int32_t FrameSeeker::Width() const noexcept
{
    return m_state ? m_state->work.Width : 0;
}

std::int32_t FrameSeeker::Height() const noexcept
{
    return m_state ? m_state->work.Height : 0;
}

std::size_t FrameSeeker::HeldBytes() const noexcept
{
    if (!m_state) {
        return 0;
    }
    const std::size_t record = m_state->work.Pixels.size() + sizeof(FrameRecord);
    return (m_state->snapshots.size() + 1) * record;
}

const FrameRecord& FrameSeeker::at(std::size_t picture)
{
    if (picture < 1 || picture > FrameCount()) {
        throw Error(ErrorKind::NotFound, "there is no frame " + std::to_string(picture) +
                                             " in an animation of " +
                                             Counted(FrameCount(), "frame", "frames"));
    }
    State& s = *m_state;
    const std::size_t snapshot = (picture - 1) / s.interval;
    if (s.IsSnapshot(picture)) {
        return s.snapshots[snapshot];
    }
    const std::size_t base = snapshot * s.interval + 1;
    if (s.workPicture < base || s.workPicture > picture) {
        s.work.Pixels = s.snapshots[snapshot].Pixels;
        s.work.Colors = s.snapshots[snapshot].Colors;
        s.workPicture = base;
        s.walk->SetWritten({0, PixelLimit(s.work)});
    }
    while (s.workPicture < picture) {
        s.Step();
    }
    return s.work;
}

}  // namespace varek
