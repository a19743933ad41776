#include "cli/JsonWriter.h"

#include <cmath>
#include <cstdio>

void JsonWriter::NewLine() {
    out_ += '\n';
    out_.append(2 * empty_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (empty_.empty()) return;
    if (!empty_.back()) out_ += ',';
    empty_.back() = false;
    NewLine();
}

JsonWriter& JsonWriter::Open(char bracket) {
    BeforeValue();
    out_ += bracket;
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) NewLine();
    out_ += bracket;
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    BeforeValue();
    WriteString(name);
    out_ += ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    BeforeValue();
    WriteString(text);
    return *this;
}

void JsonWriter::WriteString(std::string_view text) {
    out_ += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out_ += buf;
            } else {
                out_ += static_cast<char>(c);
            }
        }
    }
    out_ += '"';
}

JsonWriter& JsonWriter::Int(std::int64_t v) {
    BeforeValue();
    out_ += std::to_string(v);
    return *this;
}

JsonWriter& JsonWriter::Double(double v) {
    BeforeValue();
    if (!std::isfinite(v)) {
        out_ += "null";
        return *this;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    out_ += buf;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool v) {
    BeforeValue();
    out_ += v ? "true" : "false";
    return *this;
}
