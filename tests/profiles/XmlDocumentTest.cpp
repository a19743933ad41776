#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win/TestFiles.h"
#include "platform/win/TextConvert.h"
#include "profiles/XmlDocument.h"

namespace {

std::string U8(std::u16string_view s) {
    return Utf16ToUtf8(s);
}

std::string Utf16Le(std::u16string_view s, bool bom) {
    std::string out = bom ? std::string("\xFF\xFE", 2) : std::string();
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string Utf16Be(std::u16string_view s, bool bom) {
    std::string out = bom ? std::string("\xFE\xFF", 2) : std::string();
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

// The value attribute of the root's first child element named `child`.
std::u16string ValueOf(CXmlDocument& doc, std::u16string_view child) {
    doc.RewindSiblings();
    if (!doc.NextChild(child)) return u"<missing>";
    doc.EnterElement();
    std::u16string v = doc.AttributeValue(u"value");
    doc.LeaveElement();
    return v;
}

const std::u16string kSample = u"<r><a value=\"caf\u00e9 \u20ac \u4e2d\u6587\"/></r>";

struct EncodingCase {
    const char* name;
    std::string bytes;
    unsigned bom;
    const char* logEntry; // must appear in the log ("" for none)
    std::u16string expectedValue;
};

class XmlEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(XmlEncoding, DecodesToTheSameText) {
    const EncodingCase& c = GetParam();
    CXmlDocument doc;
    EXPECT_TRUE(doc.LoadBytes(c.bytes)) << U8(doc.ResultLog());
    EXPECT_EQ(doc.Bom(), c.bom);
    EXPECT_EQ(U8(ValueOf(doc, u"a")), U8(c.expectedValue));
    if (*c.logEntry) {
        EXPECT_NE(doc.ResultLog().find(Utf8ToUtf16(c.logEntry)), std::u16string::npos)
            << U8(doc.ResultLog());
    }
}

const std::u16string kExpected = u"caf\u00e9 \u20ac \u4e2d\u6587";

INSTANTIATE_TEST_SUITE_P(
    Encodings, XmlEncoding,
    ::testing::Values(
        EncodingCase{"utf8_plain", Utf16ToUtf8(kSample), CXmlDocument::BomNone, "converted_to",
                     kExpected},
        EncodingCase{"utf8_bom", "\xEF\xBB\xBF" + Utf16ToUtf8(kSample), CXmlDocument::BomUtf8,
                     "<bom type=\"UTF-8\"", kExpected},
        EncodingCase{"utf16le_bom", Utf16Le(kSample, true), CXmlDocument::BomUtf16Le,
                     "<bom type=\"UTF-16LE\"", kExpected},
        EncodingCase{"utf16be_bom", Utf16Be(kSample, true), CXmlDocument::BomUtf16Be,
                     "<endian_swap", kExpected},
        // A declaration naming windows-1252: 0x80 is the euro sign, 0xE9 e-acute.
        EncodingCase{
            "declared_1252",
            "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><a value=\"caf\xE9 \x80\"/></r>",
            CXmlDocument::BomNone, "type=\"1252\"", u"caf\u00e9 \u20ac"},
        EncodingCase{"declared_latin1_caps",
                     "<?xml version='1.0' encoding='ISO-8859-1'?><r><a value='\xE9\xFC'/></r>",
                     CXmlDocument::BomNone, "type=\"28591\"", u"\u00e9\u00fc"},
        EncodingCase{
            "declared_koi8r",
            "<?xml version=\"1.0\" encoding=\"koi8-r\"?><r><a value=\"\xF0\xD2\xC9\"/></r>",
            CXmlDocument::BomNone, "type=\"20866\"", u"\u041f\u0440\u0438"},
        EncodingCase{
            "declared_shift_jis",
            "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r><a value=\"\x93\xFA\x96\x7B\"/></r>",
            CXmlDocument::BomNone, "type=\"932\"", u"\u65e5\u672c"},
        EncodingCase{
            "declared_gb2312",
            "<?xml version=\"1.0\" encoding=\"gb2312\"?><r><a value=\"\xD6\xD0\xCE\xC4\"/></r>",
            CXmlDocument::BomNone, "type=\"936\"", u"\u4e2d\u6587"},
        EncodingCase{"html_meta_1251",
                     "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                     "charset=windows-1251\"/></head><body><a value=\"\xCF\xF0\"/></body></html>",
                     CXmlDocument::BomNone, "type=\"1251\"", u"<missing>"},
        // Without mark or declaration, not starting with "<": UTF-8 detection.
        EncodingCase{"detect_utf8", "  " + Utf16ToUtf8(kSample), CXmlDocument::BomNone,
                     "<utf8_detection type=\"UTF-8\"", kExpected},
        EncodingCase{"detect_not_utf8", " <r><a value=\"caf\xE9\"/></r>", CXmlDocument::BomNone,
                     "<utf8_detection type=\"not UTF-8\"", u"caf\u00e9"},
        // UTF-16LE without a mark starts with "<": read as 8-bit, zero bytes removed.
        EncodingCase{"utf16le_no_bom", Utf16Le(u"<r><a value=\"ab\"/></r>", false),
                     CXmlDocument::BomNone, "<nulls_removed count=\"", u"ab"}),
    [](const ::testing::TestParamInfo<EncodingCase>& info) { return info.param.name; });

TEST(XmlEncodingDetail, HtmlMetaCharsetIsUsed) {
    CXmlDocument doc;
    const std::string html = "<html><head><meta http-equiv=\"content-type\" content=\"text/html; "
                             "charset=windows-1251\"/><title>\xCF\xF0</title></head></html>";
    EXPECT_TRUE(doc.LoadBytes(html)) << U8(doc.ResultLog());
    EXPECT_NE(doc.Text().find(u"\u041f\u0440"), std::u16string::npos);
}

TEST(XmlEncodingDetail, FirstByteLessThanIsUtf8WithoutTesting) {
    CXmlDocument doc;
    EXPECT_TRUE(doc.LoadBytes("<r a=\"x\"/>"));
    EXPECT_EQ(doc.ResultLog().find(u"utf8_detection"), std::u16string::npos);
}

TEST(XmlEncodingDetail, UnknownDeclaredEncodingUsesTheDefault) {
    CXmlDocument doc;
    EXPECT_TRUE(
        doc.LoadBytes("<?xml version=\"1.0\" encoding=\"x-nonsense\"?><r a=\"\xC3\xA9\"/>"));
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextElement());
    EXPECT_EQ(doc.AttributeValue(u"a"), u"\u00e9");
}

TEST(XmlEncodingDetail, Utf16BeAndLeAndUtf8GiveTheSameText) {
    CXmlDocument a, b, c;
    a.LoadBytes(Utf16Le(kSample, true));
    b.LoadBytes(Utf16Be(kSample, true));
    c.LoadBytes("\xEF\xBB\xBF" + Utf16ToUtf8(kSample));
    EXPECT_EQ(a.Text(), kSample);
    EXPECT_EQ(b.Text(), kSample);
    EXPECT_EQ(c.Text(), kSample);
}

TEST(XmlEncodingDetail, NullsAreRemovedAndCounted) {
    CXmlDocument doc;
    EXPECT_TRUE(doc.LoadBytes(std::string("<r a=\"x\0y\"/>\0\0", 14)));
    EXPECT_NE(doc.ResultLog().find(u"<nulls_removed count=\"3\""), std::u16string::npos);
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextElement());
    EXPECT_EQ(doc.AttributeValue(u"a"), u"xy");
}

TEST(XmlFile, MissingFileLogsFileError) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadFile("/nonexistent/dvdconv/none.xml"));
    EXPECT_NE(doc.ResultLog().find(u"<file_error msg=\"No such file or directory\""),
              std::u16string::npos)
        << U8(doc.ResultLog());
    EXPECT_EQ(doc.ElementCount(), 0);
}

