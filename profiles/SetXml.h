// Reading Set.xml, the branding file: under the root, the first Profile element; in
// it a Title and a Url element, in this order, each with a value attribute.
#pragma once

#include <filesystem>
#include <string>

// Reads `file` into `title` and `url`. When the file cannot be loaded it
// returns false and leaves both untouched; a missing element or attribute
// leaves that string untouched (missing attribute: empty). Nothing is reported.
bool ReadSetXml(const std::filesystem::path& file, std::u16string& title, std::u16string& url);
