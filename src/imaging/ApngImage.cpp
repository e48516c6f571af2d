#include "imaging/ApngImage.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "imaging/IndexedImage.h"
#include "util/Error.h"

namespace varek {

namespace {

// libpng's default bounds, as the PNG writer keeps.
constexpr std::int32_t kMaxSide = 1000000;
constexpr std::int64_t kMaxDelayPart = 65535;
// A time too long for one frame goes on in parts of 9 seconds, 9/1 in any unit.
constexpr std::int64_t kLongPart = 9 * PictureTime::period::den;
constexpr std::size_t kOutputBuffer = std::size_t{1} << 16;
// The most image data one chunk holds: a large frame's data goes out in a few
// chunks, each passed on to the output as it is framed.
constexpr std::size_t kDataChunk = std::size_t{1} << 18;

enum : std::uint8_t { kDisposeNone = 0 };
enum : std::uint8_t { kBlendSource = 0, kBlendOver = 1 };

struct Rectangle {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

void PutU32(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

void PutU16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

// A PNG chunk: length, type, data and the CRC of type and data.
void AppendChunk(ByteArray& out, const char (&type)[5], std::span<const std::uint8_t> data,
                 std::span<const std::uint8_t> prefix = {})
{
    const std::size_t at = out.size();
    out.resize(at + 8);
    PutU32(out.data() + at, static_cast<std::uint32_t>(prefix.size() + data.size()));
    std::memcpy(out.data() + at + 4, type, 4);
    out.insert(out.end(), prefix.begin(), prefix.end());
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, out.data() + at + 4, 4);
    crc = crc32(crc, prefix.data(), static_cast<uInt>(prefix.size()));
    crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    out.resize(out.size() + 4);
    PutU32(out.data() + out.size() - 4, static_cast<std::uint32_t>(crc));
}

// The delay of a frame lasting part units, as a reduced fraction; part is at
// most 65535 units, so both terms fit the frame's 16 bits.
std::pair<std::uint16_t, std::uint16_t> DelayFraction(std::int64_t part)
{
    const std::int64_t den = PictureTime::period::den;
    const std::int64_t common = std::gcd(part, den);
    return {static_cast<std::uint16_t>(part / common), static_cast<std::uint16_t>(den / common)};
}

// The bytes of one row filtered by the filter that leaves the smallest sum of
// magnitudes (none, the left neighbour or the one above), the usual guess at
// what deflate packs best. row and above hold width * bpp bytes; above is empty
// for the first row. into receives the filter byte and the filtered bytes.
void FilterRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t length,
               std::size_t bpp, std::uint8_t* into, std::vector<std::uint8_t>& scratch)
{
    scratch.resize(2 * length);
    std::uint8_t* sub = scratch.data();
    std::uint8_t* up = scratch.data() + length;
    unsigned long sumNone = 0;
    unsigned long sumSub = 0;
    unsigned long sumUp = 0;
    auto magnitude = [](std::uint8_t v) { return static_cast<unsigned>(v < 128 ? v : 256 - v); };
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t left = i >= bpp ? row[i - bpp] : 0;
        sub[i] = static_cast<std::uint8_t>(row[i] - left);
        up[i] = static_cast<std::uint8_t>(row[i] - (above != nullptr ? above[i] : 0));
        sumNone += magnitude(row[i]);
        sumSub += magnitude(sub[i]);
        sumUp += magnitude(up[i]);
    }
    const std::uint8_t* best = row;
    std::uint8_t filter = 0;
    if (sumSub < sumNone && sumSub <= sumUp) {
        best = sub;
        filter = 1;
    } else if (sumUp < sumNone) {
        best = up;
        filter = 2;
    }
    into[0] = filter;
    std::memcpy(into + 1, best, length);
}

struct Picture {
    std::vector<std::uint8_t> pixels;  // bpp bytes a pixel, as stored
    PictureTime time{};
};

}  // namespace

