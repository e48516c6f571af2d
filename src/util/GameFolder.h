#pragma once

#include <filesystem>
#include <string>

namespace varek {

// The three kinds of art, numbered as the window's category buttons.
enum class ArtCategory { WallsSprites = 0, OtherArt = 1, Animated = 2 };

struct CategoryInfo {
    const char* caption;    // the button's caption
    const char* subFolder;  // folder of the game folder holding the files
    const char* pattern;    // which of its files are listed
};

const CategoryInfo& InfoOf(ArtCategory category);

inline constexpr const char* kPaletteFileName = "PALETTE.PAL";

// The message for the first item of the game folder that is missing, checked in
// the order PALETTE.PAL, CELS3, STILLCEL, FLI; empty when all are there. The
// palette must be an ordinary file (an empty one passes); each sub-folder may be
// a folder or an ordinary file. Names are matched ignoring case.
std::string CheckGameFolder(const std::filesystem::path& gameFolder);

// gameFolder / name, with name matched ignoring case against what is there.
std::filesystem::path GameFolderEntry(const std::filesystem::path& gameFolder,
                                      const std::string& name);

}  // namespace varek
