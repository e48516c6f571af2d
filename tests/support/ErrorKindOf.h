#pragma once

#include <optional>

#include "util/Error.h"

namespace varek::test {

// The kind of the Error that call throws; nullopt when it returns normally. Any
// other exception passes through and fails the test.
template <typename Call>
std::optional<ErrorKind> ErrorKindOf(Call&& call)
{
    try {
        call();
    } catch (const Error& error) {
        return error.kind();
    }
    return std::nullopt;
}

}  // namespace varek::test
