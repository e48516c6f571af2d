#pragma once

#include <string_view>

namespace varek {

// How a library routine tells the user about a failure it handled itself.
// The window shows a message box, the command line prints to standard error.
class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void ReportError(std::string_view message) = 0;
};

// Drops every report; for callers that learn of failures from return values alone.
class SilentReporter final : public ErrorReporter {
public:
    void ReportError(std::string_view) override {}
};

}  // namespace varek
