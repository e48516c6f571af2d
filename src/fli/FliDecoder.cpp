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

constexpr std::int64_t kPixelLimit = static_cast<std::int64_t>(kFramePixels);

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

[[noreturn]] void Raise(const DecodeStop& stop, const ByteReader& data)
{
    if (stop.pastPayload) {
        data.Require(stop.offset, stop.count);
    }
    throw Error(ErrorKind::Corrupt,
                "pixel " + std::to_string(stop.pixel) + " lies outside the 320 x 200 frame");
}

// The pixels a decoder wrote, from first to one past the last; empty when first >= end.
struct PixelRange {
    std::int64_t first = kPixelLimit;
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
        : m_pixels(record.Pixels), m_at(start), m_written(written)
    {
    }

    void Skip(std::int64_t count) { m_at += count; }

    // One value count times; the pixels that fit are written before the stop.
    Stopped Replicate(std::int64_t count, std::uint8_t value)
    {
        if (count <= 0) {
            return std::nullopt;
        }
        const std::int64_t fits = std::clamp<std::int64_t>(kPixelLimit - m_at, 0, count);
        if (fits > 0) {
            std::memset(m_pixels.data() + m_at, value, static_cast<std::size_t>(fits));
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
            std::clamp<std::int64_t>(std::min(kPixelLimit - m_at, dataLeft), 0, count);
        if (fits > 0) {
            std::memcpy(m_pixels.data() + m_at, data.data() + offset,
                        static_cast<std::size_t>(fits));
            Written(fits);
        }
        if (fits < count) {
            return dataLeft < count ? PastPayload(offset, count)
                                    : DecodeStop{false, 0, 0, m_at + fits};
        }
        m_at += count;
        return std::nullopt;
    }

    // After a row: a row without packets moves on by exactly one row; otherwise the
    // cursor rises to the next row start unless the packets ended exactly on one.
    void EndRow(unsigned packetCount)
    {
        if (packetCount == 0) {
            m_at += kFrameWidth;
        } else if (m_at % kFrameWidth != 0) {
            m_at += kFrameWidth - m_at % kFrameWidth;
        }
    }

private:
    void Written(std::int64_t count)
    {
        if (m_written != nullptr) {
            m_written->Add(m_at, count);
        }
    }

    FramePixels& m_pixels;
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

void DecodeColorChunk(const FLIChunk& chunk, FrameRecord& record)
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
                VgaColor(triple[0], triple[1], triple[2]);
        }
        cursor += 3 * count;
        index += count;
    }
}

