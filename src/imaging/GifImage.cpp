#include "imaging/GifImage.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "util/Error.h"
#include "util/WorkQueue.h"

namespace varek {

namespace {

// A GIF file stores sizes, positions and delays in 16 bits.
constexpr std::int32_t kMaxGifSide = 65535;
constexpr std::int64_t kMaxGifDelay = 65535;
// Browsers show a frame of 0 or 1 hundredth for 10 hundredths: an animation with
// such frames would play several times too slow.
constexpr std::int64_t kMinGifDelay = 2;

struct Rectangle {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct PendingPicture {
    IndexedImage image;
    Palette palette;
    std::int64_t delay = 0;
};

// Compares the colours two pictures show pixel by pixel. Most pictures of an
// animation share their colours with the one before, and then equal indices mean
// equal colours: whole rows are compared as bytes and only pixels whose indices
// differ are looked up, as two indices may still name the same colour.
class ColorComparer {
public:
    ColorComparer(const PendingPicture& shown, const Palette& nextPalette)
        : m_shown(shown.palette), m_next(nextPalette), m_samePalette(shown.palette == nextPalette)
    {
    }

    bool Same(std::uint8_t shownIndex, std::uint8_t nextIndex) const
    {
        if (m_samePalette && shownIndex == nextIndex) {
            return true;
        }
        return m_shown[shownIndex] == m_next[nextIndex];
    }

