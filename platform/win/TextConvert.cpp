#include "platform/win/TextConvert.h"

#include <cerrno>
#include <iconv.h>

namespace {

struct CodePageName {
    UINT codePage;
    const char* iconvName;
};

// Code pages this port knows, with the names glibc iconv uses for them.
constexpr CodePageName kCodePages[] = {
    {37, "IBM037"},          {437, "CP437"},
    {500, "IBM500"},         {708, "ISO-8859-6"},
    {737, "CP737"},          {775, "CP775"},
    {850, "CP850"},          {852, "CP852"},
    {855, "CP855"},          {857, "CP857"},
    {858, "CP858"},          {860, "CP860"},
    {861, "CP861"},          {862, "CP862"},
    {863, "CP863"},          {864, "CP864"},
    {865, "CP865"},          {866, "CP866"},
    {869, "CP869"},          {874, "CP874"},
    {875, "CP875"},          {932, "CP932"},
    {936, "CP936"},          {949, "CP949"},
    {950, "CP950"},          {1026, "IBM1026"},
    {1047, "IBM1047"},       {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},      {1250, "CP1250"},
    {1251, "CP1251"},        {1252, "CP1252"},
    {1253, "CP1253"},        {1254, "CP1254"},
    {1255, "CP1255"},        {1256, "CP1256"},
    {1257, "CP1257"},        {1258, "CP1258"},
    {1361, "JOHAB"},         {10000, "MACINTOSH"},
    {10004, "MAC-ARABIC"},   {10006, "MAC-GREEK"},
    {10007, "MAC-CYRILLIC"}, {10029, "MAC-CENTRALEUROPE"},
    {10079, "MAC-IS"},       {10081, "MAC-TURKISH"},
    {12000, "UTF-32LE"},     {12001, "UTF-32BE"},
    {20127, "ASCII"},        {20866, "KOI8-R"},
    {20932, "EUC-JP"},       {20936, "GB2312"},
    {21866, "KOI8-U"},       {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},   {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},   {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},   {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},  {28605, "ISO-8859-15"},
    {38598, "ISO-8859-8"},   {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"},  {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},  {51932, "EUC-JP"},
    {51936, "EUC-CN"},       {51949, "EUC-KR"},
    {52936, "HZ"},           {54936, "GB18030"},
    {65000, "UTF-7"},        {65001, "UTF-8"},
};

// Widens windows-1252 bytes; the five unassigned bytes map to themselves.
std::u16string Windows1252(std::string_view bytes) {
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes)
        out.push_back(c >= 0x80 && c < 0xA0 ? high[c - 0x80] : char16_t(c));
    return out;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Runs the conversion, calling `onBad` for an input position it cannot
// convert; `onBad` returns how many input bytes to skip.
template <class OnBad>
void RunIconv(const Iconv& cd, std::string_view in, std::string& out, OnBad onBad) {
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char buffer[4096];
    while (true) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd.get(), inLeft ? &inPtr : nullptr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (r != static_cast<size_t>(-1)) {
            if (inLeft == 0) break;
            continue;
        }
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (cut sequence at the end): skip and go on.
        size_t skip = onBad(in.size() - inLeft);
        if (skip == 0 || skip > inLeft) skip = inLeft;
        inPtr += skip;
        inLeft -= skip;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        if (inLeft == 0) break;
    }
    // Flush any shift state.
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
}

std::u16string FromUtf16LeBytes(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(char16_t(static_cast<unsigned char>(bytes[i]) |
                               (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return out;
}

void AppendReplacementLe(std::string& out) {
    out.push_back(static_cast<char>(0xFD));
    out.push_back(static_cast<char>(0xFF));
}

} // namespace

std::string CodePageIconvName(UINT codePage) {
    if (codePage == CP_ACP) return "UTF-8";
    for (const auto& entry : kCodePages)
        if (entry.codePage == codePage) return entry.iconvName;
    return {};
}

bool IsValidUtf8(std::string_view bytes, bool allowCutEnd) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        unsigned char c = bytes[i];
        if (c == 0) return true;
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        unsigned long cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= n) return allowCutEnd;
            unsigned char d = bytes[i + k];
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
            // Reject overlong forms and surrogates as early as the second byte allows.
            if (k == 1) {
                if (c == 0xE0 && d < 0xA0) return false;
                if (c == 0xED && d >= 0xA0) return false;
                if (c == 0xF0 && d < 0x90) return false;
                if (c == 0xF4 && d >= 0x90) return false;
            }
        }
        (void)cp;
        i += extra + 1;
    }
    return true;
}

