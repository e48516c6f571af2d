// The few range algorithms the tests call, for a C++ library that does not have
// them yet (libc++ before 15, which the WebAssembly toolchain ships).
#pragma once

#include <algorithm>
#include <functional>
#include <iterator>
#include <ranges>

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 15000
namespace std::ranges {

template <class Range, class Value>
void fill(Range&& range, const Value& value)
{
    std::fill(std::begin(range), std::end(range), value);
}

template <class Left, class Right>
bool equal(const Left& left, const Right& right)
{
    return std::equal(std::begin(left), std::end(left), std::begin(right), std::end(right));
}

template <class Range, class Value, class Projection>
auto find(Range&& range, const Value& value, Projection projection)
{
    return std::find_if(std::begin(range), std::end(range),
                        [&](const auto& item) { return std::invoke(projection, item) == value; });
}

}  // namespace std::ranges
#endif