    // Whether the rows, of width pixels, show the same colours throughout.
    bool SameRow(const std::uint8_t* shownRow, const std::uint8_t* nextRow, std::size_t width) const
    {
        if (m_samePalette && std::memcmp(shownRow, nextRow, width) == 0) {
            return true;
        }
        for (std::size_t x = 0; x < width; ++x) {
            if (!Same(shownRow[x], nextRow[x])) {
                return false;
            }
        }
        return true;
    }

private:
    const Palette& m_shown;
    const Palette& m_next;
    bool m_samePalette;
};

// Whether a and b, of the same size, show the same colour at every pixel.
bool ShowSameColors(const PendingPicture& a, std::span<const std::uint8_t> pixels,
                    const Palette& palette)
{
    return ColorComparer(a, palette).SameRow(a.image.pixels.data(), pixels.data(), pixels.size());
}

// The smallest rectangle holding every pixel whose colour differs from shown's;
// the top left pixel when none does, as a frame holds at least one.
Rectangle ChangedRectangle(const PendingPicture& shown, const PendingPicture& next)
{
    const ColorComparer compare(shown, next.palette);
    const std::int32_t width = next.image.width;
    std::int32_t left = width;
    std::int32_t right = -1;
    std::int32_t top = next.image.height;
    std::int32_t bottom = -1;
    for (std::int32_t y = 0; y < next.image.height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        const std::uint8_t* before = shown.image.pixels.data() + row;
        const std::uint8_t* after = next.image.pixels.data() + row;
        if (compare.SameRow(before, after, static_cast<std::size_t>(width))) {
            continue;
        }
        // The row changes: its first and last changed pixels, looked for from each end.
        std::int32_t first = 0;
        while (compare.Same(before[first], after[first])) {
            ++first;
        }
        std::int32_t last = width - 1;
        while (compare.Same(before[last], after[last])) {
            --last;
        }
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    if (right < 0) {
        return Rectangle{0, 0, 1, 1};
    }
    return Rectangle{left, top, right - left + 1, bottom - top + 1};
}

// An index no changed pixel of the rectangle uses, to stand for the pixels that
// keep their colour; none when every pixel changes or every index is taken.
int FindTransparentIndex(const PendingPicture& shown, const PendingPicture& next,
                         const Rectangle& area)
{
    const ColorComparer compare(shown, next.palette);
    std::array<bool, kPaletteEntries> used{};
    bool anyUnchanged = false;
    for (std::int32_t y = area.top; y < area.top + area.height; ++y) {
        const std::size_t row =
            static_cast<std::size_t>(y) * static_cast<std::size_t>(next.image.width);
        for (std::int32_t x = area.left; x < area.left + area.width; ++x) {
            const std::size_t at = row + static_cast<std::size_t>(x);
            const std::uint8_t index = next.image.pixels[at];
            if (compare.Same(shown.image.pixels[at], index)) {
                anyUnchanged = true;
            } else {
                used[index] = true;
            }
        }
    }
    if (!anyUnchanged) {
        return NO_TRANSPARENT_COLOR;
    }
    const auto free = std::find(used.begin(), used.end(), false);
    return free == used.end() ? NO_TRANSPARENT_COLOR
                              : static_cast<int>(std::distance(used.begin(), free));
}

std::array<GifColorType, kPaletteEntries> ColorsOf(const Palette& palette)
{
    std::array<GifColorType, kPaletteEntries> colors{};
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        colors[i] = GifColorType{RedOf(palette[i]), GreenOf(palette[i]), BlueOf(palette[i])};
    }
    return colors;
}

struct ColorMapDeleter {
    void operator()(ColorMapObject* map) const noexcept { GifFreeMapObject(map); }
};
using ColorMap = std::unique_ptr<ColorMapObject, ColorMapDeleter>;

ColorMap MakeColorMap(const Palette& palette)
{
    auto colors = ColorsOf(palette);
    ColorMap map(GifMakeMapObject(static_cast<int>(kPaletteEntries), colors.data()));
    if (map == nullptr) {
        throw std::bad_alloc();
    }
    return map;
}

// One frame as it goes into the file: its graphics control when the file is
// animated, its rectangle, its own colours when they differ from the file's, and
// the indices of the rectangle's pixels, row by row.
struct FrameSpec {
    bool animated = false;
    std::int64_t delay = 0;
    int transparent = NO_TRANSPARENT_COLOR;
    Rectangle area;
    std::optional<Palette> local;
    std::vector<GifPixelType> indices;
};

int AppendToArray(GifFileType* file, const GifByteType* data, int length)
{
    auto* bytes = static_cast<ByteArray*>(file->UserData);
    try {
        bytes->insert(bytes->end(), data, data + length);
    } catch (...) {
        return 0;  // nothing may cross giflib's C frames; the step fails
    }
    return length;
}

struct GifFileCloser {
    void operator()(GifFileType* file) const noexcept { EGifCloseFile(file, nullptr); }
};

[[noreturn]] void ThrowEncoderFault(std::int32_t width, std::int32_t height, int code)
{
    const char* reason = GifErrorString(code);
    throw Error(ErrorKind::CannotWrite,
                "the GIF encoder failed on a picture of " + std::to_string(width) + " x " +
                    std::to_string(height) +
                    " pixels: " + (reason != nullptr ? reason : "an unknown error"));
}

// The bytes frame takes in a GIF file of width x height with the colours global.
// Each frame's image data is compressed afresh, so frames can be encoded apart
// and joined in order: giflib writes the frame into a file of its own, from which
// the header, the file's colour table and the closing byte are cut.
ByteArray EncodeFrame(const FrameSpec& frame, std::int32_t width, std::int32_t height,
                      const Palette& global)
{
    ByteArray bytes;
    int code = 0;
    std::unique_ptr<GifFileType, GifFileCloser> gif(EGifOpen(&bytes, AppendToArray, &code));
    if (gif == nullptr) {
        ThrowEncoderFault(width, height, code);
    }
    auto check = [&](int result) {
        if (result == GIF_ERROR) {
            ThrowEncoderFault(width, height, gif->Error);
        }
    };
    EGifSetGifVersion(gif.get(), true);
    const ColorMap globalMap = MakeColorMap(global);
    check(EGifPutScreenDesc(gif.get(), width, height, 8, 0, globalMap.get()));
    const std::size_t head = bytes.size();  // "GIF89a", the screen and the colour table
    if (frame.animated) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.UserInputFlag = false;
        control.DelayTime = static_cast<int>(frame.delay);
        control.TransparentColor = frame.transparent;
        GifByteType extension[4];
        const auto length = EGifGCBToExtension(&control, extension);
        check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                               extension));
    }
    const ColorMap local = frame.local ? MakeColorMap(*frame.local) : ColorMap();
    check(EGifPutImageDesc(gif.get(), frame.area.left, frame.area.top, frame.area.width,
                           frame.area.height, false, local.get()));
    check(EGifPutLine(gif.get(), const_cast<GifPixelType*>(frame.indices.data()),
                      static_cast<int>(frame.indices.size())));
    return ByteArray(bytes.begin() + static_cast<std::ptrdiff_t>(head), bytes.end());
}

}  // namespace

