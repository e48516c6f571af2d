#include "art/Naming.h"

#include <algorithm>
#include <cstdio>

namespace varek {

std::string SuggestedName(const std::string& fileName, std::optional<int> frame,
                          const std::string& extension, int frameCount)
{
    const auto dot = fileName.rfind('.');
    std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    if (frame) {
        const int width = std::max(2, static_cast<int>(std::to_string(frameCount).size()));
        char digits[32];
        std::snprintf(digits, sizeof digits, "-%0*d", width, *frame);
        base += digits;
    }
    return base + extension;
}

}  // namespace varek
