#pragma once

#include <filesystem>

#include "art/GameFolder.h"

namespace varek {

struct ExportOptions;

// The folder each category's images go to inside the output folder.
std::filesystem::path ExportFolder(const std::filesystem::path& outFolder, ArtCategory category);

// Throws a CannotWrite Error saying why outFolder must not take the export of game:
// the export would write into the game folder itself or into one of its category
// folders (matched ignoring case, through links, and by the folders' identity on
// the disk, which a bind mount keeps), or outFolder is not a folder. For a file
// opened on its own only images straight into the file's folder are refused.
void CheckOutputFolder(const GameFolder& game, const std::filesystem::path& outFolder);

// Makes outFolder, which passed CheckOutputFolder, where it is not there yet.
// Throws a CannotWrite Error when it cannot be made, or when this process cannot
// make files in it or in the folder of a category options chooses that is already
// there (a read-only disk, permissions), or something other than a folder stands
// where such a category folder belongs.
void MakeOutputFolder(const std::filesystem::path& outFolder, const ExportOptions& options);

}  // namespace varek