TEST(XmlFile, LoadsFromDisk) {
    TempFolder dir;
    auto file = dir.Write("a.xml", Utf16Le(kSample, true));
    CXmlDocument doc;
    EXPECT_TRUE(doc.LoadFile(file));
    EXPECT_EQ(ValueOf(doc, u"a"), kExpected);
}

TEST(XmlFile, FolderIsAFileError) {
    TempFolder dir;
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadFile(dir.path()));
    EXPECT_NE(doc.ResultLog().find(u"file_error"), std::u16string::npos);
}

// ---- well-formedness ----

struct FormCase {
    const char* name;
    const char* text;
    bool wellFormed;
    const char* logEntry;
    int elements;
};

class XmlForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(XmlForm, VerdictAndLog) {
    const FormCase& c = GetParam();
    CXmlDocument doc;
    EXPECT_EQ(doc.LoadBytes(c.text), c.wellFormed) << U8(doc.ResultLog());
    EXPECT_EQ(doc.IsWellFormed(), c.wellFormed);
    if (*c.logEntry) {
        EXPECT_NE(doc.ResultLog().find(Utf8ToUtf16(c.logEntry)), std::u16string::npos)
            << U8(doc.ResultLog());
    }
    EXPECT_EQ(doc.ElementCount(), c.elements);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlForm,
    ::testing::Values(
        FormCase{"simple", "<a><b/><c></c></a>", true, "", 3},
        FormCase{"text_around_root", "hello <a/> bye", true, "", 1},
        FormCase{"prolog_comment_pi_doctype",
                 "<?xml version=\"1.0\"?><!-- c --><!DOCTYPE a [<!ENTITY x \"y>\"><!-- z --> "
                 "]><a><![CDATA[<b>]]></a>",
                 true, "", 1},
        FormCase{"two_roots", "<a/><b/>", false, "<root_has_sibling tagname=\"b\"", 2},
        FormCase{"empty", "", false, "<no_root_element", 0},
        FormCase{"only_text", "just text", false, "<no_root_element", 0},
        FormCase{"unended_inner", "<a><b><c/></a>", false, "<unended_start_tag tagname=\"b\"", 3},
        FormCase{"unended_root", "<a><b/>", false, "<unended_start_tag tagname=\"a\"", 2},
        FormCase{"lone_end", "<a></x></a>", false, "<lone_end_tag tagname=\"x\" offset=\"3\"", 1},
        FormCase{"first_tag_syntax", "<a>< b</a>", false, "<first_tag_syntax", 1},
        FormCase{"exclamation", "<a><!x></a>", false, "<exclamation_tag_syntax", 1},
        FormCase{"comment_syntax", "<a><!-x></a>", false, "<comment_tag_syntax", 1},
        FormCase{"cdata_syntax", "<a><![x></a>", false, "<cdata_section_syntax", 1},
        FormCase{"doctype_syntax", "<!DOCTYPE a [<!Q>]><a/>", false, "<doctype_tag_syntax", 1},
        FormCase{"unterminated_start", "<a><b x=\"1\"", false,
                 "<unterminated_tag_syntax type=\"start_tag\"", 1},
        FormCase{"unterminated_quote", "<a><b x=\">\"", false,
                 "<unterminated_tag_syntax type=\"start_tag\"", 1},
        FormCase{"unterminated_end", "<a></a", false, "<unterminated_tag_syntax type=\"end_tag\"",
                 1},
        FormCase{"unterminated_comment", "<a/><!-- x", false,
                 "<unterminated_tag_syntax type=\"comment\"", 1},
        FormCase{"unterminated_cdata", "<a><![CDATA[ x", false,
                 "<unterminated_tag_syntax type=\"cdata_section\"", 1},
        FormCase{"unterminated_pi", "<a/><?pi x", false,
                 "<unterminated_tag_syntax type=\"processing_instruction\"", 1},
        FormCase{"unterminated_doctype", "<!DOCTYPE a [ <a/>", false,
                 "<unterminated_tag_syntax type=\"document_type\"", 0},
        FormCase{"unterminated_tag", "<a/><", false, "<unterminated_tag_syntax type=\"tag\"", 1},
        FormCase{"gt_inside_quotes", "<a x=\"1>2\" y='3/'><b/></a>", true, "", 2},
        FormCase{"unquoted_slash_value", "<a><b x=c/></b></a>", true, "", 2},
        FormCase{"non_ascii_names", "<\u00e9t\u00e9><\u4e2d/></\u00e9t\u00e9>", true, "", 2}),
    [](const ::testing::TestParamInfo<FormCase>& info) { return info.param.name; });