struct ApngWriter::State {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::size_t bpp = 1;
    std::optional<Palette> shared;
    std::optional<std::uint8_t> freeIndex;
    AnimationOutput output;
    ByteArray out;
    std::uint64_t flushed = 0;    // bytes given to output.append so far
    std::uint64_t controlAt = 0;  // where the animation control chunk starts
    std::uint32_t frames = 0;
    std::uint32_t sequence = 0;
    bool finished = false;
    std::optional<Picture> shown;
    std::optional<Picture> pending;
    std::vector<std::uint8_t> spare;
    // Compression state kept from frame to frame: reset, not made anew.
    z_stream zip{};
    bool zipReady = false;
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> scratch;
    ByteArray packed;
    ByteArray packedOver;

    ~State()
    {
        if (zipReady) {
            deflateEnd(&zip);
        }
    }

    std::size_t RowBytes() const { return static_cast<std::size_t>(width) * bpp; }

    void Flush()
    {
        if (output.append && !out.empty()) {
            output.append(std::span<const std::uint8_t>(out));
            flushed += out.size();
            out.clear();
        }
    }

    void MaybeFlush()
    {
        if (output.append && out.size() >= kOutputBuffer) {
            Flush();
        }
    }

    void WriteHeader()
    {
        static constexpr std::uint8_t kSignature[] = {137, 80, 78, 71, 13, 10, 26, 10};
        out.insert(out.end(), std::begin(kSignature), std::end(kSignature));
        std::uint8_t header[13] = {};
        PutU32(header, static_cast<std::uint32_t>(width));
        PutU32(header + 4, static_cast<std::uint32_t>(height));
        header[8] = 8;
        header[9] = shared ? 3 : 6;  // indexed, or truecolour with alpha
        AppendChunk(out, "IHDR", header);
        if (shared) {
            std::array<std::uint8_t, kPaletteEntries * 3> colors{};
            for (std::size_t i = 0; i < kPaletteEntries; ++i) {
                colors[i * 3] = RedOf((*shared)[i]);
                colors[i * 3 + 1] = GreenOf((*shared)[i]);
                colors[i * 3 + 2] = BlueOf((*shared)[i]);
            }
            AppendChunk(out, "PLTE", colors);
            if (freeIndex) {
                // Every colour opaque but the free index's, which no picture shows.
                std::vector<std::uint8_t> alpha(static_cast<std::size_t>(*freeIndex) + 1, 255);
                alpha.back() = 0;
                AppendChunk(out, "tRNS", alpha);
            }
        }
        controlAt = out.size();
        WriteControl();
    }

    // The animation control chunk: the frame count, and 0 plays, for ever.
    void WriteControl()
    {
        std::uint8_t control[8] = {};
        PutU32(control, frames);
        AppendChunk(out, "acTL", control);
    }

    // The pixels as the file stores them: indices, or RGBA from palette.
    void Store(std::span<const std::uint8_t> pixels, const Palette& palette,
               std::vector<std::uint8_t>& into) const
    {
        const std::size_t count =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        if (shared) {
            into.assign(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(count));
            return;
        }
        into.resize(count * 4);
        std::uint8_t* to = into.data();
        for (std::size_t i = 0; i < count; ++i) {
            const ColorValue c = palette[pixels[i]];
            to[0] = RedOf(c);
            to[1] = GreenOf(c);
            to[2] = BlueOf(c);
            to[3] = 255;
            to += 4;
        }
    }