struct GifWriter::State {
    std::int32_t width = 0;
    std::int32_t height = 0;
    ByteArray out;
    // Where full buffers of out go, when the file is not kept whole in memory.
    GifOutput output;
    // What output or the buffer threw, kept while giflib's C frames unwind.
    std::exception_ptr outputFault;
    GifFileType* gif = nullptr;
    bool started = false;
    bool animated = false;
    bool finished = false;
    Palette global;
    // The picture the frames written so far show; the next one, whose frame is
    // settled but kept back in case the last picture is too short to stand on
    // its own; and the one still open, which may yet gain the delay of pictures
    // that look the same, or give way to the next picture when it is too short.
    std::optional<PendingPicture> shown;
    std::optional<PendingPicture> ready;
    std::optional<PendingPicture> pending;
    std::size_t merged = 0;
    std::vector<std::uint8_t> spare;
    // Frames of an animation being encoded, oldest first, and the threads that do it
    // while the next ones are prepared. Results are joined in the order kept here.
    std::deque<std::future<ByteArray>> inFlight;
    std::unique_ptr<WorkQueue> encoders;

    ~State()
    {
        encoders.reset();
        if (gif != nullptr) {
            EGifCloseFile(gif, nullptr);
        }
    }

    // giflib reports a failed step by its return value and the code in gif->Error.
    void Check(int result) const
    {
        if (result == GIF_ERROR) {
            Fail(gif->Error);
        }
    }

    [[noreturn]] void Fail(int code) const
    {
        if (outputFault) {
            std::rethrow_exception(outputFault);
        }
        const char* reason = GifErrorString(code);
        throw Error(ErrorKind::CannotWrite,
                    "the GIF encoder failed on a picture of " + std::to_string(width) + " x " +
                        std::to_string(height) +
                        " pixels: " + (reason != nullptr ? reason : "an unknown error"));
    }

