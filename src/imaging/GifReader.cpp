#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imaging/DecodedImage.h"
#include "util/Error.h"

namespace varek {

namespace {

struct GifSource {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
};

int ReadBytes(GifFileType* gif, GifByteType* into, int length)
{
    auto* source = static_cast<GifSource*>(gif->UserData);
    const std::size_t count =
        std::min(static_cast<std::size_t>(std::max(length, 0)), source->bytes.size() - source->at);
    std::memcpy(into, source->bytes.data() + source->at, count);
    source->at += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};

[[noreturn]] void Fail(int code)
{
    const char* reason = GifErrorString(code);
    throw Error(code == D_GIF_ERR_READ_FAILED || code == D_GIF_ERR_EOF_TOO_SOON
                    ? ErrorKind::Truncated
                    : ErrorKind::Corrupt,
                std::string("the GIF file cannot be read: ") + (reason ? reason : "unknown fault"));
}

std::vector<ColorValue> ColorsOf(const ColorMapObject* map)
{
    std::vector<ColorValue> colors;
    if (map == nullptr || map->Colors == nullptr) {
        return colors;
    }
    const int count = std::clamp(map->ColorCount, 0, 256);
    for (int i = 0; i < count; ++i) {
        const GifColorType c = map->Colors[i];
        colors.push_back(MakeColor(c.Red, c.Green, c.Blue));
    }
    return colors;
}

// A canvas pixel: an index into the colours in use, or none yet.
constexpr std::int16_t kClear = -1;

std::string FramePlace(std::size_t frame, std::size_t pixel, std::size_t width)
{
    return "frame " + std::to_string(frame) + ", column " + std::to_string(pixel % width) +
           ", row " + std::to_string(pixel / width);
}

}  // namespace

bool IsGifFile(std::span<const std::uint8_t> bytes) noexcept
{
    return bytes.size() >= 6 && std::memcmp(bytes.data(), "GIF8", 4) == 0;
}

std::vector<DecodedFrame> ReadGifAnimation(std::span<const std::uint8_t> bytes)
{
    if (!IsGifFile(bytes)) {
        throw Error(ErrorKind::Corrupt, "the file is no GIF image");
    }
    GifSource source{bytes, 0};
    int code = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadBytes, &code));
    if (!gif) {
        Fail(code);
    }
    const std::int64_t width = gif->SWidth;
    const std::int64_t height = gif->SHeight;
    if (width < 1 || height < 1) {
        throw Error(ErrorKind::Corrupt, "the GIF file's picture has no pixels");
    }
    if (width > kMaxDecodedSide || height > kMaxDecodedSide) {
        throw Error(ErrorKind::TooLarge, "the GIF file's picture has more than 4096 pixels a side");
    }
    const std::size_t area = static_cast<std::size_t>(width * height);
    std::vector<ColorValue> inUse = ColorsOf(gif->SColorMap);
    std::vector<std::int16_t> canvas(area, kClear);
    std::vector<std::int16_t> saved;
    std::vector<ColorValue> savedColors;
    std::vector<std::uint8_t> line;
    std::vector<DecodedFrame> frames;
    GraphicsControlBlock control{DISPOSE_DO_NOT, false, 0, NO_TRANSPARENT_COLOR};
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
            Fail(gif->Error);
        }
        if (record == TERMINATE_RECORD_TYPE) {
            break;
        }
        if (record == EXTENSION_RECORD_TYPE) {
            int type = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &type, &block) == GIF_ERROR) {
                Fail(gif->Error);
            }
            if (type == GRAPHICS_EXT_FUNC_CODE && block != nullptr &&
                DGifExtensionToGCB(block[0], block + 1, &control) == GIF_ERROR) {
                throw Error(ErrorKind::Corrupt, "the GIF file holds a damaged frame control block");
            }
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    Fail(gif->Error);
                }
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) {
            continue;
        }
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            Fail(gif->Error);
        }
        const std::size_t number = frames.size() + 1;
        if (static_cast<std::int64_t>(number) * static_cast<std::int64_t>(area) >
            kMaxAnimationPixels) {
            throw Error(ErrorKind::TooLarge,
                        "the GIF file's pictures hold more than 1 GiB of pixels");
        }
        const GifImageDesc& desc = gif->Image;
        if (desc.Left < 0 || desc.Top < 0 || desc.Width < 1 || desc.Height < 1 ||
            desc.Left + desc.Width > width || desc.Top + desc.Height > height) {
            throw Error(ErrorKind::Corrupt, "frame " + std::to_string(number) +
                                                " of the GIF file lies outside its picture");
        }
        const std::size_t left = static_cast<std::size_t>(desc.Left);
        const std::size_t top = static_cast<std::size_t>(desc.Top);
        const std::size_t frameWidth = static_cast<std::size_t>(desc.Width);
        const std::size_t frameHeight = static_cast<std::size_t>(desc.Height);
        std::vector<ColorValue> colors = desc.ColorMap ? ColorsOf(desc.ColorMap) : inUse;
        if (colors.empty()) {
            throw Error(ErrorKind::Corrupt,
                        "frame " + std::to_string(number) + " of the GIF file has no colours");
        }
        const int transparent = control.TransparentColor;
        // Pixels the frame leaves as they were keep their index, so its colours
        // may replace those in use only where they show each such pixel the same.
        line.resize(frameWidth);
        std::vector<std::uint8_t> pixels(frameWidth * frameHeight);
        std::vector<std::size_t> rowOrder;
        if (desc.Interlace) {
            for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
                for (std::size_t y = static_cast<std::size_t>(start); y < frameHeight; y += step) {
                    rowOrder.push_back(y);
                }
            }
        } else {
            for (std::size_t y = 0; y < frameHeight; ++y) {
                rowOrder.push_back(y);
            }
        }
        for (const std::size_t y : rowOrder) {
            if (DGifGetLine(gif.get(), line.data(), static_cast<int>(frameWidth)) == GIF_ERROR) {
                Fail(gif->Error);
            }
            std::copy(line.begin(), line.end(),
                      pixels.begin() + static_cast<std::ptrdiff_t>(y * frameWidth));
        }
        if (control.DisposalMode == DISPOSE_PREVIOUS) {
            saved = canvas;
            savedColors = inUse;
        }
        std::vector<bool> drawn(area, false);
        for (std::size_t y = 0; y < frameHeight; ++y) {
            for (std::size_t x = 0; x < frameWidth; ++x) {
                const std::uint8_t index = pixels[y * frameWidth + x];
                if (index == transparent) {
                    continue;
                }
                const std::size_t at = (top + y) * static_cast<std::size_t>(width) + left + x;
                if (index >= colors.size()) {
                    throw Error(ErrorKind::Corrupt,
                                "the GIF file's pixel at " + FramePlace(number, at, width) +
                                    " uses colour " + std::to_string(index) + " of a table of " +
                                    std::to_string(colors.size()));
                }
                canvas[at] = index;
                drawn[at] = true;
            }
        }
        DecodedFrame frame;
        frame.delayCentiseconds = control.DelayTime;
        frame.image.width = static_cast<std::int32_t>(width);
        frame.image.height = static_cast<std::int32_t>(height);
        frame.image.indices.resize(area);
        for (std::size_t at = 0; at < area; ++at) {
            const std::int16_t index = canvas[at];
            if (index == kClear) {
                throw Error(ErrorKind::Unsupported,
                            "the GIF file's pixel at " + FramePlace(number, at, width) +
                                " is transparent, which the game cannot show");
            }
            std::uint8_t shownIndex = static_cast<std::uint8_t>(index);
            if (!drawn[at] && colors != inUse) {
                // A pixel the frame leaves shows the colour it showed; in the frame's
                // own colours that is its index if that still shows it, else the
                // lowest index that does.
                if (shownIndex >= inUse.size()) {
                    throw Error(ErrorKind::Corrupt, "the GIF file's pixel at " +
                                                        FramePlace(number, at, width) +
                                                        " has a colour outside its table");
                }
                const ColorValue shown = inUse[shownIndex];
                if (shownIndex >= colors.size() || colors[shownIndex] != shown) {
                    const auto found = std::find(colors.begin(), colors.end(), shown);
                    if (found == colors.end()) {
                        throw Error(ErrorKind::Unsupported,
                                    "frame " + std::to_string(number) +
                                        " of the GIF file has colours of its own without the "
                                        "colour of a pixel it leaves as it was (" +
                                        FramePlace(number, at, width) + ")");
                    }
                    shownIndex = static_cast<std::uint8_t>(found - colors.begin());
                    canvas[at] = shownIndex;
                }
            }
            frame.image.indices[at] = shownIndex;
        }
        frame.image.colors = colors;
        inUse = std::move(colors);
        frames.push_back(std::move(frame));
        if (control.DisposalMode == DISPOSE_BACKGROUND) {
            for (std::size_t y = 0; y < frameHeight; ++y) {
                std::fill_n(canvas.begin() + static_cast<std::ptrdiff_t>((top + y) * width + left),
                            frameWidth, kClear);
            }
        } else if (control.DisposalMode == DISPOSE_PREVIOUS) {
            canvas = saved;
            inUse = savedColors;
        }
        control = GraphicsControlBlock{DISPOSE_DO_NOT, false, 0, NO_TRANSPARENT_COLOR};
    }
    if (frames.empty()) {
        throw Error(ErrorKind::Corrupt, "the GIF file holds no picture");
    }
    return frames;
}

}  // namespace varek
