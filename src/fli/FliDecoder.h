#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fli/FliFormat.h"
#include "fli/FrameStore.h"
#include "util/ByteSource.h"
#include "util/ByteWriter.h"
#include "util/Error.h"
#include "util/FileRead.h"

namespace varek {

// One chunk of a frame: its declared size including the 6-byte header, its type,
// and its payload (a view into the file's bytes).
struct FLIChunk {
    std::int32_t Size = 0;
    std::int16_t Type = 0;
    std::span<const std::uint8_t> Data;
};

// A frame header: its size including the 16-byte header, magic and chunk count.
struct FLIFrame {
    std::int32_t Size = 0;
    std::uint16_t Magic = 0;
    std::int16_t Chunks = 0;
};

// The two versions of the format: FLI, 320 x 200 at 1/70 s ticks, and FLC, any
// size at milliseconds with chunk types of its own.
enum class FlicKind { Fli, Flc };

// A file header read once, its fields normalised: a width or height of 0 made
// 320 x 200, a depth of 0 made 8, the speed made a duration.
struct FlicHeader {
    FlicKind kind = FlicKind::Fli;
    std::uint16_t magic = kFliFileMagic;
    std::int32_t frameCount = 0;  // the ring frame not counted
    std::int32_t width = kFliWidth;
    std::int32_t height = kFliHeight;
    std::int32_t depth = kFlicDepth;
    FrameDuration frameDuration = kFliTicksWhenZero * kFliTick;  // each frame's, unless its own
    std::int64_t firstFrame = kFliHeaderSize;                    // the offset of frame 1

    bool operator==(const FlicHeader&) const = default;
};

// The header of an FLI or FLC file. Throws Error: Truncated for fewer than 128
// bytes, Corrupt for a magic number of neither, Unsupported for pixels other than
// 8-bit, TooLarge for a side above kMaxFrameSide.
FlicHeader ReadFlicHeader(std::span<const std::uint8_t> bytes);

// The chunk decoders, for the record's width and height. Each writes what it can
// before a fault and then throws Error: Truncated for a read past the payload,
// Corrupt for a write outside the frame or the colour table.

// Colour packets into record.Colors: 6-bit components, and 8-bit ones for the FLC type.
void DecodeColorChunk(const FLIChunk& chunk, FrameRecord& record);
void DecodeColor256Chunk(const FLIChunk& chunk, FrameRecord& record);
// Line-compressed changes into record.Pixels, by bytes and by pixel pairs (FLC).
void DecodeLCChunk(const FLIChunk& chunk, FrameRecord& record);
void DecodeDeltaFlcChunk(const FLIChunk& chunk, FrameRecord& record);
// A byte-run compressed image into record.Pixels; FLC rows end at the width.
void DecodeBRUNChunk(const FLIChunk& chunk, FrameRecord& record, FlicKind kind = FlicKind::Fli);
// width x height uncompressed pixels.
void DecodeCopyChunk(const FLIChunk& chunk, FrameRecord& record);
// Every pixel 0; the colours stay.
void DecodeBlackChunk(FrameRecord& record);
// Runs the decoder for the chunk's type in a file of kind on record; other
// types are ignored.
void DecodeChunk(const FLIChunk& chunk, FrameRecord& record, FlicKind kind = FlicKind::Fli);

// The file frames one decoded picture stands for: the frame that made it (counted
// from 1) and the frames without a decoded chunk that follow it, and how long
// they last together.
struct PictureFrames {
    std::int32_t firstFrame = 0;
    std::int32_t frameCount = 0;
    FrameDuration duration{};

    bool operator==(const PictureFrames&) const = default;
};

// Chunks of a type no decoder reads: the type as the file gives it and how many.
struct SkippedChunks {
    std::uint16_t type = 0;
    std::size_t count = 0;

    bool operator==(const SkippedChunks&) const = default;
};

// However many faults or foreign chunks a file holds, a load keeps this many of
// each and counts the rest, so its memory and its report stay small.
constexpr std::size_t kKeptFaults = 10;

// What a load of an FLI or FLC file gives besides the records in the store.
struct FliLoad {
    FlicHeader header;                    // as read; the default one when it could not be
    std::int32_t fileFrames = 0;          // the header's frame count, the ring frame not counted
    std::vector<PictureFrames> pictures;  // pictures[i] is picture i + 1, record i + 1 of a store
    // The first kKeptFaults line-compression faults, each naming its frame, and
    // how many followed them; the load went on after each.
    std::vector<Error> lineFaults;
    std::size_t moreLineFaults = 0;
    // The chunk types skipped, the first kKeptFaults in the order met, and how
    // many chunks of further types there were.
    std::vector<SkippedChunks> skipped;
    std::size_t moreSkipped = 0;
    std::optional<Error> stop;  // the fault that ended the load early
    bool cancelled = false;     // the progress callback ended the load early