TEST(XmlForm, UnendedChildrenMoveUp) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadBytes("<r><a><b/><c/></r>"));
    // a is unended: b and c become its following siblings under r.
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextChild(u"c"));
    EXPECT_FALSE(doc.NextChild());
    EXPECT_EQ(doc.ChildName(), u"c");
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextChild(u"a"));
    ASSERT_TRUE(doc.NextChild(u"b"));
    ASSERT_TRUE(doc.NextChild(u"c"));
    EXPECT_FALSE(doc.NextChild(u"b"));
}

TEST(XmlForm, NestedUnendedElementsFlattenInOrder) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadBytes("<r><a><p/><b><x/><y/></r>"));
    EXPECT_NE(doc.ResultLog().find(u"<unended_start_tag tagname=\"b\""), std::u16string::npos);
    EXPECT_NE(doc.ResultLog().find(u"<unended_start_tag tagname=\"a\""), std::u16string::npos);
    doc.RewindSiblings();
    std::u16string order;
    while (doc.NextChild())
        order += doc.ChildName();
    EXPECT_EQ(order, u"apbxy");
    // All of them now stand at level 1 under the root.
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextChild(u"y"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.CurrentLevel(), 1);
}

TEST(XmlForm, DeepUnclosedNestingIsFast) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "<a>";
    for (int i = 0; i < 1000; ++i)
        text += "<z/>";
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadBytes(text)); // completes quickly (linear), verdict false
    EXPECT_EQ(doc.ElementCount(), 101000);
}

