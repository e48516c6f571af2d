#include "authoring/SampleGame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "art/ArtFiles.h"
#include "art/GameFolder.h"
#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
#include "util/AtomicWrite.h"
#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace varek {

namespace {

constexpr double kPi = 3.14159265358979323846;

// xorshift32: the same sequence everywhere, which the standard distributions do
// not promise, so the sample folder is the same bytes on every build.
class Random {
public:
    explicit Random(std::uint32_t seed) : m_state(seed != 0 ? seed : 0x9E3779B9u) {}

    std::uint32_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    int Below(int limit) { return static_cast<int>(Next() % static_cast<std::uint32_t>(limit)); }
    double Unit() { return static_cast<double>(Next() >> 8) / 16777216.0; }

private:
    std::uint32_t m_state;
};

std::uint32_t Hash(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

double HashUnit(int x, int y, std::uint32_t seed)
{
    return static_cast<double>(Hash(x, y, seed) & 0xFFFFu) / 65535.0;
}

// Smooth value noise, 0..1, on a lattice that repeats every period cells.
double ValueNoise(double x, double y, int period, std::uint32_t seed)
{
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    auto corner = [&](int cx, int cy) {
        return HashUnit(((cx % period) + period) % period, ((cy % period) + period) % period, seed);
    };
    auto smooth = [](double t) { return t * t * (3 - 2 * t); };
    const double fx = smooth(x - x0);
    const double fy = smooth(y - y0);
    const double top = corner(x0, y0) + (corner(x0 + 1, y0) - corner(x0, y0)) * fx;
    const double bottom = corner(x0, y0 + 1) + (corner(x0 + 1, y0 + 1) - corner(x0, y0 + 1)) * fx;
    return top + (bottom - top) * fy;
}

// Octaves of value noise, 0..1. It repeats every size pixels when cell divides size.
double FractalNoise(double x, double y, double cell, int size, int octaves, std::uint32_t seed)
{
    double sum = 0;
    double weight = 1;
    double total = 0;
    for (int octave = 0; octave < octaves && cell >= 1; ++octave) {
        const int period = std::max(1, static_cast<int>(size / cell));
        sum += weight *
               ValueNoise(x / cell, y / cell, period, seed + static_cast<std::uint32_t>(octave));
        total += weight;
        weight *= 0.5;
        cell /= 2;
    }
    return sum / total;
}

constexpr int kUnbounded = 1 << 20;  // a period no picture reaches

// 4 x 4 ordered dither threshold, 0..15.
int Bayer(int x, int y)
{
    static constexpr int kMatrix[4][4] = {
        {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    return kMatrix[y & 3][x & 3];
}

struct Canvas {
    Canvas(int w, int h, std::uint8_t fill = 0)
        : width(w),
          height(h),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill)
    {
    }

    std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    void Put(int x, int y, std::uint8_t value)
    {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            at(x, y) = value;
        }
    }
    IndexedImage Image() const { return IndexedImage{width, height, pixels}; }

    int width;
    int height;
    std::vector<std::uint8_t> pixels;
};

std::uint8_t Clamped(double value, int low, int high)
{
    return static_cast<std::uint8_t>(std::clamp(static_cast<int>(std::lround(value)), low, high));
}

// A colour with 6-bit components, as the game stores them.
struct Vga {
    int r;
    int g;
    int b;
};

// Fills count entries from first with a gradient through the stops.
void SetRamp(PaletteBlock& block, int first, int count, std::initializer_list<Vga> stops)
{
    const std::vector<Vga> points(stops);  // at least two
    const int segments = static_cast<int>(points.size()) - 1;
    for (int i = 0; i < count; ++i) {
        const double t = count == 1 ? 0.0 : static_cast<double>(i) * segments / (count - 1);
        const int k = std::min(static_cast<int>(t), segments - 1);
        const double f = t - k;
        const Vga& a = points[static_cast<std::size_t>(k)];
        const Vga& b = points[static_cast<std::size_t>(k + 1)];
        const auto at = static_cast<std::size_t>(3 * (first + i));
        block[at] = Clamped(a.r + (b.r - a.r) * f, 0, 63);
        block[at + 1] = Clamped(a.g + (b.g - a.g) * f, 0, 63);
        block[at + 2] = Clamped(a.b + (b.b - a.b) * f, 0, 63);
    }
}

void SetColor(PaletteBlock& block, int index, Vga color)
{
    const auto at = static_cast<std::size_t>(3 * index);
    block[at] = Clamped(color.r, 0, 63);
    block[at + 1] = Clamped(color.g, 0, 63);
    block[at + 2] = Clamped(color.b, 0, 63);
}

// A full hue circle over count entries from first.
void SetRainbow(PaletteBlock& block, int first, int count, int phase)
{
    for (int i = 0; i < count; ++i) {
        const double h = std::fmod(static_cast<double>(i + phase) / count, 1.0) * 6.0;
        const int sector = static_cast<int>(h);
        const double f = h - sector;
        const double rising = 63 * f;
        const double falling = 63 * (1 - f);
        const double rgb[6][3] = {{63, rising, 8},  {falling, 63, 8}, {8, 63, rising},
                                  {8, falling, 63}, {rising, 8, 63},  {63, 8, falling}};
        SetColor(block, first + i,
                 Vga{Clamped(rgb[sector][0], 0, 63), Clamped(rgb[sector][1], 0, 63),
                     Clamped(rgb[sector][2], 0, 63)});
    }
}

// A tiny 5 x 7 pixel font for the titles.
const char* Glyph(char c)
{
    switch (c) {
        case 'A':
            return ".XXX.X...XX...XXXXXXX...XX...XX...X";
        case 'E':
            return "XXXXXX....X....XXXX.X....X....XXXXX";
        case 'G':
            return ".XXX.X...XX....X.XXXX...XX...X.XXX.";
        case 'K':
            return "X...XX..X.X.X..XX...X.X..X..X.X...X";
        case 'L':
            return "X....X....X....X....X....X....XXXXX";
        case 'M':
            return "X...XXX.XXX.X.XX.X.XX...XX...XX...X";
        case 'P':
            return "XXXX.X...XX...XXXXX.X....X....X....";
        case 'R':
            return "XXXX.X...XX...XXXXX.X.X..X..X.X...X";
        case 'S':
            return ".XXXXX....X.....XXX.....X....XXXXX.";
        case 'V':
            return "X...XX...XX...XX...XX...X.X.X...X..";
        default:
            return nullptr;
    }
}

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

int TextWidth(std::string_view text, int scale)
{
    return static_cast<int>(text.size()) * (kGlyphWidth + 1) * scale - scale;
}

// Calls paint(x, y, rowInGlyph) for every lit pixel of text drawn at scale.
template <typename Paint>
void DrawText(std::string_view text, int left, int top, int scale, Paint paint)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* glyph = Glyph(text[i]);
        const int x0 = left + static_cast<int>(i) * (kGlyphWidth + 1) * scale;
        for (int gy = 0; glyph != nullptr && gy < kGlyphHeight * scale; ++gy) {
            for (int gx = 0; gx < kGlyphWidth * scale; ++gx) {
                if (glyph[(gy / scale) * kGlyphWidth + gx / scale] == 'X') {
                    paint(x0 + gx, top + gy, gy);
                }
            }
        }
    }
}

// ---- The game palette and the walls and sprites drawn in it ----

// The game palette holds sixteen ramps of sixteen shades, darkest first.
enum RampName {
    kGrey,
    kBrick,
    kMortar,
    kStone,
    kMoss,
    kWood,
    kFlame,
    kSky,
    kViolet,
    kTeal,
    kGold,
    kSkin,
    kForest,
    kSteel,
    kRust,
    kPink,
};
constexpr std::uint8_t kTransparent = 255;  // the magenta the sprites' background is drawn in

