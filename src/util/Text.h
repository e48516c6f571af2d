#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace varek {

// Small text helpers for messages and for names matched ignoring ASCII case.

constexpr char LowerAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string LowerAscii(std::string text)
{
    for (char& c : text) {
        c = LowerAscii(c);
    }
    return text;
}

// "\"" + path + "\"", the way messages name a file.
inline std::string Quoted(const std::filesystem::path& path)
{
    return '"' + path.string() + '"';
}

// "1 frame", "2 frames".
inline std::string Counted(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// 163834 as "163,834".
inline std::string WithThousands(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return digits;
}

// Dot files are the hidden files of the platforms we run on.
inline bool IsHiddenName(const std::string& name)
{
    return !name.empty() && name.front() == '.';
}

}  // namespace varek
