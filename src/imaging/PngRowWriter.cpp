#include "imaging/PngRowWriter.h"

#include <png.h>

#include <csetjmp>
#include <exception>
#include <new>
#include <string>

#include "util/Error.h"

namespace varek {

struct PngRowWriter::State {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngOutput output;
    std::size_t rowBytes = 0;
    std::int32_t rowsLeft = 0;
    bool failed = false;
    std::string problem;
    std::exception_ptr thrown;  // by output, kept across libpng's C frames
};

namespace {

using State = PngRowWriter::State;

struct Header {
    std::int32_t width;
    std::int32_t height;
    const png_color* colors;  // none for RGB
};

void PassBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* state = static_cast<State*>(png_get_io_ptr(png));
    try {
        state->output({data, length});
    } catch (...) {
        state->thrown = std::current_exception();
    }
    if (state->thrown) {
        png_error(png, "the output failed");
    }
}

void FlushNothing(png_structp) {}

[[noreturn]] void OnError(png_structp png, png_const_charp message)
{
    static_cast<State*>(png_get_error_ptr(png))->problem = message;
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// One run of libpng's writing calls, on what data points to.
using Step = void (*)(State& state, const void* data);

// The one frame that calls setjmp holds nothing a longjmp back into it could
// spoil; step calls libpng alone.
bool Guarded(State& state, Step step, const void* data)
{
    if (setjmp(png_jmpbuf(state.png)) != 0) {
        return false;
    }
    step(state, data);
    return true;
}

void WriteHeader(State& state, const void* data)
{
    const auto& header = *static_cast<const Header*>(data);
    png_set_IHDR(state.png, state.info, static_cast<png_uint_32>(header.width),
                 static_cast<png_uint_32>(header.height), 8,
                 header.colors != nullptr ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (header.colors != nullptr) {
        png_set_PLTE(state.png, state.info, header.colors, static_cast<int>(kPaletteEntries));
    }
    // As EncodePngImage: left or upper neighbour filters, zlib's fastest level.
    png_set_filter(state.png, PNG_FILTER_TYPE_BASE,
                   PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_UP);
    png_set_compression_level(state.png, 1);
    png_write_info(state.png, state.info);
}

void WriteRowStep(State& state, const void* row)
{
    png_write_row(state.png, static_cast<png_const_bytep>(row));
}

void FinishStep(State& state, const void*)
{
    png_write_end(state.png, state.info);
}

// Turns a failed step into what the caller sees, once; later calls fail at once.
void Run(State& state, Step step, const void* data)
{
    if (state.failed) {
        throw Error(ErrorKind::CannotWrite, "the PNG encoder failed before: " + state.problem);
    }
    if (!Guarded(state, step, data)) {
        state.failed = true;
        if (state.thrown) {
            std::rethrow_exception(state.thrown);
        }
        throw Error(ErrorKind::CannotWrite, "the PNG encoder failed: " + state.problem);
    }
}

}  // namespace

PngRowWriter::PngRowWriter(std::int32_t width, std::int32_t height,
                           const std::optional<Palette>& palette, PngOutput output)
    : m_state(std::make_unique<State>())
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        throw Error(ErrorKind::Unsupported,
                    "a PNG file cannot hold an image of " + size + " pixels");
    }
    // PNG_USER_WIDTH_MAX and PNG_USER_HEIGHT_MAX, libpng's default bounds.
    if (width > 1000000 || height > 1000000) {
        throw Error(ErrorKind::TooLarge,
                    "an image of " + size + " pixels is too large for a PNG file");
    }
    State& state = *m_state;
    state.output = std::move(output);
    state.rowBytes = static_cast<std::size_t>(width) * (palette ? 1 : 3);
    state.rowsLeft = height;
    state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
    state.info = state.png == nullptr ? nullptr : png_create_info_struct(state.png);
    if (state.info == nullptr) {
        png_destroy_write_struct(&state.png, nullptr);
        throw std::bad_alloc();
    }
    png_set_write_fn(state.png, &state, PassBytes, FlushNothing);
    png_color colors[kPaletteEntries];
    if (palette) {
        for (std::size_t i = 0; i < kPaletteEntries; ++i) {
            const ColorValue c = (*palette)[i];
            colors[i] = png_color{RedOf(c), GreenOf(c), BlueOf(c)};
        }
    }
    const Header header{width, height, palette ? colors : nullptr};
    try {
        Run(state, WriteHeader, &header);
    } catch (...) {
        png_destroy_write_struct(&state.png, &state.info);
        throw;
    }
}

PngRowWriter::~PngRowWriter()
{
    if (m_state && m_state->png != nullptr) {
        png_destroy_write_struct(&m_state->png, &m_state->info);
    }
}

void PngRowWriter::WriteRow(std::span<const std::uint8_t> row)
{
    State& state = *m_state;
    if (row.size() < state.rowBytes) {
        throw Error(ErrorKind::Truncated, "a PNG row needs " + std::to_string(state.rowBytes) +
                                              " bytes, " + std::to_string(row.size()) +
                                              " were given");
    }
    if (state.rowsLeft == 0) {
        throw Error(ErrorKind::CannotWrite, "every row of the PNG file is written already");
    }
    Run(state, WriteRowStep, row.data());
    --state.rowsLeft;
}

void PngRowWriter::Finish()
{
    State& state = *m_state;
    if (state.rowsLeft > 0) {
        throw Error(ErrorKind::CannotWrite,
                    "the PNG file lacks " + std::to_string(state.rowsLeft) + " rows");
    }
    Run(state, FinishStep, nullptr);
}

}  // namespace varek