std::uint8_t Shade(RampName ramp, double shade)
{
    return static_cast<std::uint8_t>(16 * ramp + Clamped(shade, 0, 15));
}

PaletteBlock GamePalette()
{
    PaletteBlock block{};
    SetRamp(block, 16 * kGrey, 16, {{0, 0, 0}, {63, 63, 63}});
    SetRamp(block, 16 * kBrick, 16, {{8, 2, 1}, {34, 11, 7}, {58, 36, 28}});
    SetRamp(block, 16 * kMortar, 16, {{10, 8, 5}, {36, 32, 24}, {58, 53, 42}});
    SetRamp(block, 16 * kStone, 16, {{5, 6, 8}, {24, 25, 30}, {50, 52, 56}});
    SetRamp(block, 16 * kMoss, 16, {{2, 6, 1}, {14, 28, 6}, {38, 50, 16}});
    SetRamp(block, 16 * kWood, 16, {{7, 4, 1}, {28, 17, 7}, {50, 36, 18}});
    SetRamp(block, 16 * kFlame, 16, {{12, 0, 0}, {50, 8, 0}, {63, 36, 0}, {63, 63, 44}});
    SetRamp(block, 16 * kSky, 16, {{2, 4, 14}, {12, 24, 44}, {36, 50, 63}});
    SetRamp(block, 16 * kViolet, 16, {{6, 1, 10}, {26, 10, 38}, {52, 36, 63}});
    SetRamp(block, 16 * kTeal, 16, {{0, 8, 8}, {6, 32, 30}, {32, 60, 54}});
    SetRamp(block, 16 * kGold, 16, {{12, 8, 0}, {44, 32, 4}, {63, 58, 30}});
    SetRamp(block, 16 * kSkin, 16, {{16, 8, 5}, {44, 28, 20}, {62, 50, 42}});
    SetRamp(block, 16 * kForest, 16, {{0, 6, 2}, {6, 24, 10}, {22, 46, 26}});
    SetRamp(block, 16 * kSteel, 16, {{4, 6, 10}, {22, 26, 32}, {50, 54, 60}});
    SetRamp(block, 16 * kRust, 16, {{12, 4, 0}, {40, 18, 4}, {60, 40, 16}});
    SetRamp(block, 16 * kPink, 15, {{10, 0, 8}, {40, 14, 32}, {63, 44, 58}});
    SetColor(block, kTransparent, {63, 0, 63});
    return block;
}

// After the block: 32 light levels, each a table taking a colour to the same
// ramp at that level; what a game does with the spare bytes of its palette file.
ByteArray PaletteFile(const PaletteBlock& block)
{
    ByteArray bytes(block.begin(), block.end());
    for (int level = 0; level < 32; ++level) {
        for (int index = 0; index < 256; ++index) {
            const int shade = index % 16;
            bytes.push_back(index == kTransparent
                                ? kTransparent
                                : static_cast<std::uint8_t>(index - shade + shade * level / 31));
        }
    }
    return bytes;
}

constexpr int kWall = kWallSize;

// Walls are stored so that the viewer's quarter turn clockwise shows them as drawn.
ByteArray WallFile(const Canvas& shown)
{
    ByteArray bytes(kWallBytes);
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            bytes[static_cast<std::size_t>((kWall - 1 - x) * kWall + y)] = shown.at(x, y);
        }
    }
    return bytes;
}

Canvas BrickWall(std::uint32_t seed)
{
    Canvas wall(kWall, kWall);
    for (int y = 0; y < kWall; ++y) {
        const int course = y / 8;
        const int row = y % 8;
        for (int x = 0; x < kWall; ++x) {
            const int shifted = x + (course % 2) * 8;
            const int column = shifted % 16;
            const double noise = FractalNoise(x, y, 16, kWall, 4, seed);
            if (row == 7 || column == 15) {
                wall.at(x, y) = Shade(kMortar, 4 + noise * 5);
                continue;
            }
            const int brick = course * 4 + (shifted % kWall) / 16;
            double shade = 6 + static_cast<double>(Hash(brick, 0, seed) % 5) + (noise - 0.5) * 6;
            shade += row == 0 ? 2 : (row == 6 ? -2 : 0);
            shade += column == 0 ? 1 : (column == 14 ? -1 : 0);
            if (Hash(x, y, seed + 1) % 11 == 0) {
                shade -= 2;
            }
            wall.at(x, y) = Shade(kBrick, shade);
        }
    }
    return wall;
}

// Irregular stones: the cells of random points on the wrapping 64 x 64 square.
Canvas StoneWall(std::uint32_t seed, RampName ramp, int stones)
{
    Random random(seed);
    struct Stone {
        double x;
        double y;
        double shade;
    };
    std::vector<Stone> points;
    for (int i = 0; i < stones; ++i) {
        points.push_back({random.Unit() * kWall, random.Unit() * kWall, 6 + random.Unit() * 4});
    }
    Canvas wall(kWall, kWall);
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            double nearest = 1e9;
            double second = 1e9;
            double dx = 0;
            double dy = 0;
            const Stone* owner = nullptr;
            for (const Stone& stone : points) {
                double ox = x + 0.5 - stone.x;
                double oy = y + 0.5 - stone.y;
                ox -= kWall * std::round(ox / kWall);
                oy -= kWall * std::round(oy / kWall);
                const double d = std::sqrt(ox * ox + oy * oy);
                if (d < nearest) {
                    second = nearest;
                    nearest = d;
                    owner = &stone;
                    dx = ox;
                    dy = oy;
                } else if (d < second) {
                    second = d;
                }
            }
            const double noise = FractalNoise(x, y, 8, kWall, 3, seed + 7);
            const double edge = second - nearest;
            if (edge < 1.6) {
                wall.at(x, y) = Shade(ramp, 1 + noise * 2);
            } else {
                // Lit from the top left, darker towards each stone's rim.
                double shade = owner->shade + (noise - 0.5) * 4 - (dx + dy) * 0.09;
                shade += std::min(edge, 6.0) * 0.4 - 2;
                wall.at(x, y) = Shade(ramp, shade);
            }
        }
    }
    return wall;
}

Canvas MossyStoneWall(std::uint32_t seed)
{
    Canvas wall = StoneWall(seed, kStone, 11);
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            const double moss = FractalNoise(x, y, 16, kWall, 4, seed + 31);
            // Moss creeps down from the top of the wall.
            const double threshold = 0.53 + 0.12 * y / kWall;
            if (moss > threshold) {
                wall.at(x, y) =
                    Shade(kMoss, 3 + (moss - threshold) * 50 - (wall.at(x, y) % 16 < 4 ? 3 : 0));
            }
        }
    }
    return wall;
}

Canvas WoodPlanks(std::uint32_t seed)
{
    Canvas wall(kWall, kWall);
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            const int plank = x / 16;
            const int column = x % 16;
            if (column == 0) {
                wall.at(x, y) = Shade(kWood, 1);
                continue;
            }
            const double drift =
                FractalNoise(x, y, 16, kWall, 3, seed + static_cast<std::uint32_t>(plank));
            const double grain = std::sin(x * 0.9 + plank * 2.1 + drift * 9);
            double shade = 7 + grain * 1.6 + static_cast<double>(Hash(plank, 1, seed) % 3) - 1;
            shade += column == 1 ? 1.5 : (column == 15 ? -1.5 : 0);
            wall.at(x, y) = Shade(kWood, shade);
        }
    }
    for (int plank = 0; plank < 4; ++plank) {
        for (const int y : {5, 58}) {
            const int x = plank * 16 + 8;
            wall.at(x, y) = Shade(kSteel, 13);
            wall.at(x + 1, y + 1) = Shade(kSteel, 4);
            wall.at(x, y + 1) = Shade(kSteel, 7);
            wall.at(x + 1, y) = Shade(kSteel, 9);
        }
    }
    return wall;
}

