#include "util/FileIntoPlace.h"

#include "util/FileIO.h"

namespace varek {

void WriteFileIntoPlace(const std::filesystem::path& path, const ByteArray& bytes)
{
    // A named temporary file renamed into place costs no more than an unnamed one
    // linked under the final name, and less when an old file is replaced, which an
    // unnamed file cannot do without a temporary name as well (bench/core
    // WriteFiles).
    WriteFileAtomically(path, bytes);
}

}  // namespace varek