    void Start(const Palette& palette, bool loops)
    {
        animated = loops;
        global = palette;
        EGifSetGifVersion(gif, true);
        const ColorMap map = MakeColorMap(palette);
        Check(EGifPutScreenDesc(gif, width, height, 8, 0, map.get()));
        if (animated) {
            // The application extension browsers read as "repeat forever": sub-block 1
            // holds the loop count, 0 meaning no end.
            static const GifByteType kApplication[] = {'N', 'E', 'T', 'S', 'C', 'A',
                                                       'P', 'E', '2', '.', '0'};
            static const GifByteType kLoopForever[] = {1, 0, 0};
            Check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE));
            Check(EGifPutExtensionBlock(gif, sizeof kApplication, kApplication));
            Check(EGifPutExtensionBlock(gif, sizeof kLoopForever, kLoopForever));
            Check(EGifPutExtensionTrailer(gif));
            const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
            if (threads > 1) {
                // A few frames a thread in flight: enough to keep them busy, few
                // enough that memory stays the same however long the animation is.
                encoders = std::make_unique<WorkQueue>(threads, kFramesPerThread);
            }
        }
        started = true;
    }

    void PutFrame(const PendingPicture& picture, const Rectangle& area, int transparent,
                  std::int64_t delay)
    {
        FrameSpec frame;
        frame.animated = animated;
        frame.delay = delay;
        frame.transparent = transparent;
        frame.area = area;
        if (picture.palette != global) {
            frame.local = picture.palette;
        }
        frame.indices.resize(static_cast<std::size_t>(area.width) *
                             static_cast<std::size_t>(area.height));
        const std::optional<ColorComparer> compare =
            shown.has_value() ? std::optional<ColorComparer>(std::in_place, *shown, picture.palette)
                              : std::nullopt;
        GifPixelType* line = frame.indices.data();
        for (std::int32_t y = area.top; y < area.top + area.height; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
            for (std::int32_t x = area.left; x < area.left + area.width; ++x) {
                const std::size_t at = row + static_cast<std::size_t>(x);
                std::uint8_t index = picture.image.pixels[at];
                if (transparent != NO_TRANSPARENT_COLOR && compare &&
                    compare->Same(shown->image.pixels[at], index)) {
                    index = static_cast<std::uint8_t>(transparent);
                }
                *line++ = index;
            }
        }
        if (encoders == nullptr) {
            AppendFrame(EncodeFrame(frame, width, height, global));
            return;
        }
        // The oldest frames first, so that the queue has room for this one.
        while (inFlight.size() >=
               kFramesPerThread * std::max<std::size_t>(encoders->Threads(), 1)) {
            WriteOldestFrame();
        }
        auto task = std::make_shared<std::packaged_task<ByteArray()>>(
            [frame = std::move(frame), w = width, h = height, colors = global] {
                return EncodeFrame(frame, w, h, colors);
            });
        inFlight.push_back(task->get_future());
        encoders->Submit([task] { (*task)(); });
    }

    void WriteOldestFrame()
    {
        std::future<ByteArray> oldest = std::move(inFlight.front());
        inFlight.pop_front();
        AppendFrame(oldest.get());
    }

    // The frames still being encoded, in order, before anything follows them.
    void WriteFramesInFlight()
    {
        while (!inFlight.empty()) {
            WriteOldestFrame();
        }
    }

    void AppendFrame(const ByteArray& bytes)
    {
        out.insert(out.end(), bytes.begin(), bytes.end());
        if (output && out.size() >= kOutputBuffer) {
            Flush();
        }
    }

    // Writes picture as the next frame; more tells whether another follows it.
    void WriteFrame(PendingPicture& picture, bool more)
    {
        if (!started) {
            Start(picture.palette, more);
        }
        Rectangle area{0, 0, width, height};
        int transparent = NO_TRANSPARENT_COLOR;
        if (shown.has_value()) {
            area = ChangedRectangle(*shown, picture);
            transparent = FindTransparentIndex(*shown, picture, area);
        }
        std::int64_t delay = animated ? picture.delay : 0;
        PutFrame(picture, area, transparent, std::min(delay, kMaxGifDelay));
        delay -= std::min(delay, kMaxGifDelay);
        // The rest of a long delay goes to frames that repaint one pixel as it is.
        if (shown.has_value()) {
            spare = std::move(shown->image.pixels);
        }
        shown = std::move(picture);
        while (delay > 0) {
            const std::int64_t part = std::min(delay, kMaxGifDelay);
            PutFrame(*shown, Rectangle{0, 0, 1, 1}, NO_TRANSPARENT_COLOR, part);
            delay -= part;
        }
    }

    static constexpr std::size_t kOutputBuffer = std::size_t{1} << 16;
    static constexpr std::size_t kFramesPerThread = 2;

    static int AppendBytes(GifFileType* file, const GifByteType* data, int length)
    {
        auto* state = static_cast<State*>(file->UserData);
        try {
            state->out.insert(state->out.end(), data, data + length);
            if (state->output && state->out.size() >= kOutputBuffer) {
                state->Flush();
            }
        } catch (...) {
            state->outputFault = std::current_exception();  // nothing may cross giflib's frames
            return 0;
        }
        return length;
    }

    void Flush()
    {
        output(std::span<const std::uint8_t>(out));
        out.clear();
    }

    void CheckOpen() const
    {
        if (finished) {
            throw Error(ErrorKind::CannotWrite, "the GIF file is already finished");
        }
    }
};