namespace {

// The line-compression decoder, reading its payload without throwing.
Stopped DecodeLC(const FLIChunk& chunk, FrameRecord& record, PixelRange* written)
{
    const ByteSpan data = chunk.Data;
    const auto size = static_cast<std::int64_t>(data.size());
    std::int64_t cursor = 0;
    // The next byte of the payload, or false past its end.
    const auto next = [&](std::uint8_t& value) {
        if (cursor >= size) {
            return false;
        }
        value = data[static_cast<std::size_t>(cursor++)];
        return true;
    };
    if (size < kLCRowsOffset) {
        const std::int64_t field = size < kLCRowCountOffset ? kLCFirstRowOffset : kLCRowCountOffset;
        return PastPayload(field, 2);
    }
    const std::int64_t firstRow = data[kLCFirstRowOffset] | data[kLCFirstRowOffset + 1] << 8;
    const std::int64_t rowCount = data[kLCRowCountOffset] | data[kLCRowCountOffset + 1] << 8;
    cursor = kLCRowsOffset;
    PixelCursor pixels(record, firstRow * kFrameWidth, written);
    for (std::int64_t row = 0; row < rowCount; ++row) {
        std::uint8_t packetCount = 0;
        if (!next(packetCount)) {
            return PastPayload(cursor, 1);
        }
        for (unsigned packet = 0; packet < packetCount; ++packet) {
            std::uint8_t skip = 0;
            std::uint8_t runSize = 0;
            if (!next(skip)) {
                return PastPayload(cursor, 1);
            }
            pixels.Skip(skip);
            if (!next(runSize)) {
                return PastPayload(cursor, 1);
            }
            if (runSize >= kRunSizeSign) {
                std::uint8_t value = 0;
                if (!next(value)) {
                    return PastPayload(cursor, 1);
                }
                if (Stopped stop = pixels.Replicate(256 - runSize, value)) {
                    return stop;
                }
            } else {
                if (Stopped stop = pixels.Copy(data, cursor, runSize)) {
                    return stop;
                }
                cursor += runSize;
            }
        }
        pixels.EndRow(packetCount);
    }
    return std::nullopt;
}

void DecodeBRUN(const FLIChunk& chunk, FrameRecord& record, PixelRange* written)
{
    const ByteReader data(chunk.Data, "the byte-run chunk");
    std::int64_t cursor = 0;
    PixelCursor pixels(record, 0, written);
    for (std::int32_t row = 0; row < kFrameHeight; ++row) {
        const unsigned packetCount = data.U8(cursor++);
        for (unsigned packet = 0; packet < packetCount; ++packet) {
            const std::uint8_t size = data.U8(cursor++);
            // A size of 0 writes nothing but still uses up its pixel byte.
            Stopped stop = size < kRunSizeSign ? pixels.Replicate(size, data.U8(cursor++))
                                               : pixels.Copy(data.bytes(), cursor, 256 - size);
            if (stop) {
                Raise(*stop, data);
            }
            if (size >= kRunSizeSign) {
                cursor += 256 - size;
            }
        }
        pixels.EndRow(packetCount);
    }
}

void DecodeCopy(const FLIChunk& chunk, FrameRecord& record, PixelRange* written)
{
    const ByteReader data(chunk.Data, "the uncompressed chunk");
    PixelCursor pixels(record, 0, written);
    if (Stopped stop = pixels.Copy(data.bytes(), 0, static_cast<std::int64_t>(kFramePixels))) {
        Raise(*stop, data);
    }
}

// Throws the fault a line-compression decode stopped at.
void RaiseLC(const FLIChunk& chunk, const Stopped& stop)
{
    if (stop) {
        Raise(*stop, ByteReader(chunk.Data, "the line-compression chunk"));
    }
}

// DecodeChunk that also widens written by the pixels the chunk wrote. A black
// chunk clears only the pixels written since the record was last all black, and
// empties written: a file of black chunks costs no more than the pixels it set.
void DecodeTracked(const FLIChunk& chunk, FrameRecord& record, PixelRange& written)
{
    switch (chunk.Type) {
        case FLI_LC:
            RaiseLC(chunk, DecodeLC(chunk, record, &written));
            break;
        case FLI_BRUN:
            DecodeBRUN(chunk, record, &written);
            break;
        case FLI_COPY:
            DecodeCopy(chunk, record, &written);
            break;
        case FLI_BLACK:
            if (written.first < written.end) {
                std::memset(record.Pixels.data() + written.first, 0,
                            static_cast<std::size_t>(written.end - written.first));
            }
            written = PixelRange{};
            break;
        default:
            DecodeChunk(chunk, record);
            break;
    }
}

}  // namespace

void DecodeLCChunk(const FLIChunk& chunk, FrameRecord& record)
{
    RaiseLC(chunk, DecodeLC(chunk, record, nullptr));
}

void DecodeBRUNChunk(const FLIChunk& chunk, FrameRecord& record)
{
    DecodeBRUN(chunk, record, nullptr);
}

void DecodeCopyChunk(const FLIChunk& chunk, FrameRecord& record)
{
    DecodeCopy(chunk, record, nullptr);
}

void DecodeBlackChunk(FrameRecord& record)
{
    record.Pixels.fill(0);
}

