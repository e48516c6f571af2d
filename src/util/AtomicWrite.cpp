#include "util/AtomicWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

// The longest file name the usual file systems take, in bytes.
constexpr std::size_t kLongestName = 255;

bool AllDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The mark in the name of every temporary file this program writes, which no one
// else's file carries: only files with it are ever swept away.
constexpr std::string_view kTemporaryMark = "varek-";

// The hidden name a file is written under before it takes its own:
// ".NAME.varek-PID-NNNNNN.tmp", the target's name cut so that every name the file
// system takes gives a temporary name it takes too. The process number tells a
// later run whether the writer is gone.
// Asked once: the system is asked afresh at each call, and a file is written in a
// few tens of microseconds.
pid_t ThisProcess()
{
    static const pid_t process = ::getpid();
    return process;
}

std::string TemporaryName(const std::string& target, std::uint32_t random,
                          std::size_t longest = kLongestName)
{
    char tail[48];
    const int tailSize = std::snprintf(
        tail, sizeof tail, ".%.*s%ld-%06u.tmp", static_cast<int>(kTemporaryMark.size()),
        kTemporaryMark.data(), static_cast<long>(ThisProcess()), random % 1000000u);
    std::string name(1, '.');
    name.append(target, 0, longest - 1 - std::min(longest - 1, static_cast<std::size_t>(tailSize)));
    name.append(tail, static_cast<std::size_t>(tailSize));
    return name;
}

// The process that wrote a temporary file named as TemporaryName names it; nullopt
// for any other name.
std::optional<pid_t> TemporaryFileWriter(std::string_view name)
{
    constexpr std::string_view kTail = ".tmp";
    if (name.size() < 2 + kTail.size() || name.front() != '.' ||
        name.substr(name.size() - kTail.size()) != kTail) {
        return std::nullopt;
    }
    name.remove_suffix(kTail.size());
    const std::size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos ||
        name.substr(dot + 1, kTemporaryMark.size()) != kTemporaryMark) {
        return std::nullopt;
    }
    const std::string_view mark = name.substr(dot + 1 + kTemporaryMark.size());
    const std::size_t dash = mark.find('-');
    if (dash == std::string_view::npos || dash > 9 || mark.size() - dash - 1 != 6 ||
        !AllDigits(mark.substr(0, dash)) || !AllDigits(mark.substr(dash + 1))) {
        return std::nullopt;
    }
    const long writer = std::stol(std::string(mark.substr(0, dash)));
    return writer > 0 ? std::optional<pid_t>(static_cast<pid_t>(writer)) : std::nullopt;
}

}  // namespace

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
    std::size_t longest = kLongestName;
    for (int attempt = 0; attempt < 16 && m_file < 0; ++attempt) {
        m_temporary = folder / TemporaryName(path.filename().string(), random(), longest);
        // O_EXCL: fail rather than reuse a name some other writer holds.
        m_file = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        openError = errno;
        if (m_file < 0 && openError == ENAMETOOLONG && longest == kLongestName) {
            // A file system that takes shorter names than most: cut to its own limit.
            const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
            if (limit > 0 && static_cast<std::size_t>(limit) < kLongestName) {
                longest = static_cast<std::size_t>(limit);
                openError = EEXIST;
                continue;
            }
        }
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

void FileBeingWritten::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    if (m_file < 0) {
        throw Error(ErrorKind::CannotWrite, Quoted(m_path) + ": the file is already closed");
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t written = ::pwrite(m_file, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(offset + done));
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
        if (*writer == ::getpid() || ::kill(*writer, 0) == 0 || errno != ESRCH) {
            continue;
        }
        // Only an ordinary file this user made, as the writer made it.
        struct stat status {};
        if (::fstatat(listed, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) {
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

}  // namespace varek
