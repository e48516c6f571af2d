#include "art/Naming.h"

#include <cstdio>

namespace varek {

std::string SuggestedName(const std::string& fileName, std::optional<int> frame,
                          const std::string& extension)
{
    const auto dot = fileName.rfind('.');
    std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    if (frame) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "-%02d", *frame);
        base += digits;
    }
    return base + extension;
}

}  // namespace varek
