#include <png.h>

#include <csetjmp>
#include <cstring>
#include <string>

#include "imaging/DecodedImage.h"
#include "util/Error.h"

namespace varek {

namespace {

// libpng reports through these callbacks; the error one must not return, so it
// jumps back into ReadGuarded, which turns the message into an Error.
struct PngSource {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
    std::string problem;
    bool truncated = false;
};

void ReadBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->bytes.size() - source->at) {
        source->truncated = true;
        png_error(png, "the file ends inside its image data");
    }
    std::memcpy(data, source->bytes.data() + source->at, length);
    source->at += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp message)
{
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    source->problem = message;
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

struct PngLayout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int colorType = 0;
    int channels = 0;
    std::vector<ColorValue> colors;
    std::vector<std::uint8_t> alphas;  // of the colour table's entries, from tRNS
};

// The libpng calls, after which nothing but what the caller declared before them
// is touched: a longjmp out of libpng returns here with false and skips no
// destructor.
bool ReadGuarded(png_structp png, png_infop info, PngLayout& layout,
                 std::vector<std::uint8_t>& pixels, std::vector<png_bytep>& rows)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_user_limits(png, kMaxDecodedSide, kMaxDecodedSide);
    png_read_info(png, info);
    int bitDepth = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &layout.width, &layout.height, &bitDepth, &layout.colorType, &interlace,
                 nullptr, nullptr);
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp table = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &table, &count) == 0 || count < 1) {
            png_error(png, "an indexed image without a colour table");
        }
        for (int i = 0; i < count; ++i) {
            layout.colors.push_back(MakeColor(table[i].red, table[i].green, table[i].blue));
        }
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        if (png_get_tRNS(png, info, &alpha, &alphaCount, nullptr) != 0 && alpha != nullptr) {
            layout.alphas.assign(alpha, alpha + alphaCount);
        }
        png_set_packing(png);
        layout.channels = 1;
    } else {
        png_set_expand(png);  // grey below 8 bits to 8, a tRNS colour to alpha
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        layout.channels = 4;
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t stride = static_cast<std::size_t>(layout.width) * layout.channels;
    if (png_get_rowbytes(png, info) != stride) {
        png_error(png, "an unexpected row layout");
    }
    pixels.resize(stride * layout.height);
    rows.resize(layout.height);
    for (std::size_t y = 0; y < layout.height; ++y) {
        rows[y] = pixels.data() + y * stride;
    }
    png_read_image(png, rows.data());
    return true;
}

std::string Place(std::size_t pixel, std::size_t width)
{
    return "column " + std::to_string(pixel % width) + ", row " + std::to_string(pixel / width);
}

}  // namespace

DecodedImage ReadPngImage(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) {
        throw Error(ErrorKind::Corrupt, "the file is no PNG image");
    }
    PngSource source{bytes, 0, {}, false};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, OnError, OnWarning);
    if (png == nullptr) {
        throw Error(ErrorKind::CannotRead, "the PNG reader could not start");
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw Error(ErrorKind::CannotRead, "the PNG reader could not start");
    }
    png_set_read_fn(png, &source, ReadBytes);
    PngLayout layout;
    std::vector<std::uint8_t> pixels;
    std::vector<png_bytep> rows;
    const bool read = ReadGuarded(png, info, layout, pixels, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!read) {
        const bool tooLarge = source.problem.find("exceeds user limit") != std::string::npos;
        throw Error(source.truncated ? ErrorKind::Truncated
                    : tooLarge       ? ErrorKind::TooLarge
                                     : ErrorKind::Corrupt,
                    "the PNG image cannot be read: " + source.problem);
    }
    if (static_cast<std::int64_t>(layout.width) * layout.height > kMaxDecodedPixels) {
        throw Error(ErrorKind::TooLarge, "the PNG image has more than 4096 x 4096 pixels");
    }
    DecodedImage image;
    image.width = static_cast<std::int32_t>(layout.width);
    image.height = static_cast<std::int32_t>(layout.height);
    const std::size_t count = image.PixelCount();
    if (layout.channels == 1) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t index = pixels[i];
            if (index >= layout.colors.size()) {
                throw Error(ErrorKind::Corrupt, "the PNG image's pixel at " +
                                                    Place(i, layout.width) + " uses colour " +
                                                    std::to_string(index) + " of a table of " +
                                                    std::to_string(layout.colors.size()));
            }
            if (index < layout.alphas.size() && layout.alphas[index] != 255) {
                throw Error(ErrorKind::Unsupported,
                            "the PNG image's pixel at " + Place(i, layout.width) +
                                " is transparent, which the game cannot show");
            }
        }
        image.colors = std::move(layout.colors);
        pixels.resize(count);
        image.indices = std::move(pixels);
        return image;
    }
    image.rgb.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = pixels.data() + 4 * i;
        if (p[3] != 255) {
            throw Error(ErrorKind::Unsupported, "the PNG image's pixel at " +
                                                    Place(i, layout.width) +
                                                    " is transparent, which the game cannot show");
        }
        image.rgb[i] = MakeColor(p[0], p[1], p[2]);
    }
    return image;
}

}  // namespace varek