Canvas Door(std::uint32_t seed)
{
    Canvas wall = WoodPlanks(seed);
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            const double noise = FractalNoise(x, y, 8, kWall, 2, seed + 5);
            if (x < 3 || x > 60) {
                wall.at(x, y) = Shade(kStone, (x == 2 || x == 61 ? 3 : 8) + noise * 3);
            }
            for (const int band : {8, 50}) {
                if (x >= 3 && x <= 60 && y >= band && y < band + 5) {
                    const int row = y - band;
                    double shade = 7 + noise * 2 + (row == 0 ? 3 : (row == 4 ? -3 : 0));
                    if (row == 2 && x % 12 == 6) {
                        shade = 14;  // a rivet
                    }
                    wall.at(x, y) = Shade(kSteel, shade);
                }
            }
        }
    }
    // The ring handle on its plate.
    for (int y = 26; y < 44; ++y) {
        for (int x = 38; x < 56; ++x) {
            const double d = std::hypot(x + 0.5 - 47, y + 0.5 - 36);
            if (x >= 43 && x < 51 && y >= 28 && y < 36) {
                wall.at(x, y) = Shade(kSteel, x == 43 || y == 28 ? 10 : 6);
            }
            if (std::abs(d - 5.5) < 1.1) {
                wall.at(x, y) = Shade(kGold, 12 - (y > 36 ? 5 : 0) - (x > 47 ? 2 : 0));
            }
        }
    }
    return wall;
}

Canvas Grate(std::uint32_t seed)
{
    Canvas wall(kWall, kWall, Shade(kGrey, 0));
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            const double noise = FractalNoise(x, y, 8, kWall, 2, seed);
            // A faint glow behind the bars.
            if (y > 32) {
                wall.at(x, y) = Shade(kFlame, (y - 32) / 12.0 * noise);
            }
            const bool frame = x < 4 || x > 59 || y < 4 || y > 59;
            const int bar = (x - 4) % 8;
            const bool upright = x >= 4 && x <= 59 && bar >= 2 && bar <= 4;
            const bool crossbar = (y >= 20 && y <= 22) || (y >= 41 && y <= 43);
            if (frame) {
                const bool lit = x == 0 || y == 0 || x == 60 || y == 60;
                wall.at(x, y) = Shade(kSteel, (lit ? 12 : 7) + noise * 2);
            } else if (upright) {
                wall.at(x, y) = Shade(kSteel, bar == 3 ? 12 : (bar == 2 ? 8 : 5));
            } else if (crossbar) {
                wall.at(x, y) =
                    Shade(kSteel, y == 20 || y == 41 ? 11 : (y == 22 || y == 43 ? 5 : 8));
            } else {
                continue;
            }
            if (Hash(x, y, seed + 3) % 29 == 0) {
                wall.at(x, y) = Shade(kRust, 5 + noise * 4);
            }
        }
    }
    return wall;
}

Canvas Torch(std::uint32_t seed)
{
    Canvas sprite(kWall, kWall, kTransparent);
    for (int y = 34; y < 63; ++y) {
        const int half = 3 - (y - 34) / 15;
        for (int x = 32 - half; x < 32 + half; ++x) {
            sprite.at(x, y) = Shade(kWood, 9 - (x - (32 - half)) * 2 + (y % 5 == 0 ? -1 : 0));
        }
    }
    for (int y = 28; y < 35; ++y) {
        const int half = 7 - (y - 28) / 2;
        for (int x = 32 - half; x < 32 + half; ++x) {
            sprite.at(x, y) = Shade(kGold, y == 28 ? 14 : 11 - std::abs(x - 30) * 1.2);
        }
    }
    for (int y = 2; y < 29; ++y) {
        const double t = (y - 2) / 26.0;  // 0 at the tip, 1 at the cup
        const double half = 7.5 * std::pow(std::sin(kPi / 2 * t), 0.7);
        const double sway = 1.5 * std::sin(t * 5 + seed);
        for (int x = 20; x < 44; ++x) {
            const double d = std::abs(x + 0.5 - 32 - sway * (1 - t)) / std::max(half, 0.01);
            if (d < 1) {
                const double noise = FractalNoise(x, y, 4, kUnbounded, 2, seed);
                sprite.at(x, y) =
                    Shade(kFlame, 3 + 13 * ((1 - d) * 0.75 + t * 0.25) + (noise - 0.5) * 3);
            }
        }
    }
    Random random(seed);
    for (int spark = 0; spark < 5; ++spark) {
        sprite.at(28 + random.Below(9), 1 + random.Below(6)) = Shade(kFlame, 12 + random.Below(4));
    }
    return sprite;
}

Canvas Barrel(std::uint32_t seed)
{
    Canvas sprite(kWall, kWall, kTransparent);
    for (int y = 6; y < 60; ++y) {
        const double half = 17 + 3 * std::cos((y - 33) / 27.0 * kPi / 2);
        const bool hoop = (y >= 11 && y <= 13) || (y >= 31 && y <= 33) || (y >= 52 && y <= 54);
        for (int x = 0; x < kWall; ++x) {
            const double u = (x + 0.5 - 32) / half;
            if (std::abs(u) >= 1) {
                continue;
            }
            const double light = std::sqrt(1 - u * u) * (0.8 - 0.3 * u);
            const double stave = (std::asin(u) / kPi + 0.5) * 9;
            const bool seam = stave - std::floor(stave) < 0.12;
            const double noise = FractalNoise(x, y, 8, kUnbounded, 2, seed);
            if (hoop) {
                sprite.at(x, y) = Shade(kSteel, 2 + 12 * light + (y % 2 == 1 ? 1 : -1));
            } else {
                sprite.at(x, y) = Shade(kWood, 2 + 11 * light + (noise - 0.5) * 3 - (seam ? 3 : 0));
            }
        }
    }
    for (int y = 3; y < 10; ++y) {
        for (int x = 0; x < kWall; ++x) {
            const double e =
                std::pow((x + 0.5 - 32) / 17.5, 2) + std::pow((y + 0.5 - 6.5) / 3.2, 2);
            if (e < 1) {
                sprite.at(x, y) =
                    e > 0.6 ? Shade(kWood, 10) : Shade(kWood, 4 + (x % 6 == 0 ? -1 : 0));
            }
        }
    }
    return sprite;
}

Canvas Panel(std::uint32_t seed)
{
    Canvas wall(kWall, kWall);
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            const double noise = FractalNoise(x, y, 8, kWall, 2, seed);
            const int border = std::min({x, y, kWall - 1 - x, kWall - 1 - y});
            const int diamond = std::abs(x - 32) + std::abs(y - 32);
            const double gem = std::hypot(x + 0.5 - 32, y + 0.5 - 32);
            if (border < 5) {
                const bool lit =
                    (x < 5 && x <= y && x <= 63 - y) || (y < 5 && y <= x && y <= 63 - x);
                wall.at(x, y) = Shade(kGold, (lit ? 12 : 6) + (border == 2 ? 2 : 0) + noise * 2);
            } else if (gem < 8) {
                const double highlight = std::hypot(x + 0.5 - 29, y + 0.5 - 29);
                wall.at(x, y) = Shade(kViolet, 13 - highlight * 1.4);
            } else if (gem < 10) {
                wall.at(x, y) = Shade(kGold, 9 + (y < 32 ? 3 : -2));
            } else if (diamond % 12 < 2) {
                wall.at(x, y) = Shade(kGold, diamond % 12 == 0 ? 11 : 6);
            } else {
                wall.at(x, y) = Shade(kTeal, 5 + noise * 4 + (diamond % 12) * 0.25);
            }
        }
    }
    return wall;
}