TEST(XmlForm, LevelsFollowNesting) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes("<r><a><b/></a></r>"));
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextElement());
    EXPECT_EQ(doc.CurrentLevel(), 0);
    ASSERT_TRUE(doc.NextChild(u"a"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.CurrentLevel(), 1);
    ASSERT_TRUE(doc.NextChild(u"b"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.CurrentLevel(), 2);
}

TEST(XmlForm, LogStopsGrowingAfterLimit) {
    std::string text = "<a>";
    for (int i = 0; i < 500; ++i)
        text += "</nope>";
    text += "</a>";
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadBytes(text));
    EXPECT_LT(doc.ResultLog().size(), 1200u);
}

TEST(XmlForm, ManyElementsGrowTheIndex) {
    std::string text = "<r>";
    for (int i = 0; i < 5000; ++i)
        text += "<e/>";
    text += "</r>";
    CXmlDocument doc;
    EXPECT_TRUE(doc.LoadBytes(text));
    EXPECT_EQ(doc.ElementCount(), 5001);
}

// ---- navigation ----

const char* kNav = "<root><P><A value=\"a1\"/><B value=\"b1\"/><C value=\"c1\"/></P>"
                   "<X/><P><B value=\"b2\"/></P><P/></root>";

TEST(XmlCursor, WalksProfilesLikeTheCatalogue) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes(kNav));
    doc.RewindSiblings();
    std::vector<std::string> seen;
    while (doc.NextChild(u"P")) {
        ASSERT_TRUE(doc.EnterElement());
        std::string row;
        for (const char16_t* name : {u"A", u"B", u"C"}) {
            if (doc.NextChild(name)) {
                doc.EnterElement();
                row += U8(doc.AttributeValue(u"value"));
                doc.LeaveElement();
            }
            row += ";";
        }
        seen.push_back(row);
        ASSERT_TRUE(doc.LeaveElement());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a1;b1;c1;", ";b2;;", ";;;"}));
}

TEST(XmlCursor, FailedSearchKeepsTheCursor) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes(kNav));
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextChild(u"P"));
    doc.EnterElement();
    ASSERT_TRUE(doc.NextChild(u"B"));
    EXPECT_FALSE(doc.NextChild(u"A")); // A stands before B: not found
    EXPECT_EQ(doc.ChildName(), u"B");  // unchanged
    EXPECT_TRUE(doc.NextChild(u"C"));  // still searches after B
}

TEST(XmlCursor, OutOfOrderElementIsNotFound) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes("<r><H/><W/><F/></r>"));
    doc.RewindSiblings();
    EXPECT_TRUE(doc.NextChild(u"W"));
    EXPECT_FALSE(doc.NextChild(u"H"));
    EXPECT_TRUE(doc.NextChild(u"F"));
}

TEST(XmlCursor, NextElementAndTopLevel) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.NextElement()); // empty document
    EXPECT_FALSE(doc.LeaveElement());
    EXPECT_FALSE(doc.EnterElement());
    EXPECT_EQ(doc.AttributeValue(u"value"), u"");
    ASSERT_TRUE(doc.LoadBytes(kNav));
    EXPECT_FALSE(doc.LeaveElement()); // top level
    EXPECT_FALSE(doc.NextElement(u"P"));
    EXPECT_TRUE(doc.NextElement(u"root"));
    EXPECT_EQ(doc.CurrentName(), u"root");
    EXPECT_FALSE(doc.NextElement()); // the root has no sibling
    EXPECT_EQ(doc.CurrentName(), u"root");
    ASSERT_TRUE(doc.NextChild(u"X"));
    ASSERT_TRUE(doc.EnterElement());
    EXPECT_EQ(doc.CurrentName(), u"X");
    EXPECT_TRUE(doc.NextElement(u"P")); // sibling after X
    EXPECT_TRUE(doc.NextElement(u"P"));
    EXPECT_FALSE(doc.NextElement(u"P"));
    doc.RewindSiblings();
    EXPECT_TRUE(doc.NextElement(u"P")); // from the first child again
    ASSERT_TRUE(doc.NextChild(u"A"));
    ASSERT_TRUE(doc.LeaveElement());
    EXPECT_EQ(doc.CurrentName(), u"root");
    EXPECT_EQ(doc.ChildName(), u"P");
}

