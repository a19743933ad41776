#include "profiles/XmlDocument.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/win/DebugTrace.h"
#include "platform/win/TextConvert.h"
#include "profiles/HtmlEntities.h"
#include "profiles/XmlCharsets.h"

namespace {

constexpr size_t kLogLimit = 1000;
constexpr size_t kHeadBytes = 1024;

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool IsNameStart(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u':' ||
           c > u'`';
}

char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool StartsWithIgnoringCase(std::u16string_view text, size_t at, std::u16string_view prefix) {
    return at <= text.size() && text.size() - at >= prefix.size() &&
           EqualsIgnoringCase(text.substr(at, prefix.size()), prefix);
}

std::u16string Ascii(const char* s) {
    return std::u16string(s, s + std::strlen(s));
}
std::u16string Number(long long n) {
    return Ascii(std::to_string(n).c_str());
}

// Length of the name starting at `at`: up to white space, "/" or ">".
size_t NameLength(std::u16string_view text, size_t at) {
    size_t i = at;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != u'/' && text[i] != u'>')
        ++i;
    return i - at;
}

// Scans the attributes of a start tag. `tag` runs from "<" to the end of the
// text (or of the tag); scanning starts at `from` (after the element name)
// and stops at "/", ">" or "?". Returns true and sets `value` (and `hasValue`)
// for the first attribute whose name matches.
bool FindAttribute(std::u16string_view tag, size_t from, std::u16string_view name, bool ignoreCase,
                   std::u16string_view& value) {
    size_t i = from;
    const size_t n = tag.size();
    while (true) {
        while (i < n && IsSpace(tag[i]))
            ++i;
        if (i >= n || tag[i] == u'/' || tag[i] == u'>' || tag[i] == u'?') return false;
        size_t nameStart = i;
        while (i < n && tag[i] != u'=' && !IsSpace(tag[i]) && tag[i] != u'>' && tag[i] != u'/' &&
               tag[i] != u'?')
            ++i;
        std::u16string_view attrName = tag.substr(nameStart, i - nameStart);
        size_t j = i;
        while (j < n && IsSpace(tag[j]))
            ++j;
        std::u16string_view attrValue;
        if (j < n && tag[j] == u'=') {
            ++j;
            while (j < n && IsSpace(tag[j]))
                ++j;
            if (j < n && (tag[j] == u'"' || tag[j] == u'\'')) {
                char16_t quote = tag[j];
                size_t close = tag.find(quote, j + 1);
                if (close == std::u16string_view::npos) close = n;
                attrValue = tag.substr(j + 1, close - j - 1);
                i = close < n ? close + 1 : n;
            } else {
                size_t k = j;
                while (k < n && !IsSpace(tag[k]) && tag[k] != u'>')
                    ++k;
                attrValue = tag.substr(j, k - j);
                i = k;
            }
        }
        const bool match = ignoreCase ? EqualsIgnoringCase(attrName, name) : attrName == name;
        if (match && !attrName.empty()) {
            value = attrValue;
            return true;
        }
        if (i == nameStart) ++i; // a stray character: never loop in place
    }
}

// End of the tag that starts at `at` ("<"): the ">" not inside a quoted value.
size_t TagEnd(std::u16string_view text, size_t at) {
    char16_t quote = 0;
    bool afterEquals = false;
    for (size_t i = at + 1; i < text.size(); ++i) {
        char16_t c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == u'>') return i;
        if (c == u'=') {
            afterEquals = true;
            continue;
        }
        if (afterEquals && (c == u'"' || c == u'\'')) quote = c;
        if (!IsSpace(c)) afterEquals = false;
    }
    return std::u16string_view::npos;
}