Canvas Tiles(std::uint32_t seed)
{
    Canvas wall(kWall, kWall);
    for (int y = 0; y < kWall; ++y) {
        for (int x = 0; x < kWall; ++x) {
            const int tx = x % 16;
            const int ty = y % 16;
            const RampName ramp = ((x / 16 + y / 16) % 2 == 0) ? kTeal : kViolet;
            const double noise = FractalNoise(x, y, 16, kWall, 3, seed);
            double shade = 8 + (noise - 0.5) * 4;
            if (tx == 15 || ty == 15) {
                wall.at(x, y) = Shade(kGrey, 2);
                continue;
            }
            shade += (tx == 0 || ty == 0) ? 3 : ((tx == 14 || ty == 14) ? -3 : 0);
            wall.at(x, y) = Shade(ramp, shade);
        }
    }
    return wall;
}

// ---- Still pictures, each with its own palette ----

struct Still {
    Canvas canvas;
    PaletteBlock colors{};
};

Still TitlePicture()
{
    Still still{Canvas(320, 200), {}};
    PaletteBlock& p = still.colors;
    SetRamp(p, 1, 64, {{2, 2, 12}, {16, 6, 30}, {48, 14, 26}, {63, 40, 12}});  // sky
    SetRamp(p, 65, 32, {{63, 46, 14}, {63, 63, 52}});                          // sun
    SetRamp(p, 97, 32, {{18, 8, 26}, {38, 18, 40}});                           // far hills
    SetRamp(p, 129, 32, {{3, 1, 7}, {16, 7, 20}});                             // near hills
    SetRamp(p, 161, 32, {{3, 3, 12}, {44, 22, 26}});                           // water
    SetRamp(p, 193, 32, {{34, 16, 0}, {63, 58, 26}});                          // title gold
    SetRamp(p, 225, 31, {{0, 0, 0}, {63, 63, 63}});                            // greys

    Canvas& c = still.canvas;
    constexpr int kHorizon = 150;
    const double sunX = 226;
    const double sunY = 126;
    auto skyIndex = [&](int x, int y) {
        double level = y / static_cast<double>(kHorizon) * 63;
        const double glow = 46 - std::hypot(x - sunX, (y - sunY) * 1.4);
        level += std::max(0.0, glow) * 0.35;
        return Clamped(1 + std::floor(level + Bayer(x, y) / 16.0), 1, 64);
    };
    for (int y = 0; y < kHorizon; ++y) {
        for (int x = 0; x < 320; ++x) {
            c.at(x, y) = skyIndex(x, y);
            const double d = std::hypot(x + 0.5 - sunX, y + 0.5 - sunY);
            if (d < 24) {
                c.at(x, y) = Clamped(65 + (1 - d / 24) * 31, 65, 96);
            }
        }
    }
    Random random(11);
    for (int star = 0; star < 90; ++star) {
        const int x = random.Below(320);
        const int y = random.Below(60);
        c.at(x, y) = static_cast<std::uint8_t>(240 + random.Below(16));
    }
    for (int x = 0; x < 320; ++x) {
        const int far = static_cast<int>(96 + 44 * FractalNoise(x, 3, 64, kUnbounded, 4, 21));
        const int nearTop = static_cast<int>(118 + 36 * FractalNoise(x, 9, 48, kUnbounded, 4, 22));
        for (int y = far; y < kHorizon; ++y) {
            c.at(x, y) = Clamped(
                97 + 31 * FractalNoise(x, y, 12, kUnbounded, 3, 23) - (y - far) * 0.2, 97, 128);
        }
        for (int y = nearTop; y < kHorizon; ++y) {
            c.at(x, y) =
                Clamped(129 + 20 * FractalNoise(x, y, 6, kUnbounded, 2, 24) - (y - nearTop) * 0.4,
                        129, 160);
        }
    }
    // The lake mirrors the sky, broken by ripples, with the sun's path on it.
    for (int y = kHorizon; y < 200; ++y) {
        const int depth = y - kHorizon;
        for (int x = 0; x < 320; ++x) {
            const int ripple = static_cast<int>(std::lround(3 * std::sin(x * 0.08 + depth * 0.9)));
            const int mirrored = std::clamp(kHorizon - 1 - depth * 2 + ripple, 0, kHorizon - 1);
            const int sky = skyIndex(x, mirrored);
            c.at(x, y) = Clamped(161 + (sky - 1) / 2.0 - depth * 0.25, 161, 192);
            // Broken streaks that widen towards the viewer.
            const double across = std::abs(x + 0.5 - sunX) / (8 + depth * 0.7);
            if (across < 1 &&
                ValueNoise(x / 5.0, depth * 0.8, kUnbounded, 25) > 0.35 + 0.5 * across) {
                c.at(x, y) = Clamped(92 - depth * 0.3 - across * 8, 65, 96);
            }
        }
    }
    const int titleScale = 6;
    const int titleLeft = (320 - TextWidth("VAREK", titleScale)) / 2;
    DrawText("VAREK", titleLeft + 3, 27, titleScale, [&](int x, int y, int) { c.Put(x, y, 225); });
    DrawText("VAREK", titleLeft, 24, titleScale, [&](int x, int y, int row) {
        c.Put(x, y, Clamped(224 - row * 0.7 - (row % 6 == 0 ? 3 : 0), 193, 224));
    });
    const int subtitleLeft = (320 - TextWidth("SAMPLE GAME", 2)) / 2;
    DrawText("SAMPLE GAME", subtitleLeft, 78, 2, [&](int x, int y, int) { c.Put(x, y, 254); });
    return still;
}

Still PlasmaPicture()
{
    Still still{Canvas(161, 97), {}};
    SetRainbow(still.colors, 0, 256, 0);
    Canvas& c = still.canvas;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const double v = std::sin(x / 13.0) + std::sin(y / 7.0) + std::sin((x + y) / 17.0) +
                             std::sin(std::hypot(x - 80.0, y - 48.0) / 6.0);
            c.at(x, y) = static_cast<std::uint8_t>(static_cast<int>((v + 4) * 64) & 255);
        }
    }
    return still;
}

Still GemIcon()
{
    Still still{Canvas(48, 48), {}};
    PaletteBlock& p = still.colors;
    SetRamp(p, 0, 32, {{2, 0, 6}, {14, 6, 20}});                   // background
    SetRamp(p, 32, 32, {{0, 10, 4}, {10, 44, 20}, {44, 63, 48}});  // emerald
    SetRamp(p, 64, 32, {{20, 12, 0}, {63, 54, 20}});               // gold setting
    SetColor(p, 255, {63, 63, 63});
    Canvas& c = still.canvas;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) {
            const double dx = x + 0.5 - 24;
            const double dy = y + 0.5 - 24;
            c.at(x, y) = Clamped(31 - std::hypot(dx, dy) * 0.9 - (Bayer(x, y) > 7 ? 1 : 0), 0, 31);
            const double octagon =
                std::max({std::abs(dx), std::abs(dy), (std::abs(dx) + std::abs(dy)) * 0.72});
            if (octagon < 17) {
                const double table =
                    std::max({std::abs(dx), std::abs(dy), (std::abs(dx) + std::abs(dy)) * 0.72});
                double shade;
                if (table < 8) {
                    shade = 24 - (dx + dy) * 0.4;
                } else {
                    // Each of the eight facets faces its own way; light comes from the top left.
                    const double angle = std::atan2(dy, dx);
                    const double facet = std::round(angle / (kPi / 4)) * (kPi / 4);
                    shade = 14 + 12 * std::cos(facet + 3 * kPi / 4);
                }
                c.at(x, y) = Clamped(32 + shade, 32, 63);
            } else if (octagon < 20) {
                c.at(x, y) = Clamped(64 + 16 - (dx + dy) * 0.5 + (octagon < 18 ? 4 : -4), 64, 95);
            }
        }
    }
    for (int i = -3; i <= 3; ++i) {
        c.at(17 + i, 15) = 255;
        c.at(17, 15 + i) = 255;
    }
    return still;
}

