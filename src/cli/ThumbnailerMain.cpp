// varek-thumbnailer: the first picture of an FLI or FLC animation, or of a still
// picture with its own colours, as a PNG no larger than a given size, called by
// file managers through the desktop's thumbnailer convention.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "art/GameFolder.h"
#include "fli/FliFormat.h"
#include "imaging/PngImage.h"
#include "util/AtomicWrite.h"
#include "util/ByteReader.h"
#include "util/Error.h"
#include "util/FileRead.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "varek-thumbnailer";

constexpr const char* kUsage =
    "Usage: varek-thumbnailer -s SIZE INPUT OUTPUT\n"
    "\n"
    "Writes the first picture of INPUT, an FLI or FLC animation or a still picture\n"
    "with its own colours, to OUTPUT as an 8-bit indexed PNG whose longer side is at\n"
    "most SIZE pixels (1 to 4096), scaled by nearest neighbour: a larger picture is\n"
    "scaled down to SIZE, a smaller one up by the largest whole factor that fits.\n"
    "The bytes decide the kind, not the name. OUTPUT appears only when complete.\n"
    "\n"
    "Options:\n"
    "  -s SIZE       the longest side of the thumbnail, in pixels\n"
    "  -h, --help    show this help and exit\n"
    "  --version     show the version and exit\n"
    "\n"
    "At most the first 32 MiB of INPUT are read (its first MiB when that holds the\n"
    "picture), and a run that has not made its picture within 10 seconds ends.\n"
    "Exit status: 0 when OUTPUT was written, 1 when INPUT gives no picture in time\n"
    "or OUTPUT cannot be written (one line on standard error says why, and nothing\n"
    "is left at OUTPUT), 2 for unusable arguments.\n";

// Room for the first picture of the largest frame read (4096 x 4096 pixels
// uncompressed, 16 MiB) with its colours, a prefix and a postage stamp.
constexpr std::uint64_t kReadLimit = std::uint64_t{32} << 20;
constexpr std::uint64_t kFirstReadBytes = std::uint64_t{1} << 20;
constexpr unsigned kTimeLimitSeconds = 10;
constexpr std::int32_t kMaxSize = 4096;

int UsageError(const std::string& problem)
{
    std::cerr << kProgram << ": " << problem << "\nTry '" << kProgram
              << " --help' for more information.\n";
    return 2;
}

// A file that takes too long to decode ends the run as a failure. Nothing is
// written before the alarm is disarmed, so nothing is left behind.
extern "C" void OnTimeLimit(int)
{
    static constexpr char kMessage[] =
        "varek-thumbnailer: no picture within the time limit of 10 seconds\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(1);
}

bool IsAnimation(const varek::ByteArray& bytes)
{
    if (bytes.size() < varek::kFliMagicOffset + 2) {
        return false;
    }
    const std::uint16_t magic = varek::ByteReader(bytes).U16(varek::kFliMagicOffset);
    return magic == varek::kFliFileMagic || magic == varek::kFlcFileMagic;
}

// The first picture of a loose file held in bytes. The bytes decide: an
// animation's magic at offset 4 makes it an animation, anything else is read as
// a still picture. The file is handed to the art model as the only file of its
// category, so every rule of the art's formats applies as it does in a game
// folder. Throws varek::Error.
varek::Picture FirstPictureOf(const std::string& name, varek::ByteArray bytes)
{
    using varek::ArtCategory;
    const ArtCategory category = IsAnimation(bytes) ? ArtCategory::Animated : ArtCategory::OtherArt;
    std::map<std::string, varek::ByteArray> files;
    files.emplace(std::string(varek::InfoOf(category).subFolder) + '/' + name, std::move(bytes));
    std::array<bool, varek::kCategoryCount> needed{};
    needed[static_cast<std::size_t>(category)] = true;
    const varek::GameFolder folder =
        varek::GameFolder::Open(std::make_shared<varek::MemorySource>(std::move(files)), needed);
    if (category != ArtCategory::Animated) {
        return folder.LoadStill(name);
    }
    // The walk ends once the second picture starts: the first is then whole. A
    // fault before that may have left the first picture half drawn, which is no
    // thumbnail of the file.
    std::optional<varek::Picture> first;
    const varek::Animation load = folder.StreamAnimation(
        name,
        [&](const varek::StreamedPicture& picture) {
            if (!first) {
                first = varek::PictureOf(picture.record);
            }
        },
        [&](std::int32_t, std::int32_t) { return !first; });
    if (load.stop && load.pictures.size() <= 1) {
        throw *load.stop;
    }
    if (!first) {
        throw varek::Error(varek::ErrorKind::Corrupt, "the animation holds no pictures");
    }
    return std::move(*first);
}