// The encoding declared in the first bytes (widened): the XML declaration's
// encoding, or the charset of an HTML document's Content-Type meta element.
bool DeclaredEncoding(std::u16string_view head, std::u16string& encoding) {
    size_t i = 0;
    while (i < head.size() && IsSpace(head[i]))
        ++i;
    if (head.substr(i, 5) == u"<?xml" && i + 5 < head.size() &&
        (IsSpace(head[i + 5]) || head[i + 5] == u'?')) {
        size_t end = head.find(u"?>", i);
        std::u16string_view decl = head.substr(i, end == std::u16string_view::npos ? end : end - i);
        std::u16string_view value;
        if (FindAttribute(decl, 5, u"encoding", false, value) && !value.empty()) {
            encoding = value;
            return true;
        }
        // Go on after the declaration to look for an html document.
        i = end == std::u16string_view::npos ? head.size() : end + 2;
    }
    // The first element: skip white space, comments, PIs and the document type.
    while (i < head.size()) {
        if (IsSpace(head[i])) {
            ++i;
        } else if (head.substr(i, 4) == u"<!--") {
            size_t end = head.find(u"-->", i + 4);
            if (end == std::u16string_view::npos) return false;
            i = end + 3;
        } else if (head.substr(i, 2) == u"<?") {
            size_t end = head.find(u"?>", i + 2);
            if (end == std::u16string_view::npos) return false;
            i = end + 2;
        } else if (head.substr(i, 2) == u"<!") {
            size_t end = head.find(u'>', i + 2);
            if (end == std::u16string_view::npos) return false;
            i = end + 1;
        } else {
            break;
        }
    }
    if (i >= head.size() || head[i] != u'<') return false;
    if (!EqualsIgnoringCase(head.substr(i + 1, NameLength(head, i + 1)), u"html")) return false;
    for (size_t at = head.find(u'<', i + 1); at != std::u16string_view::npos;
         at = head.find(u'<', at + 1)) {
        if (StartsWithIgnoringCase(head, at, u"</head")) return false;
        if (!StartsWithIgnoringCase(head, at, u"<meta")) continue;
        size_t end = TagEnd(head, at);
        std::u16string_view tag =
            head.substr(at, end == std::u16string_view::npos ? end : end - at);
        std::u16string_view equiv, content;
        if (!FindAttribute(tag, 5, u"http-equiv", true, equiv) ||
            !EqualsIgnoringCase(equiv, u"Content-Type") ||
            !FindAttribute(tag, 5, u"content", true, content))
            continue;
        for (size_t c = 0; c + 7 <= content.size(); ++c) {
            if (!StartsWithIgnoringCase(content, c, u"charset")) continue;
            size_t k = c + 7;
            while (k < content.size() && IsSpace(content[k]))
                ++k;
            if (k >= content.size() || content[k] != u'=') continue;
            ++k;
            while (k < content.size() && IsSpace(content[k]))
                ++k;
            size_t e = k;
            while (e < content.size() && !IsSpace(content[e]) && content[e] != u';' &&
                   content[e] != u'"' && content[e] != u'\'')
                ++e;
            if (e == k) continue;
            encoding = content.substr(k, e - k);
            return true;
        }
    }
    return false;
}

} // namespace

CXmlDocument::CXmlDocument() {
    Clear();
}

void CXmlDocument::Clear() {
    text_.clear();
    elements_.clear();
    elements_.emplace_back(); // record 0: the document
    parent_ = current_ = child_ = 0;
    bom_ = BomNone;
    illFormed_ = false;
    wellFormed_ = false;
    log_.clear();
}

void CXmlDocument::Log(std::u16string_view entry,
                       std::initializer_list<std::pair<const char*, std::u16string>> attrs) {
    if (log_.size() >= kLogLimit) return;
    log_ += u'<';
    log_ += entry;
    for (const auto& [name, value] : attrs) {
        log_ += u' ';
        log_ += Ascii(name);
        log_ += u"=\"";
        for (char16_t c : value) {
            if (c == u'"')
                log_ += u"&quot;";
            else if (c == u'&')
                log_ += u"&amp;";
            else if (c == u'<')
                log_ += u"&lt;";
            else
                log_ += c;
        }
        log_ += u'"';
    }
    log_ += u"/>";
}

bool CXmlDocument::LoadFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        Clear();
        Log(u"file_error", {{"msg", Utf8ToUtf16(std::strerror(EISDIR))}});
        return false;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (in) {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) in.setstate(std::ios::failbit);
    }
    if (!in && !in.eof()) {
        const int error = errno;
        Clear();
        std::string message = std::strerror(error ? error : EIO);
        message = message.substr(0, message.find_first_of("\r\n"));
        Log(u"file_error", {{"msg", Utf8ToUtf16(message)}});
        DebugTrace("xml: cannot read %s: %s\n", path.c_str(), message.c_str());
        return false;
    }
    return LoadBytes(bytes);
}

bool CXmlDocument::LoadBytes(std::string_view bytes) {
    Clear();
    DecodeBytes(bytes);
    Parse();
    wellFormed_ = !illFormed_ && elements_.size() > 1 && elements_[1].nextSibling == 0;
    parent_ = current_ = child_ = 0;
    return wellFormed_;
}

