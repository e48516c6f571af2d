#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/ErrorReporter.h"

namespace varek::test {

// Keeps every message a routine reported, in order.
class RecordingReporter final : public ErrorReporter {
public:
    void ReportError(std::string_view message) override { messages.emplace_back(message); }

    std::vector<std::string> messages;
};

}  // namespace varek::test
