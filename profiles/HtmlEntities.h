// The HTML 4 character entity table used when XML attribute values are
// unescaped: the 252 entities of HTML 4.01 plus apos.
#pragma once

#include <cstddef>
#include <string_view>

// The character of an entity name (without "&" and ";"), 0 when the name is
// not in the table, longer than 9 characters or not ASCII. The lookup ignores
// ASCII case; where two entities differ only by case ("Eacute", "eacute") the
// exact spelling decides.
char16_t LookUpHtmlEntity(std::u16string_view name);
std::size_t HtmlEntityCount();
