#include "util/FileRead.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>
#include <utility>

#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

// Reads are split into steps no larger than the system takes in one call.
constexpr std::size_t kLargestRead = std::size_t{1} << 30;

// "it is not an ordinary file: a FIFO", for what mode says path is.
std::string NotOrdinary(const fs::path& path, mode_t mode)
{
    const char* what = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "a link that leads nowhere";
    return Quoted(path) + ": it is not an ordinary file: " + what;
}

// Why path could not be opened, error being open's errno: what stands there when
// that is no file at all (a socket, a broken link, a loop of links).
Error OpenFailure(const fs::path& path, int error)
{
    struct stat status {};
    if (error == ELOOP) {
        return Error(
            ErrorKind::CannotRead,
            Quoted(path) + ": it is not an ordinary file: a link that leads round in a loop");
    }
    if ((error == ENOENT || error == ENXIO) && ::lstat(path.c_str(), &status) == 0 &&
        (S_ISLNK(status.st_mode) || S_ISSOCK(status.st_mode))) {
        return Error(ErrorKind::CannotRead, NotOrdinary(path, status.st_mode));
    }
    if (error == ENOENT) {
        return Error(ErrorKind::NotFound, "there is no file " + Quoted(path));
    }
    return Error(ErrorKind::CannotRead, Quoted(path) + ": " + SystemReason(error));
}

}  // namespace

InputFile::InputFile(const fs::path& path) : m_path(path)
{
    if (path.empty() || IsHiddenName(path.filename().string())) {
        throw Error(ErrorKind::NotFound, "there is no file " + Quoted(path));
    }
    // One descriptor for the check and the reads, so that what is checked is what is
    // read. Without blocking: opening a FIFO or a terminal would otherwise wait.
    do {
        m_file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (m_file < 0 && errno == EINTR);
    if (m_file < 0) {
        throw OpenFailure(path, errno);
    }
    struct stat status {};
    if (::fstat(m_file, &status) != 0) {
        const int error = errno;
        ::close(m_file);
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": " + SystemReason(error));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(m_file);
        throw Error(ErrorKind::CannotRead, NotOrdinary(path, status.st_mode));
    }
    m_size = static_cast<std::uint64_t>(status.st_size);
    if (m_size == 0) {
        // Files the system makes up as they are read (/proc, /sys) give their size as
        // 0 and still hold bytes, or refuse a read at offset 0 (/proc/self/mem): no
        // art file is one of them, and neither is empty.
        std::uint8_t probe = 0;
        ssize_t got = 0;
        do {
            got = ::pread(m_file, &probe, 1, 0);
        } while (got < 0 && errno == EINTR);
        const int error = errno;
        if (got != 0) {
            ::close(m_file);
            throw Error(
                ErrorKind::CannotRead,
                Quoted(path) + ": it is not an ordinary file: it gives its size as 0 " +
                    (got > 0 ? std::string("but holds bytes, as files the system makes up do")
                             : "and cannot be read: " + SystemReason(error)));
        }
    }
}

InputFile::~InputFile()
{
    ::close(m_file);
}

std::size_t InputFile::ReadInto(std::uint8_t* into, std::size_t count) const
{
    std::size_t done = 0;
    while (done < count) {
        const std::size_t step = std::min<std::size_t>(count - done, kLargestRead);
        const ssize_t got = ::pread(m_file, into + done, step, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw Error(ErrorKind::CannotRead, Quoted(m_path) + ": " + SystemReason(errno));
        }
        if (got == 0) {
            break;  // the file was cut short since it was opened
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

ByteArray InputFile::ReadStart(std::uint64_t count) const
{
    const std::uint64_t wanted = std::min(count, m_size);
    if (wanted > std::numeric_limits<std::size_t>::max() / 2) {
        throw std::bad_alloc();
    }
    ByteArray bytes(static_cast<std::size_t>(wanted));
    bytes.resize(ReadInto(bytes.data(), bytes.size()));
    return bytes;
}

FileBytes InputFile::ReadFront(std::uint64_t count) const
{
    const std::uint64_t wanted = std::min(count, m_size);
    if (wanted > std::numeric_limits<std::size_t>::max() / 2) {
        throw std::bad_alloc();
    }
    FileBytes bytes;
    if (wanted == 0) {
        return bytes;
    }
    // Memory in pages of 2 MiB where the system has them: taking a large file's
    // memory 4 KiB at a time costs more than reading the file.
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    const auto size = static_cast<std::size_t>(wanted);
    const std::size_t length = size + kLargePage;
    void* memory =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        throw std::bad_alloc();
    }
    bytes.m_mapping = memory;
    bytes.m_mapped = length;
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    bytes.m_data = reinterpret_cast<std::uint8_t*>((start + kLargePage - 1) & ~(kLargePage - 1));
#ifdef MADV_HUGEPAGE
    ::madvise(bytes.m_data, size, MADV_HUGEPAGE);  // advice only: without, 4 KiB pages
#endif
    bytes.m_size = ReadInto(bytes.m_data, size);
    return bytes;
}

FileBytes::~FileBytes()
{
    if (m_mapping != nullptr) {
        ::munmap(m_mapping, m_mapped);
    }
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : m_owned(std::move(other.m_owned)),
      m_mapping(std::exchange(other.m_mapping, nullptr)),
      m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0))
{
}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept
{
    if (this != &other) {
        FileBytes old(std::move(*this));
        m_owned = std::move(other.m_owned);
        m_mapping = std::exchange(other.m_mapping, nullptr);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

FileBytes::FileBytes(ByteArray bytes)
    : m_owned(std::move(bytes)), m_data(m_owned.data()), m_size(m_owned.size())
{
}

void RefuseLargerThan(std::uint64_t size, std::uint64_t limit)
{
    if (size > limit) {
        throw Error(ErrorKind::TooLarge, "the file holds " + Counted(size, "byte", "bytes") +
                                             ", more than the limit of " + std::to_string(limit) +
                                             " for it");
    }
}

ByteArray ReadFileBytes(const fs::path& path, std::uint64_t limit)
{
    const InputFile file(path);
    RefuseLargerThan(file.Size(), limit);
    return file.ReadStart(file.Size());
}

}  // namespace varek