    // The smallest rectangle holding every changed pixel; none when nothing changed.
    std::optional<Rectangle> Changed(const Picture& before, const Picture& after) const
    {
        const std::size_t rowBytes = RowBytes();
        std::size_t left = rowBytes;
        std::size_t right = 0;
        std::int32_t top = -1;
        std::int32_t bottom = -1;
        for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t* a = before.pixels.data() + static_cast<std::size_t>(y) * rowBytes;
            const std::uint8_t* b = after.pixels.data() + static_cast<std::size_t>(y) * rowBytes;
            if (std::memcmp(a, b, rowBytes) == 0) {
                continue;
            }
            std::size_t first = 0;
            while (a[first] == b[first]) {
                ++first;
            }
            std::size_t last = rowBytes - 1;
            while (a[last] == b[last]) {
                --last;
            }
            left = std::min(left, first / bpp);
            right = std::max(right, last / bpp + 1);
            if (top < 0) {
                top = y;
            }
            bottom = y;
        }
        if (top < 0) {
            return std::nullopt;
        }
        return Rectangle{static_cast<std::int32_t>(left), top,
                         static_cast<std::int32_t>(right - left), bottom - top + 1};
    }

    void StartZip()
    {
        if (zipReady) {
            deflateReset(&zip);
            return;
        }
        // Level 6 with zlib's default window: what PNG encoders usually take, and
        // measured here to pack these pictures smaller than FFmpeg at its speed.
        if (deflateInit2(&zip, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            throw std::bad_alloc();
        }
        zipReady = true;
    }

    // Filters and compresses the rectangle of picture into packed; with over,
    // the pixels that show what before shows become transparent.
    void Pack(const Picture& picture, const Rectangle& area, const Picture* before)
    {
        const std::size_t rowBytes = RowBytes();
        const std::size_t length = static_cast<std::size_t>(area.width) * bpp;
        raw.resize((length + 1) * static_cast<std::size_t>(area.height));
        std::vector<std::uint8_t> row(before != nullptr ? length : 0);
        std::vector<std::uint8_t> previous(before != nullptr ? length : 0);
        const std::uint8_t* above = nullptr;
        for (std::int32_t y = 0; y < area.height; ++y) {
            const std::size_t at = static_cast<std::size_t>(area.top + y) * rowBytes +
                                   static_cast<std::size_t>(area.left) * bpp;
            const std::uint8_t* source = picture.pixels.data() + at;
            if (before != nullptr) {
                const std::uint8_t* old = before->pixels.data() + at;
                for (std::size_t x = 0; x < length; x += bpp) {
                    if (std::memcmp(source + x, old + x, bpp) == 0) {
                        if (bpp == 1) {
                            row[x] = *freeIndex;
                        } else {
                            std::memset(row.data() + x, 0, bpp);
                        }
                    } else {
                        std::memcpy(row.data() + x, source + x, bpp);
                    }
                }
                source = row.data();
            }
            FilterRow(source, above, length, bpp,
                      raw.data() + static_cast<std::size_t>(y) * (length + 1), scratch);
            if (before != nullptr) {
                previous.swap(row);
                above = previous.data();
            } else {
                above = source;
            }
        }
        StartZip();
        packed.resize(deflateBound(&zip, static_cast<uLong>(raw.size())));
        zip.next_in = raw.data();
        zip.avail_in = static_cast<uInt>(raw.size());
        zip.next_out = packed.data();
        zip.avail_out = static_cast<uInt>(packed.size());
        if (deflate(&zip, Z_FINISH) != Z_STREAM_END) {
            throw Error(ErrorKind::CannotWrite, "the PNG encoder failed on a frame of " +
                                                    std::to_string(area.width) + " x " +
                                                    std::to_string(area.height) + " pixels");
        }
        packed.resize(packed.size() - zip.avail_out);
    }

    void WriteFrameControl(const Rectangle& area, std::int64_t part, std::uint8_t blend)
    {
        std::uint8_t control[26] = {};
        PutU32(control, sequence++);
        PutU32(control + 4, static_cast<std::uint32_t>(area.width));
        PutU32(control + 8, static_cast<std::uint32_t>(area.height));
        PutU32(control + 12, static_cast<std::uint32_t>(area.left));
        PutU32(control + 16, static_cast<std::uint32_t>(area.top));
        const auto [num, den] = DelayFraction(part);
        PutU16(control + 20, num);
        PutU16(control + 22, den);
        control[24] = kDisposeNone;
        control[25] = blend;
        AppendChunk(out, "fcTL", control);
        ++frames;
    }

    // The packed frame as image data chunks; zlib's output is never empty.
    void WriteData(bool first)
    {
        const std::span<const std::uint8_t> data(packed);
        for (std::size_t at = 0; at < data.size(); at += kDataChunk) {
            const auto piece = data.subspan(at, std::min(kDataChunk, data.size() - at));
            if (first) {
                AppendChunk(out, "IDAT", piece);
            } else {
                std::uint8_t number[4];
                PutU32(number, sequence++);
                AppendChunk(out, "fdAT", piece, number);
            }
            MaybeFlush();
        }
    }

    // Frames for picture, drawn over shown, for as long as it lasts.
    void WritePicture(Picture& picture)
    {
        std::int64_t left = std::max<std::int64_t>(picture.time.count(), 1);
        const auto Part = [&left] {
            const std::int64_t part = left <= kMaxDelayPart ? left : kLongPart;
            left -= part;
            return part;
        };
        Rectangle area{0, 0, width, height};
        std::uint8_t blend = kBlendSource;
        if (shown) {
            area = *Changed(*shown, picture);
        }
        if (shown && (!shared || freeIndex.has_value())) {
            // The rectangle drawn over the picture before, its unchanged pixels
            // transparent, or replacing it: whichever packs smaller.
            Pack(picture, area, &*shown);
            std::swap(packed, packedOver);
            Pack(picture, area, nullptr);
            if (packedOver.size() < packed.size()) {
                std::swap(packed, packedOver);
                blend = kBlendOver;
            }
        } else {
            Pack(picture, area, nullptr);
        }
        WriteFrameControl(area, Part(), blend);
        WriteData(!shown.has_value());
        if (shown) {
            spare = std::move(shown->pixels);
        }
        shown = std::move(picture);
        while (left > 0) {
            const Rectangle dot{0, 0, 1, 1};
            Pack(*shown, dot, nullptr);
            WriteFrameControl(dot, Part(), kBlendSource);
            WriteData(false);
        }
    }

    void CheckOpen() const
    {
        if (finished) {
            throw Error(ErrorKind::CannotWrite, "the PNG file is already finished");
        }
    }
};

