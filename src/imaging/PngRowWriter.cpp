#include "imaging/PngRowWriter.h"

#include <zlib.h>

#include <algorithm>
#include <deque>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/PngFilter.h"
#include "util/ByteWriter.h"
#include "util/Error.h"

namespace varek {

namespace {

// Rows are compressed in blocks of about this many bytes, each on a thread of
// its own as an independent piece of one deflate stream, as parallel gzip
// compressors do: a large sheet takes every core, for a file a few hundredths
// larger than one stream would make.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

// PNG_USER_WIDTH_MAX and PNG_USER_HEIGHT_MAX, libpng's default bounds, which
// other readers share.
constexpr std::int32_t kLongestSide = 1000000;

// A block of rows and its piece of the deflate stream. Blocks are kept for the
// next rows once written, with their buffers and compressor, so no block pays
// for fresh memory.
struct Block {
    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block()
    {
        if (streamReady) {
            deflateEnd(&stream);
        }
    }

    ByteArray rows;  // the row above them first, when hasAbove
    bool hasAbove = false;
    bool last = false;
    ByteArray filtered;
    ByteArray scratch;
    ByteArray bytes;  // the compressed piece
    uLong adler = 0;  // of filtered
    z_stream stream{};
    bool streamReady = false;
};

// Filters a block's rows and compresses them as raw deflate; a block that is not
// the last ends on a byte boundary so the next one's piece can follow it.
void CompressBlock(Block& block, std::size_t rowBytes, std::size_t pixelBytes)
{
    const std::size_t first = block.hasAbove ? rowBytes : 0;
    const ByteArray& rows = block.rows;
    block.filtered.resize((rows.size() - first) / rowBytes * (rowBytes + 1));
    block.scratch.resize(2 * rowBytes);
    std::uint8_t* out = block.filtered.data();
    for (std::size_t at = first; at < rows.size(); at += rowBytes) {
        FilterPngRow(rows.data() + at, at >= rowBytes ? rows.data() + at - rowBytes : nullptr,
                     rowBytes, pixelBytes, block.scratch.data(), out);
        out += rowBytes + 1;
    }
    z_stream& stream = block.stream;
    if (!block.streamReady) {
        // Zlib's fastest level, as for single images.
        if (deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            throw std::bad_alloc();
        }
        block.streamReady = true;
    } else if (deflateReset(&stream) != Z_OK) {
        throw Error(ErrorKind::CannotWrite, "the PNG encoder's compressor failed");
    }
    const ByteArray& filtered = block.filtered;
    block.adler =
        adler32(adler32(0, nullptr, 0), filtered.data(), static_cast<uInt>(filtered.size()));
    block.bytes.resize(deflateBound(&stream, static_cast<uLong>(filtered.size())) + 16);
    stream.next_in = block.filtered.data();
    stream.avail_in = static_cast<uInt>(filtered.size());
    stream.next_out = block.bytes.data();
    stream.avail_out = static_cast<uInt>(block.bytes.size());
    const int result = deflate(&stream, block.last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool done = block.last ? result == Z_STREAM_END : result == Z_OK && stream.avail_in == 0;
    block.bytes.resize(block.bytes.size() - stream.avail_out);
    if (!done) {
        throw Error(ErrorKind::CannotWrite, "the PNG encoder's compressor failed");
    }
}

void AppendU32(ByteArray& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// A whole chunk: length, type, data and the CRC of type and data.
ByteArray Chunk(const char* type, std::span<const std::uint8_t> data)
{
    ByteArray chunk;
    chunk.reserve(data.size() + 12);
    AppendU32(chunk, static_cast<std::uint32_t>(data.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    AppendU32(chunk, static_cast<std::uint32_t>(
                         crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
    return chunk;
}

}  // namespace

struct PngRowWriter::State {
    PngOutput output;
    std::size_t rowBytes = 0;
    std::size_t pixelBytes = 1;
    std::int32_t rowsLeft = 0;
    bool failed = false;
    bool started = false;  // the stream's header is written
    std::size_t mostPending = 2;
    uLong adler = 1;  // of every filtered byte so far
    std::unique_ptr<Block> filling = std::make_unique<Block>();
    std::vector<std::unique_ptr<Block>> idle;
    // In the file's order; last, so that its compressions end before the rest goes.
    std::deque<std::pair<std::unique_ptr<Block>, std::future<void>>> pending;

    // Writes the oldest pending block's piece of the stream as an IDAT chunk;
    // the first piece after the stream's header, the last before its end, the
    // Adler-32 of everything.
    void WriteOldest(bool last)
    {
        pending.front().second.get();
        std::unique_ptr<Block> block = std::move(pending.front().first);
        pending.pop_front();
        adler = adler32_combine(adler, block->adler, static_cast<z_off_t>(block->filtered.size()));
        ByteArray head;
        ByteArray tail;
        if (!started) {
            // CMF and FLG: deflate with a 32 KiB window, the fastest level.
            head = {0x78, 0x01};
            started = true;
        }
        if (last) {
            AppendU32(tail, static_cast<std::uint32_t>(adler));
        }
        ByteArray lead;
        AppendU32(lead,
                  static_cast<std::uint32_t>(head.size() + block->bytes.size() + tail.size()));
        lead.insert(lead.end(), {'I', 'D', 'A', 'T'});
        uLong crc = crc32(0, lead.data() + 4, 4);
        for (const ByteArray* part : {&head, &block->bytes, &tail}) {
            // Zlib takes a null buffer, as an empty array may give, for a fresh start.
            if (!part->empty()) {
                crc = crc32(crc, part->data(), static_cast<uInt>(part->size()));
            }
        }
        lead.insert(lead.end(), head.begin(), head.end());
        output(lead);
        output(block->bytes);
        AppendU32(tail, static_cast<std::uint32_t>(crc));
        output(tail);
        idle.push_back(std::move(block));
    }

    // Sends the rows gathered to be compressed, and starts the next block with
    // the last of them, the row above its first, which the up filter reads.
    void Submit(bool last)
    {
        std::unique_ptr<Block> next;
        if (idle.empty()) {
            next = std::make_unique<Block>();
        } else {
            next = std::move(idle.back());
            idle.pop_back();
        }
        next->rows.assign(filling->rows.end() - static_cast<std::ptrdiff_t>(rowBytes),
                          filling->rows.end());
        next->hasAbove = true;
        filling->last = last;
        Block* block = filling.get();
        std::future<void> done = std::async(
            std::launch::async, [this, block] { CompressBlock(*block, rowBytes, pixelBytes); });
        pending.emplace_back(std::move(filling), std::move(done));
        filling = std::move(next);
        while (pending.size() > mostPending) {
            WriteOldest(false);
        }
    }
};

PngRowWriter::PngRowWriter(std::int32_t width, std::int32_t height,
                           const std::optional<Palette>& palette, PngOutput output)
    : m_state(std::make_unique<State>())
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        throw Error(ErrorKind::Unsupported,
                    "a PNG file cannot hold an image of " + size + " pixels");
    }
    if (width > kLongestSide || height > kLongestSide) {
        throw Error(ErrorKind::TooLarge,
                    "an image of " + size + " pixels is too large for a PNG file");
    }
    State& state = *m_state;
    state.output = std::move(output);
    state.pixelBytes = palette ? 1 : 3;
    state.rowBytes = static_cast<std::size_t>(width) * state.pixelBytes;
    state.rowsLeft = height;
    state.mostPending = std::max(2u, std::thread::hardware_concurrency());

    static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ByteArray head(std::begin(kSignature), std::end(kSignature));
    ByteArray header;
    AppendU32(header, static_cast<std::uint32_t>(width));
    AppendU32(header, static_cast<std::uint32_t>(height));
    // 8 bits a sample, palette or RGB, deflate, adaptive filters, no interlace.
    header.insert(header.end(), {8, static_cast<std::uint8_t>(palette ? 3 : 2), 0, 0, 0});
    const ByteArray ihdr = Chunk("IHDR", header);
    head.insert(head.end(), ihdr.begin(), ihdr.end());
    if (palette) {
        ByteArray colours;
        for (std::size_t i = 0; i < kPaletteEntries; ++i) {
            const ColorValue c = (*palette)[i];
            colours.insert(colours.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
        }
        const ByteArray plte = Chunk("PLTE", colours);
        head.insert(head.end(), plte.begin(), plte.end());
    }
    state.output(head);
}

PngRowWriter::~PngRowWriter() = default;

void PngRowWriter::WriteRow(std::span<const std::uint8_t> row)
{
    State& state = *m_state;
    if (state.failed) {
        throw Error(ErrorKind::CannotWrite, "the PNG encoder failed before");
    }
    if (row.size() < state.rowBytes) {
        throw Error(ErrorKind::Truncated, "a PNG row needs " + std::to_string(state.rowBytes) +
                                              " bytes, " + std::to_string(row.size()) +
                                              " were given");
    }
    if (state.rowsLeft == 0) {
        throw Error(ErrorKind::CannotWrite, "every row of the PNG file is written already");
    }
    try {
        ByteArray& rows = state.filling->rows;
        rows.insert(rows.end(), row.begin(),
                    row.begin() + static_cast<std::ptrdiff_t>(state.rowBytes));
        --state.rowsLeft;
        if (rows.size() >= kBlockBytes && state.rowsLeft > 0) {
            state.Submit(false);
        }
    } catch (...) {
        state.failed = true;
        throw;
    }
}

void PngRowWriter::Finish()
{
    State& state = *m_state;
    if (state.failed) {
        throw Error(ErrorKind::CannotWrite, "the PNG encoder failed before");
    }
    if (state.rowsLeft > 0) {
        throw Error(ErrorKind::CannotWrite,
                    "the PNG file lacks " + std::to_string(state.rowsLeft) + " rows");
    }
    try {
        state.Submit(true);
        while (!state.pending.empty()) {
            state.WriteOldest(state.pending.size() == 1);
        }
        state.output(Chunk("IEND", {}));
    } catch (...) {
        state.failed = true;
        throw;
    }
    state.rowsLeft = -1;
}

}  // namespace varek
