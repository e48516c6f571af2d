#pragma once

#include <filesystem>

#include "util/ByteWriter.h"

namespace varek {

// Writes bytes as the file path, never leaving a partly written file under that
// name: the bytes go into a hidden temporary file in the target folder, which is
// renamed over path once complete (WriteFileAtomically). A writer killed before the
// rename leaves that temporary file, which RemoveStaleTemporaryFiles clears. Throws
// Error naming the file and reason.
void WriteFileIntoPlace(const std::filesystem::path& path, const ByteArray& bytes);

}  // namespace varek
