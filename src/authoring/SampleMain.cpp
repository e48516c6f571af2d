// varek-sample: writes a synthetic game folder, or one long animation for timing.
#include <charconv>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "authoring/SampleGame.h"
#include "util/AtomicWrite.h"

namespace {

constexpr const char* kUsage =
    "Usage: varek-sample OUT_FOLDER\n"
    "       varek-sample --animation FRAMES FILE\n"
    "       varek-sample --flat FRAMES FILE\n"
    "       varek-sample --flc WIDTHxHEIGHT FRAMES FILE\n"
    "\n"
    "Writes a complete game folder made of generated art (PALETTE.PAL, CELS3,\n"
    "STILLCEL and FLI) into OUT_FOLDER, with --animation one 320 x 200 FLI\n"
    "animation of FRAMES frames (1 to 65535) into FILE (with --flat one of mostly\n"
    "flat pictures), or with --flc one FLC animation of that size (1 to 4096 each\n"
    "way) and FRAMES frames into FILE.\n";

int UsageError(std::string_view problem)
{
    std::cerr << "varek-sample: " << problem << "\n\n" << kUsage;
    return 2;
}

// A whole decimal number from low to high, or nothing.
std::optional<int> ParseNumber(std::string_view text, int low, int high)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    try {
        const bool flat = argc >= 2 && std::strcmp(argv[1], "--flat") == 0;
        if (argc >= 2 && (flat || std::strcmp(argv[1], "--animation") == 0)) {
            if (argc != 4) {
                return UsageError(std::string(argv[1]) + " takes a frame count and a file");
            }
            const std::optional<int> frames = ParseNumber(argv[2], 1, 65535);
            if (!frames) {
                return UsageError("the frame count must be a number from 1 to 65535");
            }
            varek::WriteFileAtomically(argv[3], flat ? varek::MakeFlatAnimation(*frames)
                                                     : varek::MakeSampleAnimation(*frames));
            return 0;
        }
        if (argc >= 2 && std::strcmp(argv[1], "--flc") == 0) {
            if (argc != 5) {
                return UsageError("--flc takes a size, a frame count and a file");
            }
            const std::string_view size = argv[2];
            const std::size_t x = size.find('x');
            const std::optional<int> width = x == std::string_view::npos
                                                 ? std::nullopt
                                                 : ParseNumber(size.substr(0, x), 1, 4096);
            const std::optional<int> height = x == std::string_view::npos
                                                  ? std::nullopt
                                                  : ParseNumber(size.substr(x + 1), 1, 4096);
            if (!width || !height) {
                return UsageError("the size must be WIDTHxHEIGHT, each from 1 to 4096");
            }
            const std::optional<int> frames = ParseNumber(argv[3], 1, 65535);
            if (!frames) {
                return UsageError("the frame count must be a number from 1 to 65535");
            }
            varek::WriteFileAtomically(argv[4], varek::MakeSampleFlc(*width, *height, *frames));
            return 0;
        }
        if (argc != 2 || argv[1][0] == '-') {
            return UsageError(argc < 2 ? "no output folder given" : "unexpected arguments");
        }
        varek::WriteSampleGameFolder(argv[1]);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "varek-sample: " << error.what() << '\n';
        return 1;
    }
}
