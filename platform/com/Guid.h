// 128-bit identifiers for interfaces, classes, media types and formats.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
    friend constexpr bool operator<(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
        if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
        if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
        return false;
    }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;
using REFGUID = const GUID&;

constexpr GUID GUID_NULL{};

namespace guid_detail {
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
constexpr std::optional<GUID> Parse(std::string_view s) {
    if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return std::nullopt;
    std::uint8_t bytes[16] = {};
    int n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '-') continue;
        int hi = HexDigit(s[i]), lo = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
        ++i;
    }
    GUID g;
    g.Data1 = (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) |
              (std::uint32_t(bytes[2]) << 8) | bytes[3];
    g.Data2 = std::uint16_t((bytes[4] << 8) | bytes[5]);
    g.Data3 = std::uint16_t((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
    return g;
}
} // namespace guid_detail

// Compile-time GUID from "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (braces optional);
// a malformed literal does not compile.
consteval GUID MakeGuid(std::string_view text) {
    auto g = guid_detail::Parse(text);
    if (!g) throw "malformed GUID literal";
    return *g;
}

// Run-time parse; nullopt for malformed text.
std::optional<GUID> GuidFromString(std::string_view text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as the platform prints it.
std::string GuidToString(const GUID& g);

template <>
struct std::hash<GUID> {
    std::size_t operator()(const GUID& g) const noexcept {
        std::uint64_t lo = 0, hi = (std::uint64_t(g.Data1) << 32) | (g.Data2 << 16) | g.Data3;
        for (int i = 0; i < 8; ++i) lo = (lo << 8) | g.Data4[i];
        return std::hash<std::uint64_t>{}(hi ^ (lo * 0x9E3779B97F4A7C15ull));
    }
};
