#include "cli/CliOptions.h"

#include <cstdio>

bool CliOptions::Flag(const std::string& name) {
    for (auto it = args_.begin(); it != args_.end(); ++it) {
        if (*it == name) {
            args_.erase(it);
            return true;
        }
    }
    return false;
}

std::optional<std::string> CliOptions::Value(const std::string& name) {
    for (auto it = args_.begin(); it != args_.end(); ++it) {
        if (it->rfind(name + "=", 0) == 0) {
            std::string v = it->substr(name.size() + 1);
            args_.erase(it);
            return v;
        }
        if (*it != name) continue;
        if (it + 1 == args_.end()) {
            error_ = "option " + name + " needs a value";
            args_.erase(it);
            return std::nullopt;
        }
        std::string v = *(it + 1);
        args_.erase(it, it + 2);
        return v;
    }
    return std::nullopt;
}

std::optional<std::string> CliOptions::Positional() {
    for (auto it = args_.begin(); it != args_.end(); ++it) {
        if (it->size() > 1 && (*it)[0] == '-') continue;
        std::string v = *it;
        args_.erase(it);
        return v;
    }
    return std::nullopt;
}

bool CliOptions::Finish() {
    if (error_.empty() && !args_.empty()) error_ = "unexpected argument '" + args_.front() + "'";
    return error_.empty();
}

int CliOptions::UsageError(const std::string& message) {
    std::fprintf(stderr, "dvdconv %s: %s\n(see dvdconv --help)\n", command_, message.c_str());
    return 2;
}
