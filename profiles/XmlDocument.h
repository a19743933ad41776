// CXmlDocument: one XML text in memory with an index of its
// elements, a cursor to walk them and attribute lookup. Read-only: loads a
// file in any of the encodings a hand-edited data file may have (byte-order
// marks, XML declaration, HTML meta charset, UTF-8 detection, the code page
// table through iconv), parses tolerantly, and gives a strict well-formedness
// verdict with a result log for diagnosis.
//
// A document is used by one thread at a time; it holds no file open.
// Names given to the search functions are matched exactly (case-sensitive).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

class CXmlDocument {
public:
    enum BomKind { BomNone = 0, BomUtf8 = 1, BomUtf16Le = 2, BomUtf16Be = 4 };

    CXmlDocument();

    // Reads the file and builds the index. Returns true when the file was
    // read and the document is well formed; the index is built either way.
    // Afterwards the cursor is at the top level with nothing current.
    bool LoadFile(const std::filesystem::path& path);
    // The same on bytes already in memory (as they would be in a file).
    bool LoadBytes(std::string_view bytes);

    // Cursor navigation. The cursor holds a parent, a current element and a
    // child (each possibly none).
    //  RewindSiblings: keep the parent, clear current and child, so the next
    //    search starts at the parent's first child.
    //  NextElement(name): the next element under the parent after the current
    //    one (or the first) whose name matches (empty name: any) becomes
    //    current; the child is cleared. False, cursor unchanged, when none.
    //  NextChild(name): with nothing current, first NextElement() (which makes
    //    the root current at the top level); then the next child of the current
    //    element after the cursor's child (or the first) whose name matches
    //    becomes the child. False, child unchanged, when none.
    //  EnterElement: the current element becomes the parent, the child becomes
    //    current. False when nothing is current.
    //  LeaveElement: the parent becomes current, the old current element the
    //    child (so NextChild continues after it). False at the top level.
    void RewindSiblings();
    bool NextElement(std::u16string_view name = {});
    bool NextChild(std::u16string_view name = {});
    bool EnterElement();
    bool LeaveElement();
    // The unescaped value of an attribute of the current element; empty when
    // there is no current element, no such attribute or no value.
    std::u16string AttributeValue(std::u16string_view name) const;

    // Diagnosis and tests.
    const std::u16string& Text() const { return text_; }
    const std::u16string& ResultLog() const { return log_; }
    unsigned Bom() const { return bom_; }
    bool IsWellFormed() const { return wellFormed_; }
    // Number of elements (without record 0, the document).
    int ElementCount() const { return static_cast<int>(elements_.size()) - 1; }
    // Nesting depth of the current element (the root is 0; -1 when none).
    int CurrentLevel() const { return current_ ? elements_[current_].level : -1; }
    // Name of the current element (empty when none) and of the cursor's child.
    std::u16string CurrentName() const;
    std::u16string ChildName() const;

    // Unescapes an attribute value: numeric references and HTML 4 entities.
    static std::u16string Unescape(std::u16string_view value);

private:
    struct Element {
        std::int32_t start = 0;
        std::int32_t length = 0;
        std::int32_t startTagLength = 0;
        std::int32_t endTagLength = 0;
        std::int32_t level = 0;
        std::int32_t parent = 0;
        std::int32_t firstChild = 0;
        std::int32_t nextSibling = 0;
        std::int32_t prevSibling = 0;
        std::uint32_t flags = 0;
    };
    enum ElementFlags : std::uint32_t { FirstChild = 1, Unended = 2, IllFormed = 4 };

    void Clear();
    bool DecodeBytes(std::string_view bytes);
    void Parse();
    int AddElement(int parent, int start, int tagLength, int level);
    void AppendChild(int parent, int element);
    void UnendElements(const std::vector<int>& run);
    std::u16string_view ElementName(int element) const;
    int FindSibling(int from, std::u16string_view name) const;
    void Log(std::u16string_view entry,
             std::initializer_list<std::pair<const char*, std::u16string>> attrs);

    std::u16string text_;
    std::vector<Element> elements_;
    int parent_ = 0, current_ = 0, child_ = 0;
    unsigned bom_ = BomNone;
    bool illFormed_ = false;
    bool wellFormed_ = false;
    std::u16string log_;
};
