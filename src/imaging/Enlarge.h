#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace varek {

// The whole factors an export enlarges its pictures by.
constexpr int kMinScale = 1;
constexpr int kMaxScale = 8;

// The most pixels an enlarged picture may have: 16384 x 16384, a 4096 x 4096
// picture at 4x. Past it one picture's pixels and its image file would each
// take more than 256 MiB.
constexpr std::uint64_t kMaxEnlargedPixels = std::uint64_t{1} << 28;

// Writes row, each pixel repeated scale times, to out (row.size() * scale bytes).
void EnlargeRow(std::span<const std::uint8_t> row, int scale, std::uint8_t* out);

// Writes the width x height top-down pixels enlarged by nearest neighbour, each
// pixel becoming a square of scale x scale, to out, which holds
// width * scale * height * scale bytes.
void EnlargePixels(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
                   int scale, std::uint8_t* out);

}  // namespace varek
