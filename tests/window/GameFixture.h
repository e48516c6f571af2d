#pragma once

#include <QColor>
#include <QtGlobal>
#include <filesystem>
#include <string>
#include <vector>

#include "art/ArtFiles.h"
#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
#include "imaging/Palette.h"
#include "support/TempFolder.h"

namespace varek::test {

// A colour block where nearby entries differ in every component.
inline PaletteBlock TestBlock(int seed)
{
    PaletteBlock block{};
    for (int i = 0; i < 256; ++i) {
        block[static_cast<std::size_t>(3 * i)] = static_cast<std::uint8_t>((i + seed) % 64);
        block[static_cast<std::size_t>(3 * i + 1)] =
            static_cast<std::uint8_t>((5 * i + 2 * seed) % 64);
        block[static_cast<std::size_t>(3 * i + 2)] =
            static_cast<std::uint8_t>((63 - i + 3 * seed) % 64);
    }
    return block;
}

inline QRgb RgbOf(ColorValue color)
{
    return qRgb(RedOf(color), GreenOf(color), BlueOf(color));
}

inline QRgb RgbOf(const PaletteBlock& block, int index)
{
    return RgbOf(PaletteFromBlock(block)[static_cast<std::size_t>(index)]);
}

// A wall whose corners are told apart: row 0 column 0 holds 1, row 0 column 63
// holds 2, row 63 column 0 holds 3, row 63 column 63 holds 4, the rest 0.
inline ByteArray MarkedWall(std::size_t size = kWallBytes)
{
    ByteArray wall(size, 0);
    wall[0] = 1;
    wall[63] = 2;
    wall[4032] = 3;
    wall[4095] = 4;
    return wall;
}

// Frame k (from 1) is filled with index 10 + k and has colour block TestBlock(k).
inline std::vector<AnimationFrame> NumberedFrames(int count)
{
    std::vector<AnimationFrame> frames(static_cast<std::size_t>(count));
    for (int k = 1; k <= count; ++k) {
        auto& frame = frames[static_cast<std::size_t>(k - 1)];
        frame.pixels.fill(static_cast<std::uint8_t>(10 + k % 200));
        frame.colors = TestBlock(k);
    }
    return frames;
}

// A complete game folder: PALETTE.PAL holding TestBlock(0) and the three
// sub-folders, empty until the test writes files.
class GameFixture {
public:
    GameFixture()
    {
        WritePalette(ByteArray(kPaletteBlock.begin(), kPaletteBlock.end()));
        for (const char* folder : {"CELS3", "STILLCEL", "FLI"}) {
            std::filesystem::create_directory(m_temp / folder);
        }
    }

    const std::filesystem::path& root() const { return m_temp.path(); }
    std::filesystem::path operator/(const std::string& name) const { return m_temp / name; }

    void Write(const std::string& name, const ByteArray& bytes) const { m_temp.Write(name, bytes); }
    void WritePalette(const ByteArray& bytes) const { Write("PALETTE.PAL", bytes); }
    void WriteWall(const std::string& name, const ByteArray& bytes) const
    {
        m_temp.Write("CELS3/" + name, bytes);
    }
    void WriteStill(const std::string& name, const IndexedImage& image,
                    const PaletteBlock& colors) const
    {
        m_temp.Write("STILLCEL/" + name, EncodeCelImage(image, colors));
    }
    void WriteAnimation(const std::string& name, const ByteArray& bytes) const
    {
        m_temp.Write("FLI/" + name, bytes);
    }

    inline static const PaletteBlock kPaletteBlock = TestBlock(0);

private:
    TempFolder m_temp;
};

}  // namespace varek::test
