// The exporter's whole-folder path on a game folder made from the input: a
// palette file, one or two walls, a still picture and an animation, written to a
// fresh folder and exported to another, both removed afterwards. The export must
// write only whole images, count each, leave no temporary file and never touch
// the game folder.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <system_error>

#include "export/Exporter.h"

namespace fs = std::filesystem;

namespace {

class CountingListener final : public varek::ExportListener {
public:
    void Failed(const std::string&, const std::string&) override { ++failures; }
    std::size_t failures = 0;
};

void Check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// Takes the next part of the input: a 32-bit little-endian length, then that many
// bytes, cut at the input's end.
std::span<const std::uint8_t> TakePart(std::span<const std::uint8_t>& input)
{
    if (input.size() < 4) {
        input = {};
        return {};
    }
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
        length = length << 8 | input[static_cast<std::size_t>(i)];
    }
    input = input.subspan(4);
    const std::size_t taken = std::min<std::size_t>(length, input.size());
    const auto part = input.first(taken);
    input = input.subspan(taken);
    return part;
}

void WriteFile(const fs::path& path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    Check(static_cast<bool>(out));
}

// Every ordinary file below folder by its relative path, with its size.
std::map<std::string, std::uintmax_t> SizesBelow(const fs::path& folder)
{
    std::map<std::string, std::uintmax_t> sizes;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            sizes[fs::relative(entry.path(), folder).generic_string()] = entry.file_size();
        }
    }
    return sizes;
}

// Whether an 8-bit BMP of bytes bytes holds exactly the rows its header gives:
// 1078 bytes of headers and colours, then rows padded to four bytes.
bool BmpSizeMatchesItsHeader(const fs::path& path, std::uintmax_t bytes)
{
    std::ifstream in(path, std::ios::binary);
    std::uint8_t header[26] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
        return false;
    }
    const auto field = [&](int at) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(header[at]) |
                                         static_cast<std::uint32_t>(header[at + 1]) << 8 |
                                         static_cast<std::uint32_t>(header[at + 2]) << 16 |
                                         static_cast<std::uint32_t>(header[at + 3]) << 24);
    };
    const std::int64_t width = field(18);
    const std::int64_t height = field(22) < 0 ? -static_cast<std::int64_t>(field(22)) : field(22);
    if (width < 1 || width > 4096 || height < 1 || height > 4096) {
        return false;
    }
    return bytes == static_cast<std::uintmax_t>(1078 + (width + 3) / 4 * 4 * height);
}

// A folder of this process's own, on a memory file system where there is one.
fs::path WorkFolder()
{
    std::error_code ec;
    const fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    return base / ("varek-fuzz-export-" + std::to_string(::getpid()));
}

}  // namespace

// The first byte holds flags: bit 0 turns walls, bit 1 adds a second wall. Then
// the palette file, the wall or walls and the still picture, each as a part; the
// rest of the input is the animation.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    std::span<const std::uint8_t> input(data + 1, size - 1);

    const fs::path work = WorkFolder();
    const fs::path game = work / "game";
    const fs::path out = work / "out";
    std::error_code ec;
    fs::remove_all(work, ec);
    for (const char* folder : {"CELS3", "STILLCEL", "FLI"}) {
        fs::create_directories(game / folder);
    }
    fs::create_directories(out);
    WriteFile(game / "PALETTE.PAL", TakePart(input));
    WriteFile(game / "CELS3" / "A.CEL", TakePart(input));
    if ((flags & 2) != 0) {
        WriteFile(game / "CELS3" / "b.cel", TakePart(input));
    }
    WriteFile(game / "STILLCEL" / "S.CEL", TakePart(input));
    WriteFile(game / "FLI" / "F.FLI", input);
    const auto gameBefore = SizesBelow(game);

    varek::ExportOptions options;
    options.rotate = (flags & 1) != 0;
    CountingListener listener;
    const varek::ExportSummary summary =
        varek::ExportGameFolder(varek::GameFolder::Open(game), out, options, listener);

    Check(summary.failures == listener.failures);
    Check(SizesBelow(game) == gameBefore);
    const auto written = SizesBelow(out);
    Check(written.size() == summary.imagesWritten);
    for (const auto& [name, bytes] : written) {
        Check(fs::path(name).filename().string().front() != '.');  // no temporary file
        if (name.starts_with("CELS3/")) {
            Check(bytes == 5174);
        } else if (name.starts_with("FLI/")) {
            // An 8-bit BMP of the animation's frame size, whatever that is.
            Check(BmpSizeMatchesItsHeader(out / name, bytes));
        }
    }

    fs::remove_all(work, ec);
    return 0;
}
