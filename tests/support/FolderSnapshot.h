#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "support/TempFolder.h"

namespace varek::test {

// Every file below a folder by relative path, with its bytes; folders appear as
// "name/" when asked for.
using Snapshot = std::map<std::string, ByteArray>;

inline Snapshot TakeSnapshot(const std::filesystem::path& folder, bool withFolders = false)
{
    Snapshot entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(entry.path(), folder).generic_string();
        if (!entry.is_directory()) {
            entries[name] = ReadAll(entry.path());
        } else if (withFolders) {
            entries[name + "/"] = {};
        }
    }
    return entries;
}

}  // namespace varek::test