namespace {

// Direct decoding of well-formed UTF-8, the common case, without the cost of
// opening an iconv converter. False (and `out` undefined) at the first
// malformed, overlong, surrogate or cut sequence: the caller falls back to
// the general path.
bool DecodeStrictUtf8(std::string_view bytes, std::u16string& out) {
    out.clear();
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int extra = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        if (extra == 0 || extra > static_cast<int>(n - i - 1)) return false;
        char32_t cp = c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto d = static_cast<unsigned char>(bytes[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return true;
}

// UTF-16 to UTF-8; lone surrogates become U+FFFD.
std::string EncodeUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        bool high = cp >= 0xD800 && cp <= 0xDBFF, low = cp >= 0xDC00 && cp <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (high || low)
            cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace

bool MultiByteToUtf16(UINT codePage, std::string_view bytes, std::u16string& out) {
    out.clear();
    if ((codePage == CP_UTF8 || codePage == CP_ACP) && DecodeStrictUtf8(bytes, out)) return true;
    out.clear();
    if (codePage == CP_ACP) {
        if (!IsValidUtf8(bytes, false)) {
            // The stop at a zero byte makes the test lenient; check the rest too.
            out = Windows1252(bytes);
            return true;
        }
        codePage = CP_UTF8;
    }
    if (codePage == CP_WINDOWS1252) {
        out = Windows1252(bytes);
        return true;
    }
    const std::string name = CodePageIconvName(codePage);
    if (name.empty()) {
        out = Windows1252(bytes);
        return false;
    }
    Iconv cd("UTF-16LE", name.c_str());
    if (!cd.ok()) {
        out = Windows1252(bytes);
        return false;
    }
    std::string wide;
    wide.reserve(bytes.size() * 2);
    RunIconv(cd, bytes, wide, [&](size_t) {
        AppendReplacementLe(wide);
        return size_t(1);
    });
    out = FromUtf16LeBytes(wide);
    return true;
}

bool Utf16ToMultiByte(UINT codePage, std::u16string_view text, std::string& out) {
    out.clear();
    if (codePage == CP_UTF8 || codePage == CP_ACP) {
        out = EncodeUtf8(text);
        return true;
    }
    // Lone surrogates cannot be converted: replace them first.
    std::string le;
    le.reserve(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        bool high = u >= 0xD800 && u <= 0xDBFF;
        bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            le.push_back(static_cast<char>(u & 0xFF));
            le.push_back(static_cast<char>(u >> 8));
            u = text[++i];
        } else if (high || low) {
            u = 0xFFFD;
        }
        le.push_back(static_cast<char>(u & 0xFF));
        le.push_back(static_cast<char>(u >> 8));
    }
    std::string name = CodePageIconvName(codePage);
    if (name.empty()) return false;
    Iconv cd(name.c_str(), "UTF-16LE");
    if (!cd.ok()) return false;
    RunIconv(cd, le, out, [&](size_t) {
        out.push_back('?');
        return size_t(2);
    });
    return true;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    MultiByteToUtf16(CP_UTF8, utf8, out);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    Utf16ToMultiByte(CP_UTF8, text, out);
    return out;
}

std::u16string AnsiToUtf16(std::string_view bytes) {
    std::u16string out;
    MultiByteToUtf16(CP_ACP, bytes, out);
    return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
    return Utf16ToUtf8(text);
}
