#include "export/SpriteSheet.h"

#include <algorithm>
#include <cstdio>

#include "imaging/Enlarge.h"
#include "util/Error.h"
#include "util/Text.h"

namespace varek {

namespace {

// PNG_USER_WIDTH_MAX and PNG_USER_HEIGHT_MAX, libpng's default bounds.
constexpr std::int64_t kLongestSide = 1000000;

void ThrowTooLarge(std::int64_t width, std::int64_t height)
{
    throw Error(ErrorKind::TooLarge, "a sheet of " + std::to_string(width) + " x " +
                                         std::to_string(height) +
                                         " pixels is too large for a PNG file, which takes " +
                                         std::to_string(kLongestSide) + " pixels a side");
}

void AppendJsonString(std::string& json, const std::string& text)
{
    json += '"';
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = DecodeUtf8(text, i).second;
        const auto byte = static_cast<unsigned char>(text[i]);
        if (length == 0) {
            json += "\\ufffd";
            ++i;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += text[i];
        } else if (byte < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            json += code;
        } else {
            json.append(text, i, length);
        }
        i += length;
    }
    json += '"';
}

void AppendRectangle(std::string& json, std::int32_t x, std::int32_t y, std::int32_t w,
                     std::int32_t h)
{
    json += "{\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) +
            ",\"w\":" + std::to_string(w) + ",\"h\":" + std::to_string(h) + '}';
}

void AppendSize(std::string& json, std::int32_t w, std::int32_t h)
{
    json += "{\"w\":" + std::to_string(w) + ",\"h\":" + std::to_string(h) + '}';
}

}  // namespace

SheetLayout LayOutSheet(std::span<const SheetSize> pictures, int columns)
{
    SheetLayout layout;
    const std::size_t count = pictures.size();
    if (count == 0) {
        return layout;
    }
    std::size_t perRow = columns > 0 ? static_cast<std::size_t>(columns) : 1;
    if (columns <= 0) {
        while (perRow * perRow < count) {
            ++perRow;
        }
    }
    perRow = std::min(perRow, count);
    layout.cells.reserve(count);
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t rowHeight = 0;
    std::int64_t width = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && i % perRow == 0) {
            layout.rowEnds.push_back(i);
            y += rowHeight;
            x = 0;
            rowHeight = 0;
        }
        const SheetSize& picture = pictures[i];
        if (x + picture.width > kLongestSide || y + picture.height > kLongestSide) {
            ThrowTooLarge(std::max(width, x + picture.width), y + picture.height);
        }
        layout.cells.push_back({static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                picture.width, picture.height});
        x += picture.width;
        rowHeight = std::max<std::int64_t>(rowHeight, picture.height);
        width = std::max(width, x);
    }
    layout.rowEnds.push_back(count);
    layout.size = {static_cast<std::int32_t>(width), static_cast<std::int32_t>(y + rowHeight)};
    return layout;
}

std::string DescribeSheet(std::span<const SheetFrame> frames, const std::string& imageName,
                          SheetSize size, bool indexed, int scale)
{
    std::string json = "{\"frames\":[\n";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const SheetFrame& frame = frames[i];
        const SheetCell& cell = frame.cell;
        json += "{\"filename\":";
        AppendJsonString(json, frame.name);
        json += ",\"frame\":";
        AppendRectangle(json, cell.x, cell.y, cell.width, cell.height);
        json += ",\"rotated\":false,\"trimmed\":false,\"spriteSourceSize\":";
        AppendRectangle(json, 0, 0, cell.width, cell.height);
        json += ",\"sourceSize\":";
        AppendSize(json, cell.width, cell.height);
        if (frame.milliseconds) {
            json += ",\"duration\":" + std::to_string(*frame.milliseconds);
        }
        json += i + 1 < frames.size() ? "},\n" : "}\n";
    }
    json += "],\n\"meta\":{\"app\":\"varek\",\"image\":";
    AppendJsonString(json, imageName);
    json += indexed ? ",\"format\":\"I8\",\"size\":" : ",\"format\":\"RGB888\",\"size\":";
    AppendSize(json, size.width, size.height);
    json += ",\"scale\":\"" + std::to_string(scale) + "\"}\n}\n";
    return json;
}

SheetWriter::SheetWriter(const SheetLayout& layout, int scale,
                         const std::optional<Palette>& palette, PngOutput output)
    : m_layout(layout),
      m_scale(scale),
      m_indexed(palette.has_value()),
      m_png(layout.size.width, layout.size.height, palette, std::move(output)),
      m_line(static_cast<std::size_t>(layout.size.width) * (m_indexed ? 1 : 3))
{
}

void SheetWriter::Add(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
                      const Palette& palette)
{
    if (m_next >= m_layout.cells.size()) {
        throw Error(ErrorKind::Unsupported, "the sheet holds no more pictures");
    }
    const SheetCell& cell = m_layout.cells[m_next];
    const auto size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (static_cast<std::int64_t>(width) * m_scale != cell.width ||
        static_cast<std::int64_t>(height) * m_scale != cell.height || pixels.size() < size) {
        throw Error(ErrorKind::Unsupported, "a picture of " + std::to_string(width) + " x " +
                                                std::to_string(height) +
                                                " pixels does not fit its place on the sheet");
    }
    const std::size_t slot = m_next - m_rowStart;
    if (m_held.size() <= slot) {
        m_held.resize(slot + 1);
    }
    Held& held = m_held[slot];
    held.width = width;
    held.height = height;
    held.pixels.assign(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(size));
    held.palette = palette;
    ++m_next;
    if (m_next == m_layout.rowEnds[m_row]) {
        WriteHeldRow();
        m_rowStart = m_next;
        ++m_row;
    }
}

void SheetWriter::WriteHeldRow()
{
    const std::int32_t top = m_layout.cells[m_rowStart].y;
    const std::int32_t bottom = m_row + 1 < m_layout.rowEnds.size()
                                    ? m_layout.cells[m_layout.rowEnds[m_row]].y
                                    : m_layout.size.height;
    const std::size_t count = m_next - m_rowStart;
    for (std::int32_t y = top; y < bottom; ++y) {
        std::fill(m_line.begin(), m_line.end(), std::uint8_t{0});
        for (std::size_t k = 0; k < count; ++k) {
            const SheetCell& cell = m_layout.cells[m_rowStart + k];
            if (y - cell.y >= cell.height) {
                continue;
            }
            const Held& held = m_held[k];
            const auto width = static_cast<std::size_t>(held.width);
            const std::span<const std::uint8_t> row(
                held.pixels.data() + static_cast<std::size_t>((y - cell.y) / m_scale) * width,
                width);
            if (m_indexed) {
                EnlargeRow(row, m_scale, m_line.data() + cell.x);
                continue;
            }
            std::uint8_t* out = m_line.data() + static_cast<std::size_t>(cell.x) * 3;
            for (const std::uint8_t index : row) {
                const ColorValue colour = held.palette[index];
                for (int i = 0; i < m_scale; ++i) {
                    *out++ = RedOf(colour);
                    *out++ = GreenOf(colour);
                    *out++ = BlueOf(colour);
                }
            }
        }
        m_png.WriteRow(m_line);
    }
}

void SheetWriter::Finish()
{
    if (m_next < m_layout.cells.size()) {
        throw Error(ErrorKind::CannotWrite, "the sheet lacks " +
                                                std::to_string(m_layout.cells.size() - m_next) +
                                                " of its pictures");
    }
    m_png.Finish();
}

}  // namespace varek
