#include "util/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>

#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    const auto cmp =
        std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                     [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
    if (cmp) {
        return true;
    }
    if (EqualsIgnoringCase(a, b)) {
        return a < b;
    }
    return false;
}

// The longest file name the usual file systems take, in bytes.
constexpr std::size_t kLongestName = 255;
// Reads are split into steps no larger than the system takes in one call.
constexpr std::size_t kLargestRead = std::size_t{1} << 30;

std::string SystemReason(int code)
{
    return std::error_code(code, std::generic_category()).message();
}

bool AllDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The hidden name a file is written under before it takes its own:
// ".NAME.PID-NNNNNN.tmp", the target's name cut so that every name the file system
// takes gives a temporary name it takes too. The process number tells a later run
// whether the writer is gone.
// Asked once: the system is asked afresh at each call, and a file is written in a
// few tens of microseconds.
pid_t ThisProcess()
{
    static const pid_t process = ::getpid();
    return process;
}

std::string TemporaryName(const std::string& target, std::uint32_t random)
{
    char tail[40];
    const int tailSize = std::snprintf(tail, sizeof tail, ".%ld-%06u.tmp",
                                       static_cast<long>(ThisProcess()), random % 1000000u);
    std::string name(1, '.');
    name.append(target, 0, kLongestName - 1 - static_cast<std::size_t>(tailSize));
    name.append(tail, static_cast<std::size_t>(tailSize));
    return name;
}