bool CXmlDocument::DecodeBytes(std::string_view bytes) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const size_t headSize = std::min(bytes.size(), kHeadBytes);
    size_t offset = 0;
    if (headSize >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        bom_ = BomUtf8;
        offset = 3;
        Log(u"bom", {{"type", u"UTF-8"}});
    } else if (headSize >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        bom_ = BomUtf16Le;
        offset = 2;
        Log(u"bom", {{"type", u"UTF-16LE"}});
    } else if (headSize >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
        bom_ = BomUtf16Be;
        offset = 2;
        Log(u"bom", {{"type", u"UTF-16BE"}});
    }
    Log(u"read", {{"length", Number(static_cast<long long>(bytes.size()))}});

    if (bom_ == BomUtf16Le || bom_ == BomUtf16Be) {
        const bool bigEndian = bom_ == BomUtf16Be;
        long long nulls = 0;
        text_.reserve((bytes.size() - offset) / 2);
        for (size_t i = offset; i + 1 < bytes.size(); i += 2) {
            char16_t unit = bigEndian ? char16_t((byte(i) << 8) | byte(i + 1))
                                      : char16_t(byte(i) | (byte(i + 1) << 8));
            if (unit == 0) {
                ++nulls;
                continue;
            }
            text_.push_back(unit);
        }
        if (nulls) Log(u"nulls_removed", {{"count", Number(nulls)}});
        if (bigEndian) Log(u"endian_swap", {});
        return true;
    }

    std::string_view body = bytes.substr(offset);
    std::u16string encoding;
    bool haveEncoding = false;
    if (bom_ == BomUtf8) {
        encoding = u"UTF-8";
        haveEncoding = true;
    } else {
        std::u16string head;
        for (size_t i = 0; i < std::min(body.size(), kHeadBytes); ++i)
            if (body[i] != 0) head.push_back(static_cast<unsigned char>(body[i]));
        if (DeclaredEncoding(head, encoding)) {
            haveEncoding = true;
        } else if (!body.empty() && body[0] == '<') {
            encoding = u"UTF-8";
            haveEncoding = true;
        }
    }

    std::string eightBit;
    eightBit.reserve(body.size());
    long long nulls = 0;
    for (char c : body) {
        if (c == 0)
            ++nulls;
        else
            eightBit.push_back(c);
    }
    if (nulls) Log(u"nulls_removed", {{"count", Number(nulls)}});

    UINT codePage;
    if (haveEncoding) {
        codePage = CodePageOfCharset(encoding);
    } else {
        const bool utf8 = IsValidUtf8(eightBit, true);
        Log(u"utf8_detection", {{"type", utf8 ? u"UTF-8" : u"not UTF-8"}});
        codePage = utf8 ? CP_UTF8 : CP_ACP;
        encoding = utf8 ? u"UTF-8" : u"";
    }
    // Zero units are gone already, so a wide declaration over 8-bit data can
    // only mean ASCII-compatible text.
    if (codePage == CP_UTF16LE || codePage == CP_UTF16BE || codePage == 12000 || codePage == 12001)
        codePage = CP_UTF8;
    if (!MultiByteToUtf16(codePage, eightBit, text_))
        DebugTrace("xml: code page %u is not known to iconv\n", codePage);
    Log(u"converted_to", {{"encoding", encoding}, {"type", Number(codePage)}});
    return true;
}

int CXmlDocument::AddElement(int parent, int start, int tagLength, int level) {
    if (elements_.size() == elements_.capacity())
        elements_.reserve(elements_.capacity() + elements_.capacity() / 2 + 1);
    Element e;
    e.start = start;
    e.startTagLength = tagLength;
    e.length = tagLength;
    e.level = level;
    elements_.push_back(e);
    const int id = static_cast<int>(elements_.size()) - 1;
    AppendChild(parent, id);
    return id;
}

void CXmlDocument::AppendChild(int parent, int element) {
    Element& p = elements_[parent];
    Element& e = elements_[element];
    e.parent = parent;
    e.nextSibling = 0;
    if (p.firstChild == 0) {
        p.firstChild = element;
        e.prevSibling = element;
        e.flags |= FirstChild;
    } else {
        Element& first = elements_[p.firstChild];
        const int last = first.prevSibling;
        elements_[last].nextSibling = element;
        e.prevSibling = last;
        e.flags &= ~FirstChild;
        first.prevSibling = element;
    }
}

