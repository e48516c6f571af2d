#pragma once

#include <string>
#include <vector>

namespace varek {

// One fact of a file, with the facts that detail it: "Picture 3" with its file
// frames, a frame with its chunks.
struct FactRow {
    std::string label;
    std::string value;
    std::vector<FactRow> rows;

    bool operator==(const FactRow&) const = default;
};

// What a file holds, as GameFolder::DescribeFile reads it.
struct FileFacts {
    std::vector<FactRow> rows;

    // The first row labelled label, searched depth first; nullptr when none is.
    const FactRow* Find(const std::string& label) const;
};

// An animation's pictures listed one by one up to this many; a row then counts the rest.
inline constexpr std::size_t kMaxListedPictures = 1000;

}  // namespace varek
