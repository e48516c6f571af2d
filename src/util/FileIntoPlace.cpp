#include "util/FileIntoPlace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "util/Error.h"
#include "util/FileIO.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

[[noreturn]] void ThrowWriteError(const fs::path& path, int error)
{
    throw Error(ErrorKind::CannotWrite,
                Quoted(path) + ": " + std::error_code(error, std::generic_category()).message());
}

bool WriteAll(int file, const ByteArray& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(file, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

void WriteFileIntoPlace(const fs::path& path, const ByteArray& bytes)
{
#ifdef O_TMPFILE
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const int file = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (file >= 0) {
        if (!WriteAll(file, bytes)) {
            const int error = errno;
            ::close(file);
            ThrowWriteError(path, error);
        }
        // Naming the file through its descriptor needs no privilege, unlike AT_EMPTY_PATH.
        const std::string self = "/proc/self/fd/" + std::to_string(file);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            if (::close(file) != 0) {
                const int error = errno;
                ::unlink(path.c_str());
                ThrowWriteError(path, error);
            }
            return;
        }
        // An existing file, or no /proc: the unnamed file goes away with its descriptor.
        ::close(file);
    }
#endif
    WriteFileAtomically(path, bytes);
}

}  // namespace varek