TEST(XmlCursor, NamesAreCaseSensitive) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes("<r><Profile value=\"1\"/></r>"));
    doc.RewindSiblings();
    EXPECT_FALSE(doc.NextChild(u"profile"));
    EXPECT_TRUE(doc.NextChild(u"Profile"));
}

// ---- attributes ----

struct AttributeCase {
    const char* name;
    const char* tag;
    std::u16string attribute;
    std::u16string expected;
};

class XmlAttribute : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(XmlAttribute, Value) {
    const AttributeCase& c = GetParam();
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadBytes(c.tag)) << U8(doc.ResultLog());
    doc.RewindSiblings();
    ASSERT_TRUE(doc.NextElement());
    EXPECT_EQ(U8(doc.AttributeValue(c.attribute)), U8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, XmlAttribute,
    ::testing::Values(
        AttributeCase{"double_quoted", "<a value=\"x y\"/>", u"value", u"x y"},
        AttributeCase{"single_quoted", "<a value='say \"hi\"'/>", u"value", u"say \"hi\""},
        AttributeCase{"unquoted", "<a value=abc/def other=1></a>", u"value", u"abc/def"},
        AttributeCase{"spaces_around_equals", "<a value = \"v\" />", u"value", u"v"},
        AttributeCase{"second", "<a one=\"1\" two=\"2\"/>", u"two", u"2"},
        AttributeCase{"first_match_wins", "<a v=\"1\" v=\"2\"/>", u"v", u"1"},
        AttributeCase{"prefix_does_not_match", "<a value=\"x\"/>", u"val", u""},
        AttributeCase{"longer_does_not_match", "<a val=\"x\"/>", u"value", u""},
        AttributeCase{"case_sensitive", "<a Value=\"x\"/>", u"value", u""},
        AttributeCase{"no_value", "<a checked value=\"x\"/>", u"checked", u""},
        AttributeCase{"after_valueless", "<a checked value=\"x\"/>", u"value", u"x"},
        AttributeCase{"missing", "<a/>", u"value", u""},
        AttributeCase{"amp", "<a v=\"a &amp; b\"/>", u"v", u"a & b"},
        AttributeCase{"lt_gt_quot_apos", "<a v=\"&lt;&gt;&quot;&apos;\"/>", u"v", u"<>\"'"},
        AttributeCase{"decimal", "<a v=\"&#65;\"/>", u"v", u"A"},
        AttributeCase{"hex", "<a v=\"&#x263A;\"/>", u"v", u"\u263a"},
        AttributeCase{"hex_upper_x", "<a v=\"&#X263a;\"/>", u"v", u"\u263a"},
        AttributeCase{"astral", "<a v=\"&#x1F600;\"/>", u"v", u"\U0001F600"},
        AttributeCase{"zero_stays", "<a v=\"&#0;\"/>", u"v", u"&#0;"},
        AttributeCase{"too_big_stays", "<a v=\"&#x110000;\"/>", u"v", u"&#x110000;"},
        AttributeCase{"bad_digits_stay", "<a v=\"&#12a;\"/>", u"v", u"&#12a;"},
        AttributeCase{"unknown_entity_stays", "<a v=\"&bogus;\"/>", u"v", u"&bogus;"},
        AttributeCase{"no_semicolon_stays", "<a v=\"AT&T rocks\"/>", u"v", u"AT&T rocks"},
        AttributeCase{"html_entities", "<a v=\"&nbsp;&copy;&eacute;&Eacute;&euro;&hearts;\"/>",
                      u"v", u"\u00a0\u00a9\u00e9\u00c9\u20ac\u2665"},
        AttributeCase{"entity_case_folded", "<a v=\"&COPY;&AMP;\"/>", u"v", u"\u00a9&"},
        AttributeCase{"entity_name_too_long", "<a v=\"&thetasymxx;\"/>", u"v", u"&thetasymxx;"},
        AttributeCase{"empty_value", "<a v=\"\"/>", u"v", u""}),
    [](const ::testing::TestParamInfo<AttributeCase>& info) { return info.param.name; });

TEST(XmlAttribute, NonAsciiEntityNameStays) {
    EXPECT_EQ(CXmlDocument::Unescape(u"&\u00e9;"), u"&\u00e9;");
}

} // namespace