// Marks the open elements `run` (outermost first; each the last child of the
// one before) as unended and moves their children up, innermost first in
// effect: the children of each become its following siblings, so in the end
// all of them follow run[0] under its parent, in document order. Every
// element moves once, so damaged input costs linear time.
void CXmlDocument::UnendElements(const std::vector<int>& run) {
    if (run.empty()) return;
    illFormed_ = true;
    for (auto it = run.rbegin(); it != run.rend(); ++it) {
        Element& e = elements_[*it];
        e.flags |= Unended | IllFormed;
        e.endTagLength = 0;
        e.length = e.startTagLength;
        Log(u"unended_start_tag",
            {{"tagname", std::u16string(ElementName(*it))}, {"offset", Number(e.start)}});
    }
    std::vector<int> moved;
    for (int element : run) {
        for (int c = elements_[element].firstChild; c; c = elements_[c].nextSibling)
            moved.push_back(c);
        elements_[element].firstChild = 0;
    }
    const int parent = elements_[run.front()].parent;
    for (int c : moved)
        AppendChild(parent, c);
}

std::u16string_view CXmlDocument::ElementName(int element) const {
    if (element <= 0 || element >= static_cast<int>(elements_.size())) return {};
    const Element& e = elements_[element];
    std::u16string_view text(text_);
    return text.substr(e.start + 1, NameLength(text, e.start + 1));
}

