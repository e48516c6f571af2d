#include "imaging/PngFilter.h"

#include <algorithm>

namespace varek {

namespace {

constexpr std::uint8_t kFilterNone = 0;
constexpr std::uint8_t kFilterSub = 1;
constexpr std::uint8_t kFilterUp = 2;

// The byte taken as signed, its size: what the filter choice sums.
unsigned Cost(std::uint8_t value)
{
    const auto signedValue = static_cast<std::int8_t>(value);
    return static_cast<unsigned>(signedValue < 0 ? -signedValue : signedValue);
}

}  // namespace

// The loops have no branches, so the compiler runs them on vectors.
void FilterPngRow(const std::uint8_t* __restrict row, const std::uint8_t* __restrict above,
                  std::size_t rowBytes, std::size_t pixelBytes, std::uint8_t* __restrict scratch,
                  std::uint8_t* __restrict out)
{
    std::uint8_t* __restrict sub = scratch;
    std::uint8_t* __restrict up = scratch + rowBytes;
    const std::size_t lead = std::min(pixelBytes, rowBytes);
    for (std::size_t x = 0; x < lead; ++x) {
        sub[x] = row[x];
    }
    for (std::size_t x = lead; x < rowBytes; ++x) {
        sub[x] = static_cast<std::uint8_t>(row[x] - row[x - pixelBytes]);
    }
    unsigned none = 0;
    unsigned bySub = 0;
    unsigned byUp = 0;
    if (above != nullptr) {
        for (std::size_t x = 0; x < rowBytes; ++x) {
            up[x] = static_cast<std::uint8_t>(row[x] - above[x]);
        }
    }
    for (std::size_t x = 0; x < rowBytes; ++x) {
        none += Cost(row[x]);
        bySub += Cost(sub[x]);
    }
    if (above != nullptr) {
        for (std::size_t x = 0; x < rowBytes; ++x) {
            byUp += Cost(up[x]);
        }
    } else {
        byUp = none;  // the row above a first row counts as zero
    }
    const std::uint8_t* chosen = row;
    out[0] = kFilterNone;
    if (bySub < none && bySub <= byUp) {
        out[0] = kFilterSub;
        chosen = sub;
    } else if (byUp < none && byUp < bySub) {
        out[0] = kFilterUp;
        chosen = up;
    }
    std::copy(chosen, chosen + rowBytes, out + 1);
}

}  // namespace varek
