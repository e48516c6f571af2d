#pragma once

#include <sys/statvfs.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mount.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace varek::test {

// A small file system of its own on a fresh folder, for tests of saving onto a
// full or read-only disk: a tmpfs where the process may mount one (root may, and
// permission bits do not stop root), unmounted again when done. Where mounting is
// refused, folder is an ordinary folder and MountFailure() says why.
class ScratchFileSystem {
public:
    ScratchFileSystem(std::filesystem::path folder, std::size_t bytes) : m_path(std::move(folder))
    {
        std::filesystem::create_directories(m_path);
#ifdef __linux__
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        if (::mount("varek-test", m_path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.c_str()) == 0) {
            m_mounted = true;
        } else {
            m_mountFailure = "cannot mount a tmpfs: " + Reason(errno);
        }
#else
        (void)bytes;
        m_mountFailure = "cannot mount a tmpfs on this system";
#endif
    }

    ~ScratchFileSystem()
    {
        RestoreWriteBits();
#ifdef __linux__
        if (m_mounted && ::umount2(m_path.c_str(), 0) != 0) {
            ::umount2(m_path.c_str(), MNT_DETACH);  // still busy: gone once let go
        }
#endif
    }

    ScratchFileSystem(const ScratchFileSystem&) = delete;
    ScratchFileSystem& operator=(const ScratchFileSystem&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    bool mounted() const { return m_mounted; }
    const std::string& MountFailure() const { return m_mountFailure; }

    // Makes the folder one this process cannot write in, keeping what is in it: the
    // tmpfs is mounted again read-only, or, where none could be mounted and the
    // process is not root, the write bits of the folder and of every folder below it
    // are taken away (and given back when this object goes). Empty when done,
    // otherwise why it cannot be done, for the test to skip.
    std::string MakeReadOnly()
    {
#ifdef __linux__
        if (m_mounted) {
            if (::mount(nullptr, m_path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                        nullptr) != 0) {
                return "cannot make the tmpfs read-only: " + Reason(errno);
            }
            return {};
        }
#endif
        if (::geteuid() == 0) {
            return m_mountFailure + ", and permission bits do not stop root";
        }
        std::error_code ec;
        std::vector<std::filesystem::path> folders{m_path};
        for (std::filesystem::recursive_directory_iterator it(m_path, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                folders.push_back(it->path());
            }
        }
        if (ec) {
            return "cannot list the folders to make read-only: " + ec.message();
        }
        constexpr auto writeBits = std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write;
        for (const std::filesystem::path& folder : folders) {
            const std::filesystem::perms before = std::filesystem::status(folder, ec).permissions();
            if (!ec) {
                std::filesystem::permissions(folder, before & ~writeBits,
                                             std::filesystem::perm_options::replace, ec);
            }
            if (ec) {
                RestoreWriteBits();
                return "cannot take the write bits of \"" + folder.string() +
                       "\" away: " + ec.message();
            }
            m_writeBitsTaken.emplace_back(folder, before);
        }
        return {};
    }

    // Fills the tmpfs with the file fillerName until about room bytes (whole
    // blocks) are left free. Empty when done, otherwise why not.
    std::string LeaveFree(const std::string& fillerName, std::size_t room)
    {
        if (!m_mounted) {
            return m_mountFailure;
        }
        struct statvfs info {};
        if (::statvfs(m_path.c_str(), &info) != 0) {
            return "cannot ask how full the tmpfs is: " + Reason(errno);
        }
        const std::size_t block = info.f_frsize;
        const std::size_t freeBlocks = info.f_bavail;
        const std::size_t keptBlocks = (room + block - 1) / block;
        if (keptBlocks > freeBlocks) {
            return "the tmpfs is too small for the room asked";
        }
        const std::vector<char> filler((freeBlocks - keptBlocks) * block, 'f');
        std::FILE* file = std::fopen((m_path / fillerName).c_str(), "wb");
        if (file == nullptr) {
            return "cannot fill the tmpfs: " + Reason(errno);
        }
        const bool written = std::fwrite(filler.data(), 1, filler.size(), file) == filler.size();
        const bool closed = std::fclose(file) == 0;
        if (!written || !closed) {
            return "cannot fill the tmpfs";
        }
        return {};
    }

    // The bytes still free.
    std::size_t FreeBytes() const
    {
        struct statvfs info {};
        return ::statvfs(m_path.c_str(), &info) == 0
                   ? static_cast<std::size_t>(info.f_bavail) * info.f_frsize
                   : 0;
    }

private:
    // Gives each folder MakeReadOnly changed its permissions back, deepest first.
    void RestoreWriteBits()
    {
        std::error_code ec;
        for (auto it = m_writeBitsTaken.rbegin(); it != m_writeBitsTaken.rend(); ++it) {
            std::filesystem::permissions(it->first, it->second,
                                         std::filesystem::perm_options::replace, ec);
        }
        m_writeBitsTaken.clear();
    }

    static std::string Reason(int error)
    {
        return std::error_code(error, std::generic_category()).message();
    }

    std::filesystem::path m_path;
    bool m_mounted = false;
    std::vector<std::pair<std::filesystem::path, std::filesystem::perms>> m_writeBitsTaken;
    std::string m_mountFailure;
};

}  // namespace varek::test
