// The code page table of the XML reader: charset names and aliases (as they appear
// in XML declarations and HTML meta tags) mapped to code page numbers.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/win/TextConvert.h"

// The code page of a charset name, looked up with ASCII letters lower-cased.
// An empty name, a name of 100 characters or more and an unknown name give
// CP_ACP (the default 8-bit code page). Example: "Windows-1252" -> 1252.
UINT CodePageOfCharset(std::u16string_view name);
std::size_t CharsetCount();
