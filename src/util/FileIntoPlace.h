#pragma once

#include <filesystem>

#include "util/ByteWriter.h"

namespace varek {

// Writes bytes as the file path, never leaving a partly written file under that
// name. Where the system allows, the bytes go into a file without a name in the
// target folder that gets its name only once complete, which costs the file system
// half the work of a temporary name and a rename; otherwise, and when path already
// exists, WriteFileAtomically does the work. Throws Error naming the file and reason.
void WriteFileIntoPlace(const std::filesystem::path& path, const ByteArray& bytes);

}  // namespace varek
