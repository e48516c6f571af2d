#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace varek {

// Names compared ignoring ASCII case; LessIgnoringCase orders names that differ
// only in case by their exact bytes.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
bool LessIgnoringCase(const std::string& a, const std::string& b);

// The entry of folder whose name equals name ignoring ASCII case, preferring an
// exact match; nullopt when there is none or the folder cannot be read.
std::optional<std::filesystem::path> FindEntryIgnoringCase(const std::filesystem::path& folder,
                                                           const std::string& name);

// Names of the not hidden entries of folder matching a "*.EXT"-style pattern
// ignoring case, whatever they are (a FIFO, a folder or a broken link named like
// a file is listed, so that whoever reads it says why it cannot be), in name order
// (ASCII case-insensitive, then exact). Throws a CannotRead Error naming the
// folder when it cannot be listed or is not a folder, a NotFound one when it is
// not there.
std::vector<std::string> ListMatchingFiles(const std::filesystem::path& folder,
                                           const std::string& pattern);

// Case-insensitive match of name against a pattern with '*' and '?', or any of
// several such patterns parted by ';'.
bool MatchesPattern(const std::string& name, const std::string& pattern);

}  // namespace varek
