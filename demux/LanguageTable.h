// Language names of the streams: the ISO 639-2 table and the two look-ups the
// stream lists use. All functions are pure and safe from any thread.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

struct LanguageRow {
    const char* name;   // English name; alternatives after ';' ("Navajo; Navaho")
    const char* code3;  // bibliographic three-letter code ("ger")
    const char* code3t; // terminology code where it differs ("deu"), else ""
    const char* code2;  // ISO 639-1 code ("de"), or "" when there is none
};

constexpr std::size_t kLanguageRowCount = 482;

// The whole table, in registry order.
std::span<const LanguageRow> LanguageRows();

// Name of a three-letter code (the first three characters of `code`, any case):
// the first row whose bibliographic, then terminology, code matches; the name is cut
// at its first ';'. Empty when nothing matches. LanguageName("nav") == "Navajo".
std::string LanguageName(std::string_view code);

// Name of a two-letter code such as a DVD language code (the first two characters
// of `code`, any case), first matching row first, cut at the first ';'. Empty for
// an empty or unknown code. TwoLetterLanguageName("en") == "English".
std::string TwoLetterLanguageName(std::string_view code);

// The same for a DVD language code packed as first letter in bits 8-15 and the
// second in bits 0-7 (0x656E is "en"); 0 gives an empty text.
std::string TwoLetterLanguageName(unsigned packedCode);
