#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "util/ByteWriter.h"
#include "util/ErrorReporter.h"

namespace varek {

// True for an ordinary file (not a folder, not hidden) longer than 0 bytes.
// A path the file system rejects is reported as "FileExists" and gives false.
bool FileExists(const std::filesystem::path& path, ErrorReporter& reporter);

// The whole file. A missing or empty file gives one byte holding 0, so callers
// never see an empty array. A file that exists but cannot be read throws Error.
ByteArray ReadFileBytes(const std::filesystem::path& path, ErrorReporter& reporter);

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