void CXmlDocument::Parse() {
    const std::u16string_view text(text_);
    const size_t n = text.size();
    elements_.reserve(n / 64 + 8);
    std::vector<int> open; // element numbers of the open elements, innermost last
    auto syntaxError =
        [&](const char* name, size_t offset,
            std::initializer_list<std::pair<const char*, std::u16string>> extra = {}) {
            illFormed_ = true;
            std::u16string entry = Ascii(name);
            if (extra.size() == 0)
                Log(entry, {{"offset", Number(static_cast<long long>(offset))}});
            else
                Log(entry, extra);
        };
    auto unterminated = [&](const char* kind, size_t offset) {
        syntaxError("unterminated_tag_syntax", offset,
                    {{"type", Ascii(kind)}, {"offset", Number(static_cast<long long>(offset))}});
    };

    size_t pos = 0;
    while (pos < n) {
        const size_t lt = text.find(u'<', pos);
        if (lt == std::u16string_view::npos) break;
        if (lt + 1 >= n) {
            unterminated("tag", lt);
            break;
        }
        const char16_t c = text[lt + 1];
        if (c == u'/') {
            const size_t gt = text.find(u'>', lt + 2);
            if (gt == std::u16string_view::npos) {
                unterminated("end_tag", lt);
                break;
            }
            std::u16string_view name = text.substr(lt + 2, NameLength(text, lt + 2));
            int match = -1;
            for (int k = static_cast<int>(open.size()) - 1; k >= 0; --k) {
                if (ElementName(open[k]) == name) {
                    match = k;
                    break;
                }
            }
            if (match < 0) {
                illFormed_ = true;
                Log(u"lone_end_tag", {{"tagname", std::u16string(name)},
                                      {"offset", Number(static_cast<long long>(lt))}});
            } else {
                UnendElements(std::vector<int>(open.begin() + match + 1, open.end()));
                open.resize(match + 1);
                Element& e = elements_[open.back()];
                e.endTagLength = static_cast<int>(gt + 1 - lt);
                e.length = static_cast<int>(gt + 1) - e.start;
                open.pop_back();
            }
            pos = gt + 1;
        } else if (c == u'!') {
            if (lt + 2 >= n) {
                unterminated("tag", lt);
                break;
            }
            const char16_t d = text[lt + 2];
            if (d == u'-') {
                if (lt + 3 >= n || text[lt + 3] != u'-') {
                    syntaxError("comment_tag_syntax", lt);
                    pos = lt + 3;
                    continue;
                }
                const size_t end = text.find(u"-->", lt + 4);
                if (end == std::u16string_view::npos) {
                    unterminated("comment", lt);
                    break;
                }
                pos = end + 3;
            } else if (d == u'[') {
                if (lt + 3 >= n || text[lt + 3] != u'C') {
                    syntaxError("cdata_section_syntax", lt);
                    pos = lt + 3;
                    continue;
                }
                const size_t end = text.find(u"]]>", lt + 3);
                if (end == std::u16string_view::npos) {
                    unterminated("cdata_section", lt);
                    break;
                }
                pos = end + 3;
            } else if (d == u'D') {
                // Document type: quoted strings and an internal subset are skipped.
                size_t i = lt + 3;
                bool inSubset = false, done = false;
                while (i < n && !done) {
                    const char16_t e = text[i];
                    if (e == u'"' || e == u'\'') {
                        const size_t close = text.find(e, i + 1);
                        if (close == std::u16string_view::npos) {
                            i = n;
                            break;
                        }
                        i = close + 1;
                    } else if (e == u'[') {
                        inSubset = true;
                        ++i;
                    } else if (e == u']') {
                        inSubset = false;
                        ++i;
                    } else if (e == u'>' && !inSubset) {
                        done = true;
                        ++i;
                    } else if (inSubset && e == u'<' && i + 1 < n && text[i + 1] == u'!') {
                        const char16_t f = i + 2 < n ? text[i + 2] : 0;
                        if (f == u'-') {
                            const size_t end = text.find(u"-->", i + 2);
                            if (end == std::u16string_view::npos) {
                                i = n;
                                break;
                            }
                            i = end + 3;
                        } else if (f == u'E' || f == u'A' || f == u'N') {
                            // A declaration: up to its ">", quoted strings skipped.
                            size_t k = i + 2;
                            while (k < n && text[k] != u'>') {
                                if (text[k] == u'"' || text[k] == u'\'') {
                                    const size_t close = text.find(text[k], k + 1);
                                    k = close == std::u16string_view::npos ? n : close + 1;
                                } else {
                                    ++k;
                                }
                            }
                            i = k < n ? k + 1 : n;
                        } else {
                            syntaxError("doctype_tag_syntax", i);
                            i += 2;
                        }
                    } else if (inSubset && e == u'<' && i + 1 < n && text[i + 1] == u'?') {
                        const size_t end = text.find(u"?>", i + 2);
                        i = end == std::u16string_view::npos ? n : end + 2;
                    } else {
                        ++i;
                    }
                }
                if (!done) {
                    unterminated("document_type", lt);
                    break;
                }
                pos = i;
            } else {
                syntaxError("exclamation_tag_syntax", lt);
                pos = lt + 2;
            }
        } else if (c == u'?') {
            const size_t end = text.find(u"?>", lt + 2);
            if (end == std::u16string_view::npos) {
                unterminated("processing_instruction", lt);
                break;
            }
            pos = end + 2;
        } else if (IsNameStart(c)) {
            // Start tag: up to ">" outside quoted values; "/" before ">" makes
            // it empty unless it ends an unquoted value.
            size_t i = lt + 1 + NameLength(text, lt + 1);
            size_t gt = std::u16string_view::npos;
            size_t slashAt = std::u16string_view::npos;
            bool cut = false;
            while (i < n) {
                const char16_t e = text[i];
                if (e == u'>') {
                    gt = i;
                    break;
                }
                if (IsSpace(e)) {
                    ++i;
                } else if (e == u'/') {
                    slashAt = i++;
                } else if (e == u'=') {
                    ++i;
                    while (i < n && IsSpace(text[i]))
                        ++i;
                    if (i < n && (text[i] == u'"' || text[i] == u'\'')) {
                        const size_t close = text.find(text[i], i + 1);
                        if (close == std::u16string_view::npos) {
                            cut = true;
                            break;
                        }
                        i = close + 1;
                    } else {
                        while (i < n && !IsSpace(text[i]) && text[i] != u'>')
                            ++i;
                    }
                } else {
                    ++i;
                }
            }
            if (cut || gt == std::u16string_view::npos) {
                unterminated("start_tag", lt);
                break;
            }
            const bool empty = slashAt != std::u16string_view::npos && slashAt + 1 == gt;
            const int parent = open.empty() ? 0 : open.back();
            const int level = static_cast<int>(open.size());
            const int id =
                AddElement(parent, static_cast<int>(lt), static_cast<int>(gt + 1 - lt), level);
            if (!empty) open.push_back(id);
            pos = gt + 1;
        } else {
            syntaxError("first_tag_syntax", lt);
            pos = lt + 1;
        }
    }
    UnendElements(open);
    open.clear();
    // Nesting depths, now that unended elements have given up their children.
    // A parent always has a smaller number than its children.
    for (size_t i = 1; i < elements_.size(); ++i) {
        const int parent = elements_[i].parent;
        elements_[i].level = parent ? elements_[parent].level + 1 : 0;
    }
    if (elements_.size() <= 1) {
        Log(u"no_root_element", {});
    } else if (elements_[1].nextSibling != 0) {
        Log(u"root_has_sibling",
            {{"tagname", std::u16string(ElementName(elements_[1].nextSibling))},
             {"offset", Number(elements_[elements_[1].nextSibling].start)}});
    }
}