GifWriter::GifWriter(std::int32_t width, std::int32_t height, GifOutput output)
    : m_state(std::make_unique<State>())
{
    m_state->output = std::move(output);
    if (m_state->output) {
        m_state->out.reserve(State::kOutputBuffer + 256);
    }
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        throw Error(ErrorKind::Unsupported,
                    "a GIF file cannot hold a picture of " + size + " pixels");
    }
    if (width > kMaxGifSide || height > kMaxGifSide) {
        throw Error(ErrorKind::TooLarge,
                    "a picture of " + size + " pixels is too large for a GIF file");
    }
    m_state->width = width;
    m_state->height = height;
    int code = 0;
    m_state->gif = EGifOpen(m_state.get(), State::AppendBytes, &code);
    if (m_state->gif == nullptr) {
        m_state->Fail(code);
    }
}

GifWriter::~GifWriter() = default;
GifWriter::GifWriter(GifWriter&&) noexcept = default;
GifWriter& GifWriter::operator=(GifWriter&&) noexcept = default;

void GifWriter::AddPicture(const IndexedImage& image, const Palette& palette,
                           std::int64_t delayCentiseconds)
{
    const State& state = *m_state;
    if (image.width != state.width || image.height != state.height) {
        state.CheckOpen();
        throw Error(ErrorKind::Unsupported,
                    "a picture of " + std::to_string(image.width) + " x " +
                        std::to_string(image.height) + " pixels cannot join a GIF file of " +
                        std::to_string(state.width) + " x " + std::to_string(state.height));
    }
    AddPicture(std::span(image.pixels), palette, delayCentiseconds);
}

void GifWriter::AddPicture(std::span<const std::uint8_t> pixels, const Palette& palette,
                           std::int64_t delayCentiseconds)
{
    State& state = *m_state;
    state.CheckOpen();
    const std::size_t count = CheckPictureBytes(state.width, state.height, pixels);
    pixels = pixels.first(count);
    const std::int64_t delay = std::max<std::int64_t>(delayCentiseconds, 0);
    if (state.pending.has_value() && ShowSameColors(*state.pending, pixels, palette)) {
        state.pending->delay += delay;
        return;
    }
    if (state.pending.has_value() && state.pending->delay < kMinGifDelay) {
        // Too short to be shown as it is meant to: this picture takes its time.
        state.pending->image.pixels.assign(pixels.begin(), pixels.end());
        state.pending->palette = palette;
        state.pending->delay += delay;
        ++state.merged;
        return;
    }
    if (state.pending.has_value()) {
        if (state.ready.has_value()) {
            state.WriteFrame(*state.ready, true);
        }
        state.ready = std::move(state.pending);
    }
    // The pixels of a picture shown before go to the new one: no allocation and
    // no fresh pages for each picture.
    IndexedImage stored{state.width, state.height, std::move(state.spare)};
    stored.pixels.assign(pixels.begin(), pixels.end());
    state.pending = PendingPicture{std::move(stored), palette, delay};
}

std::size_t GifWriter::MergedPictures() const
{
    return m_state->merged;
}

ByteArray GifWriter::Finish()
{
    State& state = *m_state;
    state.CheckOpen();
    if (!state.pending.has_value()) {
        throw Error(ErrorKind::NotFound, "a GIF file needs at least one picture");
    }
    if (state.ready.has_value() && state.pending->delay < kMinGifDelay) {
        // The last picture is too short: it takes the frame of the one before,
        // so the animation still ends on it.
        state.pending->delay += state.ready->delay;
        state.ready.reset();
        ++state.merged;
    }
    if (state.ready.has_value()) {
        state.WriteFrame(*state.ready, true);
    }
    state.WriteFrame(*state.pending, false);
    state.pending.reset();
    state.WriteFramesInFlight();
    state.finished = true;
    GifFileType* gif = std::exchange(state.gif, nullptr);
    int code = 0;
    if (EGifCloseFile(gif, &code) == GIF_ERROR) {
        state.Fail(code);
    }
    if (state.output) {
        state.Flush();
        return {};
    }
    return std::move(state.out);
}

ByteArray EncodeGifImage(const IndexedImage& image, const Palette& palette)
{
    GifWriter writer(image.width, image.height);
    writer.AddPicture(image, palette, 0);
    return writer.Finish();
}

}  // namespace varek
