// A small streaming JSON writer for the command line's --json output: keeps
// the front end free of heavier libraries so listing a disc starts fast.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    // Inside an object: the name of the next value.
    JsonWriter& Key(std::string_view name);
    JsonWriter& String(std::string_view text);
    JsonWriter& Int(std::int64_t v);
    JsonWriter& Double(double v);
    JsonWriter& Bool(bool v);

    // The document, indented by two spaces, with a final newline.
    std::string Text() const { return out_ + "\n"; }

private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void BeforeValue();
    void WriteString(std::string_view text);
    void NewLine();

    std::string out_;
    std::vector<bool> empty_; // per open level: nothing written in it yet
    bool afterKey_ = false;
};