ApngWriter::ApngWriter(std::int32_t width, std::int32_t height, std::optional<Palette> shared,
                       std::optional<std::uint8_t> freeIndex, AnimationOutput output)
    : m_state(std::make_unique<State>())
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        throw Error(ErrorKind::Unsupported,
                    "a PNG file cannot hold an image of " + size + " pixels");
    }
    if (width > kMaxSide || height > kMaxSide) {
        throw Error(ErrorKind::TooLarge,
                    "an image of " + size + " pixels is too large for a PNG file");
    }
    State& state = *m_state;
    state.width = width;
    state.height = height;
    state.bpp = shared ? 1 : 4;
    state.shared = std::move(shared);
    state.freeIndex = state.shared ? freeIndex : std::nullopt;
    state.output = std::move(output);
    state.WriteHeader();
}

ApngWriter::~ApngWriter() = default;
ApngWriter::ApngWriter(ApngWriter&&) noexcept = default;
ApngWriter& ApngWriter::operator=(ApngWriter&&) noexcept = default;

void ApngWriter::AddPicture(std::span<const std::uint8_t> pixels, const Palette& palette,
                            PictureTime time)
{
    State& state = *m_state;
    state.CheckOpen();
    CheckPictureBytes(state.width, state.height, pixels);
    if (state.shared && palette != *state.shared) {
        throw Error(ErrorKind::Unsupported,
                    "a picture in other colours cannot join an indexed PNG animation");
    }
    time = std::max(time, PictureTime{1});
    Picture next{std::move(state.spare), time};
    state.Store(pixels, palette, next.pixels);
    if (state.pending && state.pending->pixels == next.pixels) {
        state.pending->time += time;
        state.spare = std::move(next.pixels);
        return;
    }
    if (state.pending) {
        state.WritePicture(*state.pending);
    }
    state.pending = std::move(next);
}

ByteArray ApngWriter::Finish()
{
    State& state = *m_state;
    state.CheckOpen();
    if (!state.pending) {
        throw Error(ErrorKind::NotFound, "an animated PNG file needs at least one picture");
    }
    state.finished = true;
    state.WritePicture(*state.pending);
    state.pending.reset();
    AppendChunk(state.out, "IEND", {});
    // The frame count, known now, over the placeholder written first.
    ByteArray control;
    std::swap(control, state.out);
    state.WriteControl();
    std::swap(control, state.out);
    if (state.controlAt >= state.flushed) {
        std::copy(control.begin(), control.end(),
                  state.out.begin() + static_cast<std::ptrdiff_t>(state.controlAt - state.flushed));
    } else {
        state.output.rewrite(state.controlAt, control);
    }
    if (state.output.append) {
        state.Flush();
        return {};
    }
    return std::move(state.out);
}

}  // namespace varek
