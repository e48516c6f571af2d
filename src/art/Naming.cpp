#include "art/Naming.h"

#include <algorithm>
#include <cstdio>

namespace varek {

std::string SuggestedName(const std::string& fileName, std::optional<int> frame,
                          const std::string& extension, int frameCount, std::size_t longest)
{
    const auto dot = fileName.rfind('.');
    std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    std::string tail;
    if (frame) {
        const int width = std::max(2, static_cast<int>(std::to_string(frameCount).size()));
        char digits[32];
        std::snprintf(digits, sizeof digits, "-%0*d", width, *frame);
        tail = digits;
    }
    tail += extension;
    if (base.size() + tail.size() > longest && tail.size() < longest) {
        std::size_t cut = longest - tail.size();
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a character
        }
        base.resize(cut);
    }
    return base + tail;
}

}  // namespace varek
