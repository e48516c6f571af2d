#pragma once

#include <cstddef>

namespace varek::test {

std::size_t AllocatedBytes();
void ResetPeak();
// The most bytes held through operator new since the last ResetPeak.
std::size_t PeakBytes();

}  // namespace varek::test
