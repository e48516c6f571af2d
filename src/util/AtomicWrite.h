#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "util/ByteWriter.h"

namespace varek {

// A file written in pieces that appears under its name only once complete: the
// bytes go into a hidden temporary file beside path, named as WriteFileAtomically
// names it, which Commit renames over path. Destroyed without Commit, or after
// a failure, it leaves nothing behind. Every call throws a CannotWrite Error
// naming the file and the reason.
class FileBeingWritten {
public:
    explicit FileBeingWritten(const std::filesystem::path& path);
    ~FileBeingWritten();
    FileBeingWritten(const FileBeingWritten&) = delete;
    FileBeingWritten& operator=(const FileBeingWritten&) = delete;

    void Write(std::span<const std::uint8_t> bytes);
    // Puts bytes over some already written, offset counted from the file's start.
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void Commit();

private:
    [[noreturn]] void Fail(int code);

    std::filesystem::path m_path;
    std::filesystem::path m_temporary;
    int m_file = -1;
};

// Writes bytes to a temporary file beside path and renames it into place, so a
// failure leaves any older file under that name as it was and no temporary file
// behind. The temporary file is hidden and names the process writing it, so that a
// later RemoveStaleTemporaryFiles can tell one left by a killed writer. Throws
// Error with a description naming the file and the reason.
// A named temporary file renamed into place costs no more than an unnamed one
// linked under the final name, and less when an old file is replaced, which an
// unnamed file cannot do without a temporary name as well (bench/core WriteBench).
void WriteFileAtomically(const std::filesystem::path& path, const ByteArray& bytes);

// Removes from folder the temporary files WriteFileAtomically left when its process
// was killed: ordinary files of this user named as it names them, with the mark
// only it writes, whose writer no longer runs. Any other file stays, whatever its
// name looks like. Returns how many it removed; a folder that cannot be read gives 0.
std::size_t RemoveStaleTemporaryFiles(const std::filesystem::path& folder);

}  // namespace varek