Still MapPicture()
{
    Still still{Canvas(256, 160), {}};
    PaletteBlock& p = still.colors;
    SetRamp(p, 0, 48, {{0, 2, 12}, {4, 14, 34}, {12, 34, 48}});  // water, deep to shallow
    SetRamp(p, 48, 16, {{48, 42, 24}, {60, 54, 36}});            // sand
    SetRamp(p, 64, 48, {{8, 24, 4}, {24, 44, 12}});              // grass
    SetRamp(p, 112, 48, {{2, 12, 4}, {12, 30, 12}});             // forest
    SetRamp(p, 160, 48, {{20, 18, 16}, {44, 42, 40}});           // rock
    SetRamp(p, 208, 32, {{48, 50, 56}, {63, 63, 63}});           // snow
    SetColor(p, 240, {63, 8, 4});
    SetColor(p, 241, {20, 4, 2});
    Canvas& c = still.canvas;
    auto height = [](double x, double y) {
        const double edge = std::min({x, y, 255 - x, 159 - y}) / 30.0;
        return FractalNoise(x, y, 64, kUnbounded, 5, 40) - 0.25 * (1 - std::min(edge, 1.0));
    };
    for (int y = 0; y < 160; ++y) {
        for (int x = 0; x < 256; ++x) {
            const double h = height(x, y);
            const double slope = (height(x + 1, y + 1) - height(x - 1, y - 1)) * 60;
            double level;
            int first;
            int count;
            if (h < 0.5) {
                first = 0, count = 48, level = (h - 0.2) / 0.3;
            } else if (h < 0.52) {
                first = 48, count = 16, level = 0.7 - slope;
            } else if (h < 0.6) {
                first = 64, count = 48, level = 0.6 - slope;
            } else if (h < 0.68) {
                first = 112, count = 48, level = 0.6 - slope - (Hash(x, y, 41) % 3) * 0.1;
            } else if (h < 0.76) {
                first = 160, count = 48, level = 0.6 - slope;
            } else {
                first = 208, count = 32, level = 0.8 - slope;
            }
            c.at(x, y) =
                static_cast<std::uint8_t>(first + Clamped(level * (count - 1), 0, count - 1));
        }
    }
    // A treasure mark where the land is highest.
    int bestX = 0;
    int bestY = 0;
    for (int y = 10; y < 150; ++y) {
        for (int x = 10; x < 246; ++x) {
            if (height(x, y) > height(bestX, bestY)) {
                bestX = x;
                bestY = y;
            }
        }
    }
    for (int i = -4; i <= 4; ++i) {
        for (const int w : {0, 1}) {
            c.Put(bestX + i + w, bestY + i, 240);
            c.Put(bestX + i + w, bestY - i, 240);
        }
        c.Put(bestX + i + 2, bestY + i + 1, 241);
    }
    return still;
}

// ---- Animations ----

// The state a decoder reaches after each frame: the pixels of the newest record and
// its colours. Chunks are chosen by hand, so the files use every chunk type.
class AnimationBuilder {
public:
    // A frame showing pixels in colors, with the chunks named.
    enum class Pixels { ByteRun, LineCompression, Copy, Black, None };

    void Frame(const FramePixels& pixels, const PaletteBlock& colors, Pixels how)
    {
        FliFrameData frame;
        if (m_frames.empty()) {
            frame.chunks.push_back({FLI_COLOR, EncodeColorChunk(colors)});
        } else if (colors != m_colors) {
            frame.chunks.push_back({FLI_COLOR, EncodeColorChunk(colors, m_colors)});
        }
        switch (how) {
            case Pixels::ByteRun:
                frame.chunks.push_back({FLI_BRUN, EncodeBRUNChunk(pixels)});
                break;
            case Pixels::LineCompression:
                frame.chunks.push_back({FLI_LC, EncodeLCChunk(m_pixels, pixels)});
                break;
            case Pixels::Copy:
                frame.chunks.push_back({FLI_COPY, EncodeCopyChunk(pixels)});
                break;
            case Pixels::Black:
                frame.chunks.push_back({FLI_BLACK, {}});
                break;
            case Pixels::None:
                break;
        }
        m_colors = colors;
        if (how != Pixels::None) {
            m_pixels = how == Pixels::Black ? FramePixels{} : pixels;
        }
        m_frames.push_back(std::move(frame));
    }

    // A frame with no chunks: players hold the picture before it.
    void Hold() { m_frames.push_back({}); }

    // The file, with a ring frame that turns the last picture back into the first.
    ByteArray Write(const FramePixels& first, const PaletteBlock& firstColors, std::uint16_t speed)
    {
        FliFrameData ring;
        ring.chunks.push_back({FLI_COLOR, EncodeColorChunk(firstColors)});
        ring.chunks.push_back({FLI_BRUN, EncodeBRUNChunk(first)});
        return WriteFLIFile(m_frames, speed, &ring);
    }

private:
    std::vector<FliFrameData> m_frames;
    FramePixels m_pixels{};
    PaletteBlock m_colors{};
};

struct Frame {
    std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * kFliWidth + x)]; }
    void Put(int x, int y, std::uint8_t value)
    {
        if (x >= 0 && y >= 0 && x < kFliWidth && y < kFliHeight) {
            at(x, y) = value;
        }
    }
    FramePixels pixels{};
};

void FillDisc(Frame& frame, double cx, double cy, double radius,
              const std::function<std::uint8_t(double dx, double dy, double d)>& colour)
{
    for (int y = static_cast<int>(cy - radius) - 1; y <= static_cast<int>(cy + radius) + 1; ++y) {
        for (int x = static_cast<int>(cx - radius) - 1; x <= static_cast<int>(cx + radius) + 1;
             ++x) {
            const double dx = x + 0.5 - cx;
            const double dy = y + 0.5 - cy;
            const double d = std::hypot(dx, dy);
            if (d < radius) {
                frame.Put(x, y, colour(dx, dy, d));
            }
        }
    }
}