    bool complete() const noexcept { return !stop.has_value(); }
    std::size_t lineFaultCount() const noexcept { return lineFaults.size() + moreLineFaults; }
};

// Resets store to the header's frame size and decodes every frame of an FLI or
// FLC file held in bytes; the bytes decide which, never the file's name. Each frame
// holding a decoded chunk gets one record of its own, made by AddFrame when its
// first decoded chunk is reached; the frame's chunks then work on that record in
// file order. Exactly the header's frame count is read. A file that gives no
// picture, its header counting no frames or its frames holding only chunks of
// other types, ends with a stop that says so. A frame's chunks are read
// within the frame: a chunk whose declared size passes the frame's end is cut at
// it. A line-compression fault keeps what the chunk wrote and the load goes on;
// any other fault (a header or payload past the end of bytes, a frame size below
// 16, a chunk size below 6, a fault in another decoder, a store that would pass its
// bound) ends the load as its stop, the records made before it kept. A header
// refused by ReadFlicHeader is the stop of a load with no record. Throws only
// when memory runs out.
// Told after each file frame how many of the header's frames have been read;
// returning false ends the load there, with what was decoded kept.
using LoadProgress = std::function<bool(std::int32_t framesRead, std::int32_t frameCount)>;

FliLoad DecodeFLIFile(std::span<const std::uint8_t> bytes, FrameStore& store,
                      const LoadProgress& progress = {});

// The file's structure from its headers alone, no chunk decoded: the speed, the
// frame count, and the pictures a full decode gives unless a chunk's payload
// fails; stop holds a fault of the headers.
FliLoad OutlineFLIFile(std::span<const std::uint8_t> bytes);

// The bytes of an FLI file that its frames are decoded from: as far as the
// header's size field says, bytes beyond it never read. Where the frames the
// header counts run on past that size, or the field gives less than a header or
// more than the file holds, as far as those frames go instead (a file cut short
// is read whole). Throws Error: what file's reads throw, and TooLarge, before
// reading them, when the frames need more than kMaxFliFileBytes.
FileBytes ReadFLIBytes(const SourceFile& file);

// One decoded picture as StreamFLIFile hands it on.
struct StreamedPicture {
    std::size_t number = 0;       // counted from 1
    const FrameRecord& record;    // valid during the call only
    const PictureFrames& frames;  // every file frame the picture stands for
    const FliLoad& outline;       // OutlineFLIFile of the file, known before the first
};
using PictureSink = std::function<void(const StreamedPicture& picture)>;

// Decodes as DecodeFLIFile does, in one working record instead of a store, and
// hands each picture to sink once the file frames it stands for are known: when
// the next picture starts or the walk ends, however it ends. Memory stays the
// same whatever the number of frames, and the store's bound does not apply.
// Throws what sink throws, and when memory runs out.
FliLoad StreamFLIFile(std::span<const std::uint8_t> bytes, const PictureSink& sink,
                      const LoadProgress& progress = {});

// Any picture of an animation on demand, without holding every one: after every
// Interval()-th picture its pixels and colours are kept as a snapshot, and a seek
// decodes forward from the nearest snapshot at or before the picture, or from the
// picture last reached when that is nearer, as video players do. Stepping forward
// decodes one picture. The seeker owns the file's bytes, its snapshots and one
// working record; the caller owns the seeker.
class FrameSeeker {
public:
    // The memory snapshots may take: every picture of a 320 x 200 animation of
    // up to 257 pictures, of a 640 x 480 one of up to 54; past that a seek
    // decodes at most Interval() - 1 pictures, each a few microseconds to a few tens.
    static constexpr std::size_t kSnapshotBytes = std::size_t{16} << 20;

    // Pictures from one snapshot to the next for an animation of pictures of
    // width x height: 1 while every picture fits in budget, else the fewest that
    // keep the snapshots within it (at least one snapshot, the first picture).
    static std::size_t SnapshotInterval(std::size_t pictures, std::int32_t width,
                                        std::int32_t height,
                                        std::size_t budget = kSnapshotBytes) noexcept;

    FrameSeeker();
    ~FrameSeeker();
    FrameSeeker(FrameSeeker&&) noexcept;
    FrameSeeker& operator=(FrameSeeker&&) noexcept;
    FrameSeeker(const FrameSeeker&) = delete;
    FrameSeeker& operator=(const FrameSeeker&) = delete;

    // Walks the file as DecodeFLIFile does and returns the same load (its pictures,
    // faults, stop and cancel), the picture count having no bound but the file's;
    // the seeker then gives the pictures that load decoded, and keeps bytes for
    // the seeks. The last load's pictures go first. Throws only when memory runs out.
    FliLoad Load(FileBytes bytes, const LoadProgress& progress = {},
                 std::size_t budget = kSnapshotBytes);
    // No picture; the bytes and snapshots given back.
    void Clear() noexcept;

    std::size_t FrameCount() const noexcept;
    std::size_t Interval() const noexcept;
    std::int32_t Width() const noexcept;
    std::int32_t Height() const noexcept;
    // The memory of the snapshots and the working record; the file's bytes not counted.
    std::size_t HeldBytes() const noexcept;

    // Picture number (from 1) as a full decode gives it, pixels and colours. The
    // record stays valid until the next call to a non-const member. Throws a
    // NotFound Error for a picture that does not exist.
    const FrameRecord& at(std::size_t picture);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace varek
