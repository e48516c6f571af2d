#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "util/ByteWriter.h"

namespace varek {

// Writing into a game folder with a way back: every file replaced is first
// copied to GAME/.varek-backup/DATE-TIME/, keeping its name below the game
// folder, and every new file is renamed into place whole, so each game file is
// either old or new whatever stops the writing.

inline constexpr const char* kBackupFolderName = ".varek-backup";

// One game file and its new bytes.
struct GameFileChange {
    std::filesystem::path target;    // in the game folder
    std::filesystem::path relative;  // its name below the game folder, as the backup keeps it
    ByteArray bytes;
};

// Copies every target that exists into a new backup folder named by the local
// date and time ("20260314-101500", then "-2", "-3" ... within one second) and
// returns that folder. Throws Error or std::filesystem::filesystem_error; nothing
// in the game folder but the backup is touched.
std::filesystem::path BackUpGameFiles(const std::filesystem::path& game,
                                      std::span<const GameFileChange> changes);

// Writes the changes in order, each renamed into place whole. written, when given,
// is told of each file once it is in place and ends the run there by saying false.
// Returns how many were written; throws the Error of a file that cannot be
// written, those before it staying written.
std::size_t WriteGameFiles(std::span<const GameFileChange> changes,
                           const std::function<bool(const GameFileChange&)>& written = {});

// The newest backup folder of game, or nothing when it has none.
std::optional<std::filesystem::path> NewestBackup(const std::filesystem::path& game);

// The changes that put backup's files back into game: the files that differ from
// the game's now (a write stopped before a file left it as the backup holds it).
// Throws when the backup cannot be read.
std::vector<GameFileChange> RestoreChanges(const std::filesystem::path& game,
                                           const std::filesystem::path& backup);

}  // namespace varek
