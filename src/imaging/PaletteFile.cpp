#include "imaging/PaletteFile.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "util/Error.h"

namespace varek {

namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& tail)
{
    if (text.size() < tail.size()) {
        return false;
    }
    return std::equal(tail.begin(), tail.end(),
                      text.end() - static_cast<std::ptrdiff_t>(tail.size()), [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

void Append(ByteArray& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

std::string Padded(int value)
{
    std::string text = std::to_string(value);
    return std::string(3 - std::min<std::size_t>(text.size(), 3), ' ') + text;
}

}  // namespace

PaletteFileFormat PaletteFileFormatOf(const std::string& fileName)
{
    if (EndsWithIgnoringCase(fileName, ".pal")) {
        return PaletteFileFormat::Jasc;
    }
    if (EndsWithIgnoringCase(fileName, ".act")) {
        return PaletteFileFormat::Adobe;
    }
    return PaletteFileFormat::Gimp;
}

ByteArray EncodePaletteFile(const Palette& palette, PaletteFileFormat format)
{
    ByteArray out;
    switch (format) {
        case PaletteFileFormat::Gimp: {
            Append(out, "GIMP Palette\n");
            for (std::size_t i = 0; i < kPaletteEntries; ++i) {
                const ColorValue c = palette[i];
                Append(out, Padded(RedOf(c)) + ' ' + Padded(GreenOf(c)) + ' ' + Padded(BlueOf(c)) +
                                "\tIndex " + std::to_string(i) + '\n');
            }
            break;
        }
        case PaletteFileFormat::Jasc:
            Append(out, "JASC-PAL\r\n0100\r\n256\r\n");
            for (std::size_t i = 0; i < kPaletteEntries; ++i) {
                const ColorValue c = palette[i];
                Append(out, std::to_string(RedOf(c)) + ' ' + std::to_string(GreenOf(c)) + ' ' +
                                std::to_string(BlueOf(c)) + "\r\n");
            }
            break;
        case PaletteFileFormat::Adobe:
            out.reserve(kPaletteEntries * 3);
            for (std::size_t i = 0; i < kPaletteEntries; ++i) {
                const ColorValue c = palette[i];
                out.insert(out.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
            }
            break;
    }
    return out;
}

}  // namespace varek

namespace varek {

namespace {

std::vector<std::string> TextLines(std::span<const std::uint8_t> bytes)
{
    std::vector<std::string> lines(1);
    for (const std::uint8_t byte : bytes) {
        if (byte == '\n') {
            lines.emplace_back();
        } else if (byte != '\r') {
            lines.back().push_back(static_cast<char>(byte));
        }
    }
    return lines;
}

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

bool StartsWith(const std::string& text, const std::string& head)
{
    return text.compare(0, head.size(), head) == 0;
}

// Three decimal components 0..255 at the start of line, separated by blanks.
ColorValue ParseColorLine(const std::string& line, std::size_t lineNumber)
{
    int values[3] = {};
    std::size_t at = 0;
    for (int& value : values) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        const std::size_t start = at;
        long number = 0;
        while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])) &&
               at - start < 4) {
            number = number * 10 + (line[at] - '0');
            ++at;
        }
        const bool ends = at == line.size() || line[at] == ' ' || line[at] == '\t';
        if (at == start || !ends || number > 255) {
            throw Error(ErrorKind::Corrupt, "line " + std::to_string(lineNumber) +
                                                " of the palette file is no colour of three "
                                                "components from 0 to 255");
        }
        value = static_cast<int>(number);
    }
    return MakeColor(static_cast<std::uint8_t>(values[0]), static_cast<std::uint8_t>(values[1]),
                     static_cast<std::uint8_t>(values[2]));
}

void AddColor(std::vector<ColorValue>& colors, ColorValue color)
{
    if (colors.size() == kPaletteEntries) {
        throw Error(ErrorKind::TooLarge, "the palette file holds more than 256 colours");
    }
    colors.push_back(color);
}

}  // namespace

std::vector<ColorValue> ReadPaletteFile(std::span<const std::uint8_t> bytes,
                                        PaletteFileFormat format)
{
    std::vector<ColorValue> colors;
    switch (format) {
        case PaletteFileFormat::Gimp: {
            const std::vector<std::string> lines = TextLines(bytes);
            if (Trimmed(lines.front()) != "GIMP Palette") {
                throw Error(ErrorKind::Corrupt, "the file is no GIMP palette");
            }
            for (std::size_t i = 1; i < lines.size(); ++i) {
                const std::string line = Trimmed(lines[i]);
                if (line.empty() || line[0] == '#' || StartsWith(line, "Name:") ||
                    StartsWith(line, "Columns:")) {
                    continue;
                }
                AddColor(colors, ParseColorLine(line, i + 1));
            }
            break;
        }
        case PaletteFileFormat::Jasc: {
            const std::vector<std::string> lines = TextLines(bytes);
            if (lines.size() < 3 || Trimmed(lines[0]) != "JASC-PAL" ||
                Trimmed(lines[1]) != "0100") {
                throw Error(ErrorKind::Corrupt, "the file is no JASC palette");
            }
            const std::string countText = Trimmed(lines[2]);
            if (countText.empty() || countText.size() > 4 ||
                !std::all_of(countText.begin(), countText.end(),
                             [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
                throw Error(ErrorKind::Corrupt, "the JASC palette's colour count is no number");
            }
            const std::size_t count = std::stoul(countText);
            if (count > kPaletteEntries) {
                throw Error(ErrorKind::TooLarge, "the palette file holds more than 256 colours");
            }
            if (lines.size() < 3 + count) {
                throw Error(ErrorKind::Truncated, "the JASC palette ends before its " +
                                                      std::to_string(count) + " colours");
            }
            for (std::size_t i = 0; i < count; ++i) {
                AddColor(colors, ParseColorLine(Trimmed(lines[3 + i]), 4 + i));
            }
            break;
        }
        case PaletteFileFormat::Adobe: {
            if (bytes.size() != 768 && bytes.size() != 772) {
                throw Error(ErrorKind::Corrupt,
                            "an Adobe colour table holds 768 or 772 bytes, not " +
                                std::to_string(bytes.size()));
            }
            std::size_t count = kPaletteEntries;
            if (bytes.size() == 772) {
                count = static_cast<std::size_t>(bytes[768] << 8 | bytes[769]);
                if (count == 0 || count > kPaletteEntries) {
                    count = kPaletteEntries;
                }
            }
            for (std::size_t i = 0; i < count; ++i) {
                colors.push_back(MakeColor(bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]));
            }
            break;
        }
    }
    if (colors.empty()) {
        throw Error(ErrorKind::NotFound, "the palette file holds no colour");
    }
    return colors;
}

}  // namespace varek
