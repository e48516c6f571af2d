// varek-sample: writes a synthetic game folder, or one long animation for timing.
#include <charconv>
#include <cstring>
#include <exception>
#include <iostream>
#include <string_view>

#include "authoring/SampleGame.h"
#include "util/AtomicWrite.h"

namespace {

constexpr const char* kUsage =
    "Usage: varek-sample OUT_FOLDER\n"
    "       varek-sample --animation FRAMES FILE\n"
    "\n"
    "Writes a complete game folder made of generated art (PALETTE.PAL, CELS3,\n"
    "STILLCEL and FLI) into OUT_FOLDER, or with --animation one 320 x 200 FLI\n"
    "animation of FRAMES frames (1 to 65535) into FILE.\n";

int UsageError(std::string_view problem)
{
    std::cerr << "varek-sample: " << problem << "\n\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    try {
        if (argc >= 2 && std::strcmp(argv[1], "--animation") == 0) {
            if (argc != 4) {
                return UsageError("--animation takes a frame count and a file");
            }
            const std::string_view text = argv[2];
            int frames = 0;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), frames);
            if (error != std::errc() || end != text.data() + text.size() || frames < 1 ||
                frames > 65535) {
                return UsageError("the frame count must be a number from 1 to 65535");
            }
            varek::WriteFileAtomically(argv[3], varek::MakeSampleAnimation(frames));
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