// A comet crosses a night sky that turns to dawn, the screen cuts to black, and a
// colour-cycling plasma spells out the title.
ByteArray IntroAnimation()
{
    PaletteBlock night{};
    SetRamp(night, 1, 63, {{0, 0, 6}, {6, 3, 20}, {16, 8, 30}});
    SetRamp(night, 64, 16, {{16, 16, 26}, {63, 63, 63}});
    SetRamp(night, 80, 32, {{26, 26, 32}, {63, 62, 54}});
    SetRamp(night, 112, 32, {{0, 8, 20}, {20, 42, 63}, {63, 63, 63}});
    SetRamp(night, 144, 32, {{1, 2, 5}, {8, 10, 16}});
    PaletteBlock dawn = night;
    SetRamp(dawn, 1, 63, {{8, 5, 24}, {38, 14, 32}, {63, 38, 16}});
    SetRamp(dawn, 64, 16, {{30, 22, 30}, {52, 46, 46}});
    SetRamp(dawn, 144, 32, {{6, 3, 8}, {22, 12, 18}});

    Frame sky;
    for (int y = 0; y < kFliHeight; ++y) {
        for (int x = 0; x < kFliWidth; ++x) {
            sky.at(x, y) = Clamped(1 + std::floor(y / 200.0 * 62 + Bayer(x, y) / 16.0), 1, 63);
        }
    }
    Random random(77);
    struct Star {
        int x;
        int y;
    };
    std::vector<Star> stars;
    for (int i = 0; i < 140; ++i) {
        stars.push_back({random.Below(kFliWidth), random.Below(150)});
        sky.at(stars.back().x, stars.back().y) = static_cast<std::uint8_t>(64 + random.Below(16));
    }
    struct Crater {
        double x;
        double y;
        double radius;
    };
    const Crater craters[] = {{-7, -4, 5}, {6, 5, 4},     {-2, 9, 3},
                              {8, -8, 3},  {-10, 7, 2.5}, {1, -1, 2}};
    FillDisc(sky, 262, 46, 20, [&](double dx, double dy, double d) {
        double shade = 94 + 10 * (1 - d / 20) - (dx + dy) * 0.3;
        for (const Crater& crater : craters) {
            const double inside = std::hypot(dx - crater.x, dy - crater.y) / crater.radius;
            if (inside < 1) {
                shade -= inside > 0.75 && dy < crater.y ? -3 : 7;  // lit rim, dark floor
            }
        }
        return Clamped(shade, 80, 111);
    });
    for (int x = 0; x < kFliWidth; ++x) {
        const int top = static_cast<int>(150 + 36 * FractalNoise(x, 1, 64, kUnbounded, 4, 78));
        for (int y = top; y < kFliHeight; ++y) {
            sky.at(x, y) = Clamped(
                144 + 31 * FractalNoise(x, y, 10, kUnbounded, 2, 79) - (y - top) * 0.3, 144, 175);
        }
    }

    AnimationBuilder builder;
    constexpr int kCometFrames = 22;
    auto cometAt = [](double t) {
        return std::pair<double, double>{-20 + t * 360, 30 + 70 * t - 40 * t * t};
    };
    Frame first;
    for (int f = 0; f < kCometFrames; ++f) {
        Frame frame = sky;
        for (int twinkle = 0; twinkle < 12; ++twinkle) {
            const Star& star =
                stars[static_cast<std::size_t>(random.Below(static_cast<int>(stars.size())))];
            frame.at(star.x, star.y) = static_cast<std::uint8_t>(64 + random.Below(16));
        }
        const double t = f / static_cast<double>(kCometFrames - 1);
        for (int tail = 14; tail >= 0; --tail) {
            const auto [x, y] = cometAt(t - tail * 0.012);
            const double radius = tail == 0 ? 4.5 : 3.5 - tail * 0.2;
            FillDisc(frame, x, y, radius, [&](double, double, double d) {
                return Clamped(112 + 31 * (1 - tail / 15.0) * (1 - 0.5 * d / radius), 112, 143);
            });
        }
        const bool atDawn = f >= 11;
        if (f == 0) {
            first = frame;
            builder.Frame(frame.pixels, night, AnimationBuilder::Pixels::ByteRun);
        } else if (f == 7 || f == 16) {
            builder.Hold();
        } else {
            builder.Frame(frame.pixels, atDawn ? dawn : night,
                          AnimationBuilder::Pixels::LineCompression);
        }
    }
    builder.Frame(FramePixels{}, dawn, AnimationBuilder::Pixels::Black);
    builder.Hold();

    // The plasma cycles through entries 0..223; the title keeps 224..255.
    auto plasmaColors = [](int phase) {
        PaletteBlock colors{};
        SetRainbow(colors, 0, 224, phase);
        SetRamp(colors, 224, 32, {{63, 63, 63}, {20, 20, 24}});
        return colors;
    };
    Frame plasma;
    for (int y = 0; y < kFliHeight; ++y) {
        for (int x = 0; x < kFliWidth; ++x) {
            const double v = std::sin(x / 23.0) + std::sin(y / 13.0) + std::sin((x + y) / 29.0) +
                             std::sin(std::hypot(x - 160.0, y - 100.0) / 11.0);
            plasma.at(x, y) =
                static_cast<std::uint8_t>(static_cast<int>((v + 4) / 8 * 224 * 2) % 224);
        }
    }
    const int titleLeft = (kFliWidth - TextWidth("VAREK", 8)) / 2;
    DrawText("VAREK", titleLeft + 3, 43, 8, [&](int x, int y, int) { plasma.Put(x, y, 255); });
    DrawText("VAREK", titleLeft, 40, 8, [&](int x, int y, int) { plasma.Put(x, y, 224); });
    builder.Frame(plasma.pixels, plasmaColors(0), AnimationBuilder::Pixels::Copy);

    const std::string subtitle = "SAMPLE";
    const int subtitleLeft = (kFliWidth - TextWidth(subtitle, 4)) / 2;
    for (int step = 1; step <= 16; ++step) {
        const auto letters = static_cast<std::size_t>(std::clamp(step - 4, 0, 6));
        Frame frame = plasma;
        DrawText(subtitle.substr(0, letters), subtitleLeft + 2, 122, 4,
                 [&](int x, int y, int) { frame.Put(x, y, 255); });
        DrawText(subtitle.substr(0, letters), subtitleLeft, 120, 4,
                 [&](int x, int y, int) { frame.Put(x, y, 226); });
        const bool reveals = step > 4 && step <= 10;
        builder.Frame(
            frame.pixels, plasmaColors(step * 7),
            reveals ? AnimationBuilder::Pixels::LineCompression : AnimationBuilder::Pixels::None);
        if (reveals) {
            plasma = frame;
        }
    }
    return builder.Write(first.pixels, night, 6);
}

