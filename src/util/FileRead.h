#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <span>

#include "util/ByteWriter.h"

namespace varek {

inline constexpr std::uint64_t kNoReadLimit = std::numeric_limits<std::uint64_t>::max();

// A file's bytes in memory of their own, in large pages where the system has them:
// taken 4 KiB at a time, the memory of a file of megabytes costs more than reading it.
class FileBytes {
public:
    FileBytes() = default;
    // Bytes already in memory, held as they are.
    explicit FileBytes(ByteArray bytes);
    ~FileBytes();
    FileBytes(FileBytes&& other) noexcept;
    FileBytes& operator=(FileBytes&& other) noexcept;

    std::span<const std::uint8_t> bytes() const noexcept { return {m_data, m_size}; }
    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }

private:
    friend class InputFile;
    ByteArray m_owned;
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
// a socket, a folder, a link that leads nowhere or round in a loop, or a file the
// system makes up as it is read, which gives its size as 0 and still holds bytes
// or refuses to be read), saying which, or cannot be opened.
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
    // ReadStart's bytes in memory of their own (FileBytes).
    FileBytes ReadFront(std::uint64_t count) const;
    // Every byte the file holds, as ReadStart(Size()) reads them.
    FileBytes ReadAll() const { return ReadFront(m_size); }

private:
    std::size_t ReadInto(std::uint8_t* into, std::size_t count) const;

    std::filesystem::path m_path;
    int m_file = -1;
    std::uint64_t m_size = 0;
};

// Throws a TooLarge Error when a file of size bytes holds more than limit.
void RefuseLargerThan(std::uint64_t size, std::uint64_t limit);

// The whole file, an empty one an empty array. Throws Error as InputFile does, and
// TooLarge, before reading anything, when the file holds more than limit bytes.
ByteArray ReadFileBytes(const std::filesystem::path& path, std::uint64_t limit = kNoReadLimit);

}  // namespace varek
