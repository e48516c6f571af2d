#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "util/ByteWriter.h"

namespace varek {

inline constexpr std::uint64_t kNoReadLimit = std::numeric_limits<std::uint64_t>::max();

// A file's bytes in memory of their own, in large pages where the system has them:
// taken 4 KiB at a time, the memory of a file of megabytes costs more than reading it.
class FileBytes {
public:
    FileBytes() = default;
    ~FileBytes();
    FileBytes(FileBytes&& other) noexcept;
    FileBytes& operator=(FileBytes&& other) noexcept;

    std::span<const std::uint8_t> bytes() const noexcept { return {m_data, m_size}; }
    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }

private:
    friend class InputFile;
    void* m_mapping = nullptr;
    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_mapped = 0;
};

// A file opened once for reading: the checks and every read go through the one
// descriptor, so a file swapped for another in between is never read. The open
// never waits, for a FIFO or a device, and never makes a terminal the program's.
// Throws Error: NotFound when there is nothing under that name (or a hidden
// file), CannotRead when what is there is not an ordinary file (a FIFO, a device,
// a folder, or a file the system makes up as it is read, which gives its size as 0
// and still holds bytes) or cannot be opened.
class InputFile {
public:
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The size the file had when it was opened.
    std::uint64_t Size() const noexcept { return m_size; }

    // The first count bytes, or as many as the file holds: memory for no more than
    // min(count, Size()) bytes is taken. Throws a CannotRead Error when a read fails.
    ByteArray ReadStart(std::uint64_t count) const;
    // Every byte the file holds, as ReadStart(Size()) reads them.
    FileBytes ReadAll() const;

private:
    std::size_t ReadInto(std::uint8_t* into, std::size_t count) const;

    std::filesystem::path m_path;
    int m_file = -1;
    std::uint64_t m_size = 0;
};

// The whole file, an empty one an empty array. Throws Error as InputFile does, and
// TooLarge, before reading anything, when the file holds more than limit bytes.
ByteArray ReadFileBytes(const std::filesystem::path& path, std::uint64_t limit = kNoReadLimit);

// ReadFileBytes for a file of the game: an empty one is NotFound as well, since
// no art file of the game is empty.
ByteArray ReadGameFile(const std::filesystem::path& path, std::uint64_t limit = kNoReadLimit);

// ReadGameFile into FileBytes, for large files read whole.
FileBytes ReadWholeGameFile(const std::filesystem::path& path, std::uint64_t limit);

// The first count bytes of a file of the game, or all it holds when it is
// shorter, whatever its size: what a format uses of a file, and no more. Throws as
// ReadGameFile does, an empty file NotFound.
ByteArray ReadGameFileStart(const std::filesystem::path& path, std::uint64_t count);

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
void WriteFileAtomically(const std::filesystem::path& path, const ByteArray& bytes);

// Removes from folder the temporary files WriteFileAtomically left when its process
// was killed: those named as it names them whose writer no longer runs, and those
// of the earlier ".NAME.NNNNNN.tmp" naming. Returns how many it removed; a folder
// that cannot be read gives 0.
std::size_t RemoveStaleTemporaryFiles(const std::filesystem::path& folder);

// The entry of folder whose name equals name ignoring ASCII case, preferring an
// exact match; nullopt when there is none or the folder cannot be read.
std::optional<std::filesystem::path> FindEntryIgnoringCase(const std::filesystem::path& folder,
                                                           const std::string& name);

// Names of the ordinary, not hidden files of folder matching a "*.EXT"-style
// pattern ignoring case, in name order (ASCII case-insensitive, then exact).
// Throws a CannotRead Error naming the folder when it cannot be listed, a
// NotFound one when it is not there; an ordinary file in its place lists nothing.
std::vector<std::string> ListMatchingFiles(const std::filesystem::path& folder,
                                           const std::string& pattern);

// Case-insensitive match of name against a pattern with '*' and '?'.
bool MatchesPattern(const std::string& name, const std::string& pattern);

}  // namespace varek
