#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The entry point of the PNG writer plugin, which holds the program's only use of
// Qt and is loaded only when PNG files are asked for, so exporting BMP files does
// not pay for loading Qt and its libraries. colors are the 256 palette entries,
// red + 256 * green + 65536 * blue. Returns false with error set when Qt fails.
extern "C" bool VarekEncodePng(std::int32_t width, std::int32_t height, const std::uint8_t* pixels,
                               const std::uint32_t* colors, std::vector<std::uint8_t>* out,
                               std::string* error);

inline constexpr const char* kPngPluginFile = "varek-png.so";
inline constexpr const char* kPngPluginEntry = "VarekEncodePng";