void DecodeChunk(const FLIChunk& chunk, FrameRecord& record)
{
    switch (chunk.Type) {
        case FLI_COLOR:
            DecodeColorChunk(chunk, record);
            break;
        case FLI_LC:
            DecodeLCChunk(chunk, record);
            break;
        case FLI_BLACK:
            DecodeBlackChunk(record);
            break;
        case FLI_BRUN:
            DecodeBRUNChunk(chunk, record);
            break;
        case FLI_COPY:
            DecodeCopyChunk(chunk, record);
            break;
        default:
            break;
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
// without decoding.
using PictureStart = std::function<FrameRecord*()>;

// The frame walk. Fills load, decodes each picture into the record startPicture
// gives, and throws the fault that ends it; a walk that runs past the end of bytes
// says in needMore, when given, how far it needed them.
void WalkFrames(std::span<const std::uint8_t> bytes, const PictureStart& startPicture,
                FliLoad& load, const LoadProgress& progress, NeedMore* needMore = nullptr)
{
    const ByteReader file(bytes, "the FLI file");
    const auto fileSize = static_cast<std::int64_t>(bytes.size());
    if (bytes.size() < static_cast<std::size_t>(kFliHeaderSize)) {
        if (needMore != nullptr) {
            needMore->end = kFliHeaderSize;
        }
        throw Error(ErrorKind::Truncated, "the file holds " +
                                              Counted(bytes.size(), "byte", "bytes") +
                                              ", an FLI header needs 128");
    }
    const std::uint16_t magic = file.U16(kFliMagicOffset);
    if (magic == kFlcFileMagic) {
        throw Error(ErrorKind::Unsupported,
                    "the file is an FLC animation, which this program does not read; it reads "
                    "FLI animations");
    }
    if (magic != kFliFileMagic) {
        throw Error(ErrorKind::Corrupt, "the file is not an FLI animation: its magic number is " +
                                            Hex16(magic) + ", not " + Hex16(kFliFileMagic));
    }
    const std::int32_t frameCount = file.U16(kFliFrameCountOffset);
    load.speed = file.U16(kFliSpeedOffset);
    load.fileFrames = frameCount;

    // The pixels of the record being decoded that may not be 0.
    PixelRange written;
    std::int64_t position = kFliHeaderSize;
    for (std::int32_t frameIndex = 0; frameIndex < frameCount; ++frameIndex) {
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
        if (frame.Magic != kFliFrameMagic) {
            throw Error(ErrorKind::Corrupt, Described("frame", frameIndex, position) +
                                                " has the magic number " + Hex16(frame.Magic) +
                                                ", not " + Hex16(kFliFrameMagic));
        }
        const std::int64_t frameEnd = position + frame.Size;

        bool hasRecord = false;
        FrameRecord* record = nullptr;
        std::int64_t chunkPosition = position + kFliFrameHeaderSize;
        for (std::int32_t chunkIndex = 0; chunkIndex < frame.Chunks; ++chunkIndex) {
            if (chunkPosition + kFliChunkHeaderSize > frameEnd) {
                break;  // the frame holds no further chunk header
            }
            const auto where = [&] {
                return "the chunk at offset " + std::to_string(chunkPosition) + " of frame " +
                       std::to_string(frameIndex + 1);
            };
            if (chunkPosition + kFliChunkHeaderSize > fileSize) {
                ThrowPastEnd(where(), fileSize, chunkPosition + kFliChunkHeaderSize, needMore);
            }
            FLIChunk chunk;
            chunk.Size = file.I32(chunkPosition + kFliChunkSizeOffset);
            chunk.Type = file.I16(chunkPosition + kFliChunkTypeOffset);
            if (chunk.Size < kFliChunkHeaderSize) {
                throw Error(ErrorKind::Corrupt, where() + " gives its size as " +
                                                    std::to_string(chunk.Size) +
                                                    ", less than its 6-byte header");
            }
            const std::int64_t chunkEnd = std::min(chunkPosition + chunk.Size, frameEnd);
            if (chunkEnd > fileSize) {
                ThrowPastEnd(where(), fileSize, chunkEnd, needMore);
            }
            chunk.Data = bytes.subspan(
                static_cast<std::size_t>(chunkPosition + kFliChunkHeaderSize),
                static_cast<std::size_t>(chunkEnd - chunkPosition - kFliChunkHeaderSize));
            if (!IsDecodedChunkType(chunk.Type)) {
                CountSkipped(chunk.Type, load);
            } else {
                if (!hasRecord) {
                    record = startPicture();
                    load.pictures.push_back({frameIndex + 1, 1});
                    hasRecord = true;
                }
                if (record != nullptr && chunk.Type == FLI_LC) {
                    // A line-compression fault spoils one frame's changes, not the
                    // file; past the few kept, it is only counted.
                    const Stopped stop = DecodeLC(chunk, *record, &written);
                    if (stop && load.lineFaults.size() < kKeptFaults) {
                        try {
                            RaiseLC(chunk, stop);
                        } catch (const Error& error) {
                            KeepLineFault(error, frameIndex, load);
                        }
                    } else if (stop) {
                        ++load.moreLineFaults;
                    }
                } else if (record != nullptr) {
                    DecodeTracked(chunk, *record, written);
                }
            }
            chunkPosition += chunk.Size;
        }
        // A frame without a decoded chunk shows the picture before it for longer.
        if (!hasRecord && !load.pictures.empty()) {
            ++load.pictures.back().frameCount;
        }
        position = frameEnd;
        // A stop asked for after the last frame leaves nothing unread.
        if (progress && !progress(frameIndex + 1, frameCount) && frameIndex + 1 < frameCount) {
            load.cancelled = true;
            return;
        }
    }
    if (load.pictures.empty()) {
        throw NoPicture(load, fileSize - kFliHeaderSize);
    }
}

}  // namespace

FliLoad DecodeFLIFile(std::span<const std::uint8_t> bytes, FrameStore& store,
                      const LoadProgress& progress)
{
    store.Reset();
    FliLoad load;
    const PictureStart addRecord = [&store] {
        store.AddFrame();
        return &store.Newest();
    };
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
        WalkFrames(bytes, [] { return nullptr; }, load, {});
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
            WalkFrames(
                bytes.bytes(), [] { return nullptr; }, outline, {}, &needMore);
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
    const auto record = std::make_unique<FrameRecord>();
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
    const PictureStart nextPicture = [&] {
        if (!load.pictures.empty()) {
            handOn();
        }
        return record.get();
    };
    try {
        try {
            WalkFrames(bytes, nextPicture, load, progress);
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

}  // namespace varek
