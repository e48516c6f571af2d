#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

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

// The character of the UTF-8 sequence at text[at], and its length; a length of
// 0 when the bytes there are no UTF-8 (a stray or missing continuation byte, an
// overlong form, a surrogate, a code point past U+10FFFF).
inline std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || at + length > text.size()) {
        return {0, 0};
    }
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return {0, 0};
        }
        code = code << 6 | (next & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return {0, 0};
    }
    return {code, length};
}

}  // namespace varek
