#include "cli/PngImage.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "cli/PngPlugin.h"
#include "util/Error.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

struct PngWriter {
    decltype(&VarekEncodePng) encode = nullptr;
    std::string problem;
};

const PngWriter& ThePngWriter()
{
    static const PngWriter writer = [] {
        PngWriter loaded;
        std::error_code ec;
        const fs::path program = fs::read_symlink("/proc/self/exe", ec);
        const std::string path =
            ec ? std::string(kPngPluginFile) : (program.parent_path() / kPngPluginFile).string();
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module != nullptr) {
            loaded.encode =
                reinterpret_cast<decltype(&VarekEncodePng)>(dlsym(module, kPngPluginEntry));
        }
        if (loaded.encode == nullptr) {
            const char* reason = dlerror();
            loaded.problem = std::string("cannot write PNG files: the PNG writer ") + path +
                             " cannot be loaded" + (reason ? std::string(" (") + reason + ")" : "");
        }
        return loaded;
    }();
    return writer;
}

}  // namespace

std::string LoadPngWriter()
{
    return ThePngWriter().problem;
}

ByteArray EncodePngImage(std::int32_t width, std::int32_t height,
                         std::span<const std::uint8_t> pixels, const Palette& palette)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        ThrowOverflow("Overflow: a PNG file cannot hold an image of " + size + " pixels");
    }
    if (pixels.size() / static_cast<std::size_t>(width) < static_cast<std::size_t>(height)) {
        ThrowIndexOutOfRange("Index out of range: an image of " + size + " pixels needs " +
                             std::to_string(static_cast<std::int64_t>(width) * height) +
                             " pixel bytes, " + std::to_string(pixels.size()) + " were given");
    }
    const PngWriter& writer = ThePngWriter();
    if (writer.encode == nullptr) {
        ThrowFileAccess(writer.problem);
    }
    ByteArray out;
    std::string problem;
    if (!writer.encode(width, height, pixels.data(), palette.Colors.data(), &out, &problem)) {
        ThrowFileAccess(problem);
    }
    return out;
}

}  // namespace varek