void CXmlDocument::RewindSiblings() {
    current_ = 0;
    child_ = 0;
}

int CXmlDocument::FindSibling(int from, std::u16string_view name) const {
    for (int e = from; e; e = elements_[e].nextSibling)
        if (name.empty() || ElementName(e) == name) return e;
    return 0;
}

bool CXmlDocument::NextElement(std::u16string_view name) {
    if (elements_.size() <= 1) return false;
    const int from = current_ ? elements_[current_].nextSibling : elements_[parent_].firstChild;
    const int found = FindSibling(from, name);
    if (!found) return false;
    current_ = found;
    child_ = 0;
    return true;
}

bool CXmlDocument::NextChild(std::u16string_view name) {
    if (!current_ && !NextElement()) return false;
    const int from = child_ ? elements_[child_].nextSibling : elements_[current_].firstChild;
    const int found = FindSibling(from, name);
    if (!found) return false;
    child_ = found;
    return true;
}

bool CXmlDocument::EnterElement() {
    if (!current_) return false;
    parent_ = current_;
    current_ = child_;
    child_ = 0;
    return true;
}

bool CXmlDocument::LeaveElement() {
    if (!parent_) return false;
    child_ = current_;
    current_ = parent_;
    parent_ = elements_[parent_].parent;
    return true;
}

std::u16string CXmlDocument::CurrentName() const {
    return std::u16string(ElementName(current_));
}
std::u16string CXmlDocument::ChildName() const {
    return std::u16string(ElementName(child_));
}

std::u16string CXmlDocument::AttributeValue(std::u16string_view name) const {
    if (!current_ || name.empty()) return {};
    const Element& e = elements_[current_];
    std::u16string_view tag = std::u16string_view(text_).substr(e.start, e.startTagLength);
    std::u16string_view value;
    if (!FindAttribute(tag, 1 + NameLength(tag, 1), name, false, value)) return {};
    return Unescape(value);
}

std::u16string CXmlDocument::Unescape(std::u16string_view value) {
    std::u16string out;
    out.reserve(value.size());
    size_t i = 0;
    while (i < value.size()) {
        if (value[i] != u'&') {
            out.push_back(value[i++]);
            continue;
        }
        const size_t semi = value.find(u';', i + 1);
        bool done = false;
        if (semi != std::u16string_view::npos) {
            std::u16string_view ref = value.substr(i + 1, semi - i - 1);
            char32_t code = 0;
            if (ref.size() >= 2 && ref[0] == u'#') {
                const bool hex = ref[1] == u'x' || ref[1] == u'X';
                std::u16string_view digits = ref.substr(hex ? 2 : 1);
                bool valid = !digits.empty() && digits.size() <= 8;
                unsigned long long v = 0;
                for (char16_t d : digits) {
                    int digit = -1;
                    if (d >= u'0' && d <= u'9')
                        digit = d - u'0';
                    else if (hex && d >= u'a' && d <= u'f')
                        digit = d - u'a' + 10;
                    else if (hex && d >= u'A' && d <= u'F')
                        digit = d - u'A' + 10;
                    if (digit < 0) {
                        valid = false;
                        break;
                    }
                    v = v * (hex ? 16 : 10) + digit;
                }
                if (valid && v > 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF))
                    code = static_cast<char32_t>(v);
            } else if (!ref.empty() && ref.size() <= 9) {
                code = LookUpHtmlEntity(ref);
            }
            if (code) {
                if (code > 0xFFFF) {
                    code -= 0x10000;
                    out.push_back(char16_t(0xD800 + (code >> 10)));
                    out.push_back(char16_t(0xDC00 + (code & 0x3FF)));
                } else {
                    out.push_back(char16_t(code));
                }
                i = semi + 1;
                done = true;
            }
        }
        if (!done) out.push_back(value[i++]);
    }
    return out;
}
