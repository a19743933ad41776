#include "profiles/OutputProfile.h"

#include <cstring>
#include <limits>

OutputProfile EmptyProfile() {
    OutputProfile p;
    std::memset(&p, 0, sizeof p);
    return p;
}

void SetTextField(char16_t* field, std::size_t capacity, std::u16string_view value) {
    if (capacity == 0) return;
    std::size_t n = std::min(value.size(), capacity - 1);
    // Do not leave the high half of a surrogate pair at the cut.
    if (n < value.size() && n > 0 && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
    std::memcpy(field, value.data(), n * sizeof(char16_t));
    std::memset(field + n, 0, (capacity - n) * sizeof(char16_t));
}

void SetNameField(char* field, std::size_t capacity, std::string_view value) {
    if (capacity == 0) return;
    std::size_t n = std::min(value.size(), capacity - 1);
    // Do not cut a UTF-8 sequence: step back over continuation bytes.
    if (n < value.size())
        while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(field, value.data(), n);
    std::memset(field + n, 0, capacity - n);
}

std::int32_t ParseDecimal(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' ||
                               text[i] == u'\r' || text[i] == u'\v' || text[i] == u'\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > 1LL << 32) value = 1LL << 32; // stop growing; clamped below
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}