// Flames rise from a log fire, turn blue part-way, die down and go black.
ByteArray FireAnimation()
{
    PaletteBlock flame{};
    SetRamp(flame, 0, 192,
            {{0, 0, 0}, {24, 0, 0}, {50, 8, 0}, {63, 32, 0}, {63, 56, 12}, {63, 63, 50}});
    SetRamp(flame, 192, 32, {{5, 3, 1}, {20, 12, 5}, {34, 22, 10}});
    SetRamp(flame, 224, 16, {{4, 4, 5}, {24, 23, 22}});
    SetRamp(flame, 240, 16, {{36, 6, 0}, {63, 42, 10}});
    PaletteBlock blue = flame;
    SetRamp(blue, 0, 192,
            {{0, 0, 0}, {0, 2, 20}, {4, 16, 48}, {20, 40, 63}, {50, 60, 63}, {63, 63, 63}});

    constexpr int kRows = kFliHeight + 2;
    std::vector<int> heat(static_cast<std::size_t>(kFliWidth * kRows), 0);
    auto cell = [&](int x, int y) -> int& {
        return heat[static_cast<std::size_t>(y * kFliWidth + std::clamp(x, 0, kFliWidth - 1))];
    };
    Random random(1337);
    // The classic demo fire: hot cells along the bottom under the logs, each cell
    // above the mean of those below it, a little cooler.
    auto step = [&](double fuel) {
        for (int x = 0; x < kFliWidth;) {
            const int run = 2 + random.Below(8);
            const double taper = std::clamp(std::min(x - 70, 250 - x) / 50.0, 0.0, 1.0);
            const int value = random.Below(3) == 0
                                  ? 0
                                  : static_cast<int>((170 + random.Below(22)) * fuel * taper);
            for (int i = 0; i < run && x < kFliWidth; ++i, ++x) {
                cell(x, kRows - 1) = value;
                cell(x, kRows - 2) = value;
            }
        }
        for (int y = 0; y < kRows - 2; ++y) {
            for (int x = 0; x < kFliWidth; ++x) {
                const int sum =
                    cell(x - 1, y + 1) + cell(x, y + 1) + cell(x + 1, y + 1) + cell(x, y + 2);
                cell(x, y) = std::max(0, sum / 4 - static_cast<int>(random.Next() % 2));
            }
        }
    };
    Frame logs;
    std::vector<bool> isLog(kFramePixels, false);
    for (int y = 170; y < kFliHeight; ++y) {
        for (int x = 60; x < 260; ++x) {
            // Two crossed logs and the stones around them.
            const double u = x - 160.0;
            const double v = y - 186.0;
            const double a = std::abs(v - u * 0.18) - 7;
            const double b = std::abs(v + u * 0.18) - 7;
            const bool ends = std::abs(u) < 92;
            std::uint8_t colour = 0;
            if (y >= 194) {
                colour = Clamped(224 + 15 * FractalNoise(x, y, 4, kUnbounded, 2, 5), 224, 239);
            } else if (ends && (a < 0 || b < 0)) {
                const double across = a < 0 ? -a : -b;
                colour = Clamped(192 + across * 4 + 4 * FractalNoise(x, y, 3, kUnbounded, 2, 6),
                                 192, 223);
            } else {
                continue;
            }
            logs.at(x, y) = colour;
            isLog[static_cast<std::size_t>(y * kFliWidth + x)] = true;
        }
    }

    AnimationBuilder builder;
    Frame first;
    for (int warmUp = 0; warmUp < 160; ++warmUp) {
        step(1.0);
    }
    constexpr int kFrames = 48;
    for (int f = 0; f < kFrames; ++f) {
        const double fuel = f < 38 ? 1.0 : std::max(0.0, 1.0 - (f - 37) * 0.25);
        for (int substep = 0; substep < 3; ++substep) {
            step(fuel);
        }
        Frame frame;
        for (std::size_t i = 0; i < kFramePixels; ++i) {
            frame.pixels[i] =
                isLog[i] ? logs.pixels[i] : static_cast<std::uint8_t>(std::min(heat[i], 191));
        }
        // Embers glow on the logs while the fire burns.
        for (int ember = 0; ember < 30 && fuel > 0.5; ++ember) {
            const auto at = static_cast<std::size_t>(random.Below(static_cast<int>(kFramePixels)));
            if (isLog[at] && logs.pixels[at] < 224) {
                frame.pixels[at] = static_cast<std::uint8_t>(240 + random.Below(16));
            }
        }
        const PaletteBlock& colors = f >= 26 ? blue : flame;
        using P = AnimationBuilder::Pixels;
        if (f == 0) {
            first = frame;
            builder.Frame(frame.pixels, colors, P::ByteRun);
        } else if (f == 9 || f == 29) {
            builder.Hold();
        } else if (f == 19) {
            builder.Frame(frame.pixels, colors, P::Copy);
        } else if (f == kFrames - 1) {
            builder.Frame(frame.pixels, colors, P::Black);
        } else {
            builder.Frame(frame.pixels, colors, P::LineCompression);
        }
    }
    return builder.Write(first.pixels, flame, 4);
}

// Three moons orbit a ringed planet; the writer picks every frame's chunks.
ByteArray OrbitAnimation()
{
    PaletteBlock colors{};
    SetRamp(colors, 1, 15, {{10, 10, 14}, {63, 63, 63}});               // stars
    SetRamp(colors, 16, 48, {{4, 2, 10}, {40, 18, 12}, {63, 48, 30}});  // planet
    SetRamp(colors, 64, 32, {{10, 14, 20}, {50, 56, 63}});              // moons
    SetRamp(colors, 96, 32, {{14, 10, 6}, {52, 44, 30}});               // rings

    Frame space;
    Random random(5);
    for (int i = 0; i < 220; ++i) {
        space.at(random.Below(kFliWidth), random.Below(kFliHeight)) =
            static_cast<std::uint8_t>(1 + random.Below(15));
    }
    constexpr int kFrames = 30;
    std::vector<AnimationFrame> frames(kFrames);
    for (int f = 0; f < kFrames; ++f) {
        Frame frame = space;
        const double turn = 2 * kPi * f / kFrames;
        struct Moon {
            double radius;
            double size;
            double speed;
            double phase;
        };
        const Moon moons[] = {{70, 7, 1, 0}, {100, 5, 2, 2}, {128, 4, -1, 4}};
        auto drawMoons = [&](bool behind) {
            for (const Moon& moon : moons) {
                const double a = turn * moon.speed + moon.phase;
                if ((std::sin(a) < 0) != behind) {
                    continue;
                }
                FillDisc(
                    frame, 160 + moon.radius * std::cos(a), 100 + moon.radius * 0.35 * std::sin(a),
                    moon.size, [&](double dx, double dy, double d) {
                        return Clamped(64 + 31 * (1 - d / moon.size) * 0.6 + 12 - (dx + dy) * 1.2,
                                       64, 95);
                    });
            }
        };
        auto drawRing = [&](bool front) {
            for (int x = 60; x < 260; ++x) {
                for (int y = 70; y < 130; ++y) {
                    const double e = std::hypot((x - 160) / 95.0, (y - 100) / 24.0);
                    if (e > 0.72 && e < 1 && (y > 100) == front) {
                        frame.at(x, y) = Clamped(96 + 31 * std::sin(e * 22) * 0.5 + 16, 96, 127);
                    }
                }
            }
        };
        drawMoons(true);
        drawRing(false);
        FillDisc(frame, 160, 100, 40, [&](double dx, double dy, double d) {
            const double light = std::max(0.0, 1 - std::hypot(dx + 14, dy + 14) / 60);
            const double band = std::sin(dy * 0.35 + std::sin(dx * 0.05 + turn) * 1.5) * 3;
            return Clamped(16 + light * 44 + band - d * 0.05, 16, 63);
        });
        drawRing(true);
        drawMoons(false);
        frames[static_cast<std::size_t>(f)].pixels = frame.pixels;
        frames[static_cast<std::size_t>(f)].colors = colors;
    }
    return WriteAnimation(frames, 5);
}

void CreateFolder(const fs::path& folder)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        throw Error(ErrorKind::CannotWrite,
                    Quoted(folder) + ": the folder cannot be made: " +
                        (ec ? ec.message() : std::string("a file of that name is in the way")));
    }
}

}  // namespace

