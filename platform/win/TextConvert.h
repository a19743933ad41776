// Code-page conversion between 8-bit text and 16-bit (UTF-16) text, done with
// glibc iconv. Code pages keep their numbers from the original platform
// (1252, 932, 65001 ...); CodePageIconvName gives the iconv name for each.
//
// The "system default 8-bit code page" (CP_ACP) of this port is UTF-8: text
// handed to FFmpeg and file names are UTF-8. When 8-bit input in CP_ACP is not
// valid UTF-8 it is read as windows-1252, so no byte is lost.
// All functions are safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/WinTypes.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF7 = 65000;
constexpr UINT CP_UTF8 = 65001;
constexpr UINT CP_UTF16LE = 1200;
constexpr UINT CP_UTF16BE = 1201;
constexpr UINT CP_WINDOWS1252 = 1252;

// The iconv name for a code page ("CP1252", "SHIFT_JIS", "UTF-8"); empty when
// the code page is not known. CP_ACP gives "UTF-8".
std::string CodePageIconvName(UINT codePage);

// Converts 8-bit text in `codePage` to UTF-16. Bytes that do not form a
// character of the code page become U+FFFD (as the original platform does
// without its strict flag). Returns false only when the code page is not
// known to iconv; `out` then holds the bytes read as windows-1252.
// Example: MultiByteToUtf16(1252, "\x80") == u"\u20AC".
bool MultiByteToUtf16(UINT codePage, std::string_view bytes, std::u16string& out);

// Converts UTF-16 to 8-bit text in `codePage`; characters the code page
// cannot hold become "?". A lone surrogate becomes U+FFFD first.
bool Utf16ToMultiByte(UINT codePage, std::u16string_view text, std::string& out);

// Shorthands for the common cases.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);
// The default 8-bit code page (UTF-8, with the windows-1252 fallback above).
std::u16string AnsiToUtf16(std::string_view bytes);
std::string Utf16ToAnsi(std::u16string_view text);

// True when `bytes` is valid UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF). With `allowCutEnd`, a last sequence cut short by the end of the
// data still counts as valid. The test stops at a zero byte.
bool IsValidUtf8(std::string_view bytes, bool allowCutEnd = false);