// The first picture of the file at path. The first picture of nearly every file
// lies in its first MiB, so that is tried first; only when it gives none and the
// file holds more is the read widened to the limit.
varek::Picture LoadLooseFirstPicture(const fs::path& path)
{
    const varek::InputFile file(path);
    try {
        return FirstPictureOf(path.filename().string(), file.ReadStart(kFirstReadBytes));
    } catch (const varek::Error&) {
        if (file.Size() <= kFirstReadBytes) {
            throw;
        }
    }
    return FirstPictureOf(path.filename().string(), file.ReadStart(kReadLimit));
}

// The picture scaled so that its longer side is at most size: down to exactly
// size, or up by the largest whole factor that fits, each pixel taken from the
// source pixel under its centre, so the colours stay the file's own.
varek::IndexedImage ScaleToFit(const varek::IndexedImage& image, std::int32_t size)
{
    const std::int64_t longest = std::max(image.width, image.height);
    std::int64_t width = image.width;
    std::int64_t height = image.height;
    if (longest > size) {
        width = std::max<std::int64_t>(1, (width * size + longest / 2) / longest);
        height = std::max<std::int64_t>(1, (height * size + longest / 2) / longest);
    } else {
        width *= size / longest;
        height *= size / longest;
    }
    varek::IndexedImage scaled;
    scaled.width = static_cast<std::int32_t>(width);
    scaled.height = static_cast<std::int32_t>(height);
    scaled.pixels.resize(static_cast<std::size_t>(width * height));
    std::vector<std::size_t> columns(static_cast<std::size_t>(width));
    for (std::int64_t x = 0; x < width; ++x) {
        columns[static_cast<std::size_t>(x)] =
            static_cast<std::size_t>((2 * x + 1) * image.width / (2 * width));
    }
    auto out = scaled.pixels.begin();
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t row = (2 * y + 1) * image.height / (2 * height);
        const auto from = image.pixels.begin() + static_cast<std::ptrdiff_t>(row * image.width);
        for (const std::size_t column : columns) {
            *out++ = from[static_cast<std::ptrdiff_t>(column)];
        }
    }
    return scaled;
}

std::optional<std::int32_t> ParseSize(std::string_view text)
{
    std::int32_t size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (error != std::errc{} || end != text.data() + text.size() || size < 1 || size > kMaxSize) {
        return std::nullopt;
    }
    return size;
}

// The error's sentence on one line, whatever a file name in it holds.
std::string OneLine(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    std::optional<std::int32_t> size;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << kProgram << " " << VAREK_VERSION << "\n";
            return 0;
        }
        if (arg == "-s") {
            if (i + 1 == argc) {
                return UsageError("-s needs a size");
            }
            size = ParseSize(argv[++i]);
            if (!size) {
                return UsageError("the size must be a whole number from 1 to 4096, not '" +
                                  std::string(argv[i]) + "'");
            }
        } else if (arg.size() > 1 && arg.front() == '-' && paths.empty()) {
            return UsageError("unknown option '" + std::string(arg) + "'");
        } else {
            paths.emplace_back(arg);
        }
    }
    if (!size) {
        return UsageError("no size given (-s SIZE)");
    }
    if (paths.size() != 2) {
        return UsageError("expected INPUT and OUTPUT");
    }

    signal(SIGALRM, OnTimeLimit);
    alarm(kTimeLimitSeconds);
    const fs::path input = paths[0];
    const fs::path output = paths[1];
    try {
        const varek::Picture picture = LoadLooseFirstPicture(input);
        const varek::IndexedImage thumbnail = ScaleToFit(picture.image, *size);
        const varek::ByteArray png = varek::EncodePngImage(thumbnail.width, thumbnail.height,
                                                           thumbnail.pixels, picture.palette);
        alarm(0);
        varek::WriteFileAtomically(output, png);
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": " << OneLine(input.string() + ": " + error.what()) << "\n";
        return 1;
    }
    return 0;
}