void WriteSampleGameFolder(const fs::path& folder)
{
    const fs::path walls = folder / "CELS3";
    const fs::path stills = folder / "STILLCEL";
    const fs::path animations = folder / "FLI";
    for (const fs::path& sub : {walls, stills, animations}) {
        CreateFolder(sub);
    }

    WriteFileAtomically(folder / kPaletteFileName, PaletteFile(GamePalette()));

    WriteFileAtomically(walls / "BARREL.CEL", WallFile(Barrel(3)));
    WriteFileAtomically(walls / "BRICK01.CEL", WallFile(BrickWall(1)));
    WriteFileAtomically(walls / "DOOR01.CEL", WallFile(Door(9)));
    WriteFileAtomically(walls / "GRATE.CEL", WallFile(Grate(4)));
    WriteFileAtomically(walls / "MOSS01.CEL", WallFile(MossyStoneWall(12)));
    ByteArray panel = WallFile(Panel(6));
    // A second frame of the panel, lit differently, after the first 4096 bytes.
    for (std::size_t i = 0; i < kWallBytes / 4; ++i) {
        panel.push_back(static_cast<std::uint8_t>(panel[i] % 16 > 4 ? panel[i] - 4 : panel[i]));
    }
    WriteFileAtomically(walls / "PANEL.CEL", panel);
    WriteFileAtomically(walls / "STONE01.CEL", WallFile(StoneWall(2, kStone, 12)));
    WriteFileAtomically(walls / "STONE02.CEL", WallFile(StoneWall(8, kMortar, 7)));
    WriteFileAtomically(walls / "TILES.CEL", WallFile(Tiles(10)));
    WriteFileAtomically(walls / "TORCH.CEL", WallFile(Torch(5)));

    const std::pair<const char*, Still> pictures[] = {
        {"GEM.CEL", GemIcon()},
        {"MAP.CEL", MapPicture()},
        {"PLASMA.CEL", PlasmaPicture()},
        {"TITLE.CEL", TitlePicture()},
    };
    for (const auto& [name, still] : pictures) {
        WriteFileAtomically(stills / name, EncodeCelImage(still.canvas.Image(), still.colors));
    }

    WriteFileAtomically(animations / "FIRE.FLI", FireAnimation());
    WriteFileAtomically(animations / "INTRO.FLI", IntroAnimation());
    WriteFileAtomically(animations / "ORBIT.FLI", OrbitAnimation());
}

ByteArray MakeSampleAnimation(int frameCount)
{
    PaletteBlock colors{};
    SetRainbow(colors, 0, 256, 0);
    // Every frame redraws one band of 20 rows, a tenth of the picture, with the
    // plasma's colours shifted on, so each pixel of the band changes.
    auto plasma = [](int x, int y, int phase) {
        const double v = std::sin(x / 19.0) + std::sin(y / 11.0) + std::sin((x + y) / 27.0);
        return static_cast<std::uint8_t>((static_cast<int>((v + 3) * 42) + phase * 13) & 255);
    };
    std::vector<FliFrameData> frames;
    frames.reserve(static_cast<std::size_t>(std::max(frameCount, 0)));
    FramePixels previous{};
    FramePixels pixels{};
    for (int y = 0; y < kFliHeight; ++y) {
        for (int x = 0; x < kFliWidth; ++x) {
            pixels[static_cast<std::size_t>(y * kFliWidth + x)] = plasma(x, y, 0);
        }
    }
    constexpr int kBand = kFliHeight / 10;
    for (int f = 0; f < frameCount; ++f) {
        if (f > 0) {
            const int top = ((f - 1) % 10) * kBand;
            for (int y = top; y < top + kBand; ++y) {
                for (int x = 0; x < kFliWidth; ++x) {
                    pixels[static_cast<std::size_t>(y * kFliWidth + x)] = plasma(x, y, f);
                }
            }
        }
        FliFrameData frame;
        if (f == 0) {
            frame.chunks.push_back({FLI_COLOR, EncodeColorChunk(colors)});
        }
        frame.chunks.push_back({FLI_LC, EncodeLCChunk(previous, pixels)});
        frames.push_back(std::move(frame));
        previous = pixels;
    }
    return WriteFLIFile(frames, 2);
}

ByteArray MakeFlatAnimation(int frameCount)
{
    PaletteBlock colors{};
    SetRainbow(colors, 0, 256, 0);
    // Bands of one colour each for sky and ground, a ground of large tiles, and
    // six sprites with a few stripes moving over them: flat pictures, as
    // cartoon and user-interface animations are.
    auto background = [](int x, int y) {
        if (y < 120) {
            return static_cast<std::uint8_t>(16 + y / 12);
        }
        return static_cast<std::uint8_t>(((x / 32 + y / 16) & 1) != 0 ? 200 : 204);
    };
    auto sprite = [](int x, int y) {
        return static_cast<std::uint8_t>(64 + ((x + y) / 3) % 4 * 8);
    };
    std::vector<FliFrameData> frames;
    frames.reserve(static_cast<std::size_t>(std::max(frameCount, 0)));
    FramePixels previous{};
    FramePixels pixels{};
    for (int f = 0; f < frameCount; ++f) {
        for (int y = 0; y < kFliHeight; ++y) {
            for (int x = 0; x < kFliWidth; ++x) {
                pixels[static_cast<std::size_t>(y * kFliWidth + x)] = background(x, y);
            }
        }
        for (int s = 0; s < 6; ++s) {
            const int size = 24 + 6 * s;
            const int left = (f * (3 + s) + 50 * s) % (kFliWidth - size);
            const int top = 10 + 25 * s + (f * (s + 1) / 3) % 30;
            for (int y = top; y < top + size && y < kFliHeight; ++y) {
                for (int x = left; x < left + size; ++x) {
                    pixels[static_cast<std::size_t>(y * kFliWidth + x)] = sprite(x - left, y - top);
                }
            }
        }
        FliFrameData frame;
        if (f == 0) {
            frame.chunks.push_back({FLI_COLOR, EncodeColorChunk(colors)});
        }
        frame.chunks.push_back({FLI_LC, EncodeLCChunk(previous, pixels)});
        frames.push_back(std::move(frame));
        previous = pixels;
    }
    return WriteFLIFile(frames, 2);
}

ByteArray MakeSampleFlc(int width, int height, int frameCount)
{
    if (width < 1 || height < 1 || width > 65535 || height > 65535) {
        throw Error(ErrorKind::TooLarge, "an FLC picture has 1 to 65535 columns and rows");
    }
    auto plasma = [](int x, int y, int phase) {
        const double v = std::sin(x / 23.0) + std::sin(y / 13.0) + std::sin((x + y) / 31.0);
        return static_cast<std::uint8_t>((static_cast<int>((v + 3) * 42) + phase * 13) & 255);
    };
    auto colorsAt = [](int phase) {
        PaletteBlock sixBit{};
        SetRainbow(sixBit, 0, 256, phase);
        for (std::uint8_t& component : sixBit) {
            component = static_cast<std::uint8_t>(component * 255 / 63);
        }
        return sixBit;
    };
    FlcAnimationFrame first{
        {width, height,
         ByteArray(static_cast<std::size_t>(width) * static_cast<std::size_t>(height))},
        colorsAt(0)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            first.picture.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                 static_cast<std::size_t>(x)] = plasma(x, y, 0);
        }
    }
    FlcAnimationFrame previous = first;
    FlcAnimationFrame current = first;
    std::vector<FliFrameData> frames;
    frames.reserve(static_cast<std::size_t>(std::max(frameCount, 0)));
    const int band = std::max(1, height / 10);
    for (int f = 0; f < frameCount; ++f) {
        if (f == 0) {
            frames.push_back(EncodeFlcAnimation(std::span(&first, 1), true).front());
            continue;
        }
        const int top = ((f - 1) * band) % height;
        for (int y = top; y < std::min(height, top + band); ++y) {
            for (int x = 0; x < width; ++x) {
                current.picture
                    .pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x)] = plasma(x, y, f);
            }
        }
        if (f % 10 == 0) {
            current.colors = colorsAt(f);
        }
        frames.push_back(EncodeFlcFrame(previous, current));
        previous = current;
    }
    FlcHeader header;
    header.width = static_cast<std::uint16_t>(width);
    header.height = static_cast<std::uint16_t>(height);
    header.speed = 40;
    header.prefix = ByteArray(10, 0);  // no sub-chunks: nothing but the count and reserved bytes
    if (frames.empty()) {
        return WriteFLCFile(header, frames);
    }
    const FliFrameData ring = EncodeFlcFrame(previous, first);
    return WriteFLCFile(header, frames, &ring);
}

}  // namespace varek
