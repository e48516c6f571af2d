#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "util/ByteWriter.h"

namespace varek {

// The whole file; an empty file gives an empty array. Throws Error: NotFound when
// there is nothing under that name (or a hidden file), CannotRead when what is
// there is not an ordinary file or cannot be read.
ByteArray ReadFileBytes(const std::filesystem::path& path);

// ReadFileBytes for a file of the game: an empty one is NotFound as well, since
// no art file of the game is empty.
ByteArray ReadGameFile(const std::filesystem::path& path);

// Writes bytes to a temporary file beside path and renames it into place, so a
// failure leaves any older file under that name as it was and no temporary file
// behind. Throws Error with a description naming the file and the reason.
void WriteFileAtomically(const std::filesystem::path& path, const ByteArray& bytes);

// The entry of folder whose name equals name ignoring ASCII case, preferring an
// exact match; nullopt when there is none or the folder cannot be read.
std::optional<std::filesystem::path> FindEntryIgnoringCase(const std::filesystem::path& folder,
                                                           const std::string& name);

// Names of the ordinary, not hidden files of folder matching a "*.EXT"-style
// pattern ignoring case, in name order (ASCII case-insensitive, then exact).
std::vector<std::string> ListMatchingFiles(const std::filesystem::path& folder,
                                           const std::string& pattern);

// Case-insensitive match of name against a pattern with '*' and '?'.
bool MatchesPattern(const std::string& name, const std::string& pattern);

}  // namespace varek
