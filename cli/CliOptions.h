// Small helpers for parsing sub-command arguments and printing results.
#pragma once

#include <optional>
#include <string>

#include "cli/Commands.h"

class CliOptions {
public:
    CliOptions(const char* command, const CommandArgs& args) : command_(command), args_(args) {}

    // Removes "--name" from the arguments; true when it was there.
    bool Flag(const std::string& name);
    // Removes "--name VALUE" (or "--name=VALUE"); nullopt when absent. A
    // missing value is a usage error (see Error()).
    std::optional<std::string> Value(const std::string& name);
    // The next positional argument, removed; nullopt when none is left.
    std::optional<std::string> Positional();
    // After all options were taken: reports any argument left over as unknown.
    bool Finish();

    bool HasError() const { return !error_.empty(); }
    // Prints "dvdconv COMMAND: MESSAGE" and the hint to --help; returns 2.
    int UsageError(const std::string& message);
    int ReportErrors() { return UsageError(error_); }

private:
    const char* command_;
    CommandArgs args_;
    std::string error_;
};
