#include "imaging/PaletteFile.h"

#include <algorithm>
#include <cctype>
#include <string>

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