// The process that wrote a temporary file named as TemporaryName names it, 0 for
// the ".NAME.NNNNNN.tmp" of earlier versions, which name no process; nullopt for
// any other name.
std::optional<pid_t> TemporaryFileWriter(std::string_view name)
{
    constexpr std::string_view kTail = ".tmp";
    if (name.size() < 2 + kTail.size() || name.front() != '.' ||
        name.substr(name.size() - kTail.size()) != kTail) {
        return std::nullopt;
    }
    name.remove_suffix(kTail.size());
    const std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view mark = name.substr(dot + 1);
    if (mark.size() == 6 && AllDigits(mark)) {
        return pid_t{0};
    }
    const std::size_t dash = mark.find('-');
    if (dash == std::string_view::npos || dash > 9 || mark.size() - dash - 1 != 6 ||
        !AllDigits(mark.substr(0, dash)) || !AllDigits(mark.substr(dash + 1))) {
        return std::nullopt;
    }
    const long writer = std::stol(std::string(mark.substr(0, dash)));
    return writer > 0 ? std::optional<pid_t>(static_cast<pid_t>(writer)) : std::nullopt;
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
        const int error = errno;
        if (error == ENOENT) {
            throw Error(ErrorKind::NotFound, "there is no file " + Quoted(path));
        }
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": " + SystemReason(error));
    }
    struct stat status {};
    if (::fstat(m_file, &status) != 0) {
        const int error = errno;
        ::close(m_file);
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": " + SystemReason(error));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(m_file);
        throw Error(ErrorKind::CannotRead, Quoted(path) + ": it is not an ordinary file");
    }
    m_size = static_cast<std::uint64_t>(status.st_size);
    if (m_size == 0) {
        // Files the system makes up as they are read (/proc, /sys) give their size as
        // 0 and still hold bytes: no art file is one of them.
        std::uint8_t probe = 0;
        if (::pread(m_file, &probe, 1, 0) > 0) {
            ::close(m_file);
            throw Error(ErrorKind::CannotRead,
                        Quoted(path) +
                            ": it is not an ordinary file: it gives its size as 0 "
                            "but holds bytes, as files the system makes up do");
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

FileBytes InputFile::ReadAll() const
{
    if (m_size > std::numeric_limits<std::size_t>::max() / 2) {
        throw std::bad_alloc();
    }
    FileBytes bytes;
    if (m_size == 0) {
        return bytes;
    }
    // Memory in pages of 2 MiB where the system has them: taking a large file's
    // memory 4 KiB at a time costs more than reading the file.
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    const auto size = static_cast<std::size_t>(m_size);
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
    : m_mapping(std::exchange(other.m_mapping, nullptr)),
      m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0))
{
}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept
{
    if (this != &other) {
        FileBytes old(std::move(*this));
        m_mapping = std::exchange(other.m_mapping, nullptr);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

namespace {

void RefuseLargerThan(const InputFile& file, std::uint64_t limit)
{
    if (file.Size() > limit) {
        throw Error(ErrorKind::TooLarge, "the file holds " + Counted(file.Size(), "byte", "bytes") +
                                             ", more than the limit of " + std::to_string(limit) +
                                             " for it");
    }
}

}  // namespace

FileBytes ReadWholeGameFile(const fs::path& path, std::uint64_t limit)
{
    const InputFile file(path);
    RefuseLargerThan(file, limit);
    FileBytes bytes = file.ReadAll();
    if (bytes.empty()) {
        throw Error(ErrorKind::NotFound, "the file is empty");
    }
    return bytes;
}

ByteArray ReadFileBytes(const fs::path& path, std::uint64_t limit)
{
    const InputFile file(path);
    RefuseLargerThan(file, limit);
    return file.ReadStart(file.Size());
}

ByteArray ReadGameFile(const fs::path& path, std::uint64_t limit)
{
    ByteArray bytes = ReadFileBytes(path, limit);
    if (bytes.empty()) {
        throw Error(ErrorKind::NotFound, "the file is empty");
    }
    return bytes;
}

ByteArray ReadGameFileStart(const fs::path& path, std::uint64_t count)
{
    const InputFile file(path);
    if (file.Size() == 0) {
        throw Error(ErrorKind::NotFound, "the file is empty");
    }
    return file.ReadStart(count);
}

FileBeingWritten::FileBeingWritten(const fs::path& path) : m_path(path)
{
    // The system would take the name only up to a NUL, which is another file.
    if (path.native().find('\0') != fs::path::string_type::npos) {
        std::string shown = path.string();
        for (std::size_t at = shown.find('\0'); at != std::string::npos;
             at = shown.find('\0', at)) {
            shown.replace(at, 1, "\\0");
        }
        throw Error(
            ErrorKind::CannotWrite,
            Quoted(shown) + ": the name holds a NUL character, which no file name can hold");
    }
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (fs::is_directory(status)) {
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": it is a folder");
    }
    if (fs::exists(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": the file is read-only");
    }

    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    // Seeded once a thread: opening the random device for each file cost more than
    // writing a 64 KB image.
    thread_local std::mt19937 random(std::random_device{}());
    int openError = 0;
    for (int attempt = 0; attempt < 16 && m_file < 0; ++attempt) {
        m_temporary = folder / TemporaryName(path.filename().string(), random());
        // O_EXCL: fail rather than reuse a name some other writer holds.
        m_file = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        openError = errno;
        if (m_file < 0 && openError != EEXIST && openError != EINTR) {
            break;
        }
    }
    if (m_file < 0) {
        throw Error(ErrorKind::CannotWrite, Quoted(path) + ": " + SystemReason(openError));
    }
}

FileBeingWritten::~FileBeingWritten()
{
    if (m_file >= 0) {
        ::close(m_file);
        ::unlink(m_temporary.c_str());
    }
}

void FileBeingWritten::Fail(int code)
{
    if (m_file >= 0) {
        ::close(m_file);
        m_file = -1;
    }
    ::unlink(m_temporary.c_str());
    throw Error(ErrorKind::CannotWrite, Quoted(m_path) + ": " + SystemReason(code));
}

void FileBeingWritten::Write(std::span<const std::uint8_t> bytes)
{
    if (m_file < 0) {
        throw Error(ErrorKind::CannotWrite, Quoted(m_path) + ": the file is already closed");
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t written = ::write(m_file, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written == 0) {
            Fail(ENOSPC);
        } else if (errno != EINTR) {
            Fail(errno);
        }
    }
}

void FileBeingWritten::Commit()
{
    if (m_file < 0) {
        throw Error(ErrorKind::CannotWrite, Quoted(m_path) + ": the file is already closed");
    }
    if (::close(std::exchange(m_file, -1)) != 0 && errno != EINTR) {
        Fail(errno);
    }
    if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
        Fail(errno);
    }
}

void WriteFileAtomically(const fs::path& path, const ByteArray& bytes)
{
    FileBeingWritten file(path);
    file.Write(bytes);
    file.Commit();
}

std::size_t RemoveStaleTemporaryFiles(const fs::path& folder)
{
    const int listed = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) {
        return 0;
    }
    DIR* entries = ::fdopendir(listed);
    if (entries == nullptr) {
        ::close(listed);
        return 0;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(entries)) {
        const std::optional<pid_t> writer = TemporaryFileWriter(entry->d_name);
        if (!writer) {
            continue;
        }
        // A writer that still runs may be about to rename its file into place; a
        // process number now used by another program only leaves the file for later.
        if (*writer != 0 && (*writer == ::getpid() || ::kill(*writer, 0) == 0 || errno == EPERM)) {
            continue;
        }
        struct stat status {};
        if (::fstatat(listed, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            stale.emplace_back(entry->d_name);
        }
    }
    std::size_t removed = 0;
    for (const std::string& name : stale) {
        removed += ::unlinkat(listed, name.c_str(), 0) == 0 ? 1 : 0;
    }
    ::closedir(entries);
    return removed;
}

std::optional<fs::path> FindEntryIgnoringCase(const fs::path& folder, const std::string& name)
{
    std::error_code ec;
    if (fs::exists(folder / name, ec)) {
        return folder / name;
    }
    std::optional<fs::path> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto entryName = it->path().filename().string();
        if (EqualsIgnoringCase(entryName, name) &&
            (!found || entryName < found->filename().string())) {
            found = it->path();
        }
    }
    return found;
}

bool MatchesPattern(const std::string& name, const std::string& pattern)
{
    // Iterative glob with backtracking to the last '*'.
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starAt = std::string::npos;
    std::size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string> ListMatchingFiles(const fs::path& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto name = it->path().filename().string();
        std::error_code statusError;
        if (IsHiddenName(name) || !it->is_regular_file(statusError) || statusError) {
            continue;
        }
        if (MatchesPattern(name, pattern)) {
            names.push_back(name);
        }
    }
    // A listing cut short would pass for a folder holding fewer files.
    if (ec == std::errc::no_such_file_or_directory) {
        throw Error(ErrorKind::NotFound, "there is no folder " + Quoted(folder));
    }
    if (ec && ec != std::errc::not_a_directory) {
        throw Error(ErrorKind::CannotRead, Quoted(folder) + ": " + ec.message());
    }
    std::sort(names.begin(), names.end(), LessIgnoringCase);
    return names;
}

}  // namespace varek
