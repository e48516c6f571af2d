#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace varek {

// The file name proposed for saving: the game file's name without its last
// extension (a name without one is kept whole), then for an animation frame "-"
// and the frame number with at least two digits, then ".bmp".
// "A.B.CEL" gives "A.B.bmp"; frame 9 of "INTRO.FLI" gives "INTRO-09.bmp". With
// frameCount given, the number takes as many digits as frameCount has, so that
// names sort in frame order: frame 9 of 173 gives "INTRO-009.bmp".
// With longest given, a name longer than that many bytes has its part before the
// frame number cut, at a UTF-8 character's start, so that it fits (when even the
// number and extension alone do not, the name is left whole).
std::string SuggestedName(const std::string& fileName, std::optional<int> frame = std::nullopt,
                          const std::string& extension = ".bmp", int frameCount = 0,
                          std::size_t longest = std::string::npos);

}  // namespace varek
