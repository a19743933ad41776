#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/win/TestFiles.h"
#include "platform/win/TextConvert.h"
#include "profiles/ChoiceList.h"
#include "profiles/ProfileCatalogue.h"
#include "profiles/SetXml.h"

namespace {

std::string U8(std::u16string_view s) {
    return Utf16ToUtf8(s);
}

const char* kFullProfile = R"(
  <Profile>
    <ProfileName value="Full &amp; fine"/>
    <FormatExt value=".mp4"/>
    <VideoCodecName value="libx264"/>
    <Width value="720"/>
    <Height value="480"/>
    <FrameRate value="29970"/>
    <VideoBitRate value="2000000"/>
    <AudioCodecName value="aac"/>
    <SampleRate value="48000"/>
    <AudioBitRate value="128000"/>
    <Channel value="2"/>
    <Resolutions value="640*480,720*480"/>
    <FrameRates value="25000$25,29970$29.97"/>
    <VideoCodecs value="libx264$H.264"/>
    <VideoBitRates value="2000000$2 Mbps"/>
    <SampleRates value="48000$48 kHz"/>
    <Channels value="1$Mono,2$Stereo"/>
    <AudioCodecs value="aac$AAC"/>
    <AudioBitRates value="128000$128 kbps"/>
  </Profile>)";

std::string Catalogue(const std::string& profiles) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Formats>" + profiles + "</Formats>\n";
}

class CatalogueFile : public ::testing::Test {
protected:
    bool Load(const std::string& text) { return catalogue.Load(dir.Write("Format.xml", text)); }
    OutputProfile Get(int index) {
        OutputProfile p = EmptyProfile();
        EXPECT_TRUE(catalogue.FindByIndex(index, p)) << index;
        return p;
    }
    TempFolder dir;
    ProfileCatalogue catalogue;
};

TEST_F(CatalogueFile, ReadsEveryField) {
    ASSERT_TRUE(Load(Catalogue(kFullProfile)));
    ASSERT_EQ(catalogue.Count(), 1);
    OutputProfile p = Get(0);
    EXPECT_EQ(p.Index, 0);
    EXPECT_EQ(U8(TextOf(p.ProfileName)), "Full & fine");
    EXPECT_EQ(U8(TextOf(p.FormatExt)), ".mp4");
    const EncodeParams& e = p.EncodeParams;
    EXPECT_EQ(e.HasVideo, 1);
    EXPECT_EQ(e.HasAudio, 1);
    EXPECT_EQ(TextOf(e.VideoCodecName), "libx264");
    EXPECT_EQ(e.Width, 720);
    EXPECT_EQ(e.Height, 480);
    EXPECT_EQ(e.FrameRate, 29970);
    EXPECT_EQ(e.VideoBitRate, 2000000);
    EXPECT_EQ(TextOf(e.AudioCodecName), "aac");
    EXPECT_EQ(e.SampleRate, 48000);
    EXPECT_EQ(e.AudioBitRate, 128000);
    EXPECT_EQ(e.Channel, 2);
    EXPECT_EQ(U8(TextOf(p.Resolutions)), "640*480,720*480");
    EXPECT_EQ(U8(TextOf(p.FrameRates)), "25000$25,29970$29.97");
    EXPECT_EQ(U8(TextOf(p.VideoCodecs)), "libx264$H.264");
    EXPECT_EQ(U8(TextOf(p.VideoBitRates)), "2000000$2 Mbps");
    EXPECT_EQ(U8(TextOf(p.SampleRates)), "48000$48 kHz");
    EXPECT_EQ(U8(TextOf(p.Channels)), "1$Mono,2$Stereo");
    EXPECT_EQ(U8(TextOf(p.AudioCodecs)), "aac$AAC");
    EXPECT_EQ(U8(TextOf(p.AudioBitRates)), "128000$128 kbps");
}

TEST_F(CatalogueFile, IndexesFollowFileOrderAndSkipOtherElements) {
    ASSERT_TRUE(Load(Catalogue("<Profile><ProfileName value=\"zero\"/></Profile><Other/>"
                               "<Profile><ProfileName value=\"one\"/></Profile>"
                               "<Profile><ProfileName value=\"two\"/></Profile>")));
    ASSERT_EQ(catalogue.Count(), 3);
    const char* names[] = {"zero", "one", "two"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(U8(TextOf(Get(i).ProfileName)), names[i]);
    // The walk sees the same order.
    catalogue.Lock();
    int i = 0;
    for (auto* node = catalogue.First(); node; node = catalogue.Next(node), ++i) {
        EXPECT_EQ(node->profile.Index, i);
        OutputProfile inner = EmptyProfile(); // the lock is recursive
        EXPECT_TRUE(catalogue.FindByIndex(i, inner));
    }
    catalogue.Unlock();
    EXPECT_EQ(i, 3);
}

TEST_F(CatalogueFile, EmptyProfileHasNoStreams) {
    ASSERT_TRUE(Load(Catalogue("<Profile/>")));
    OutputProfile p = Get(0);
    OutputProfile expected = EmptyProfile();
    expected.Index = 0;
    EXPECT_EQ(std::memcmp(&p, &expected, sizeof p), 0);
    EXPECT_EQ(p.EncodeParams.HasVideo, 0);
    EXPECT_EQ(p.EncodeParams.HasAudio, 0);
}

TEST_F(CatalogueFile, HeightBeforeWidthIsMissing) {
    std::string text = kFullProfile;
    // Move Height before Width.
    text.replace(text.find("<Height value=\"480\"/>"), 21, "");
    text.replace(text.find("<Width"), 0, "<Height value=\"480\"/>");
    ASSERT_TRUE(Load(Catalogue(text)));
    const EncodeParams e = Get(0).EncodeParams;
    EXPECT_EQ(e.Width, 720);
    EXPECT_EQ(e.Height, 0);
    EXPECT_EQ(e.HasVideo, 0);
    EXPECT_EQ(e.FrameRate, 29970); // later fields are still read
    EXPECT_EQ(e.HasAudio, 1);
}

TEST_F(CatalogueFile, EmptyCodecNameClearsTheFlagOnly) {
    std::string text = kFullProfile;
    text.replace(text.find("value=\"libx264\""), 15, "value=\"\"");
    ASSERT_TRUE(Load(Catalogue(text)));
    OutputProfile p = Get(0);
    EXPECT_EQ(p.EncodeParams.HasVideo, 0);
    EXPECT_EQ(p.EncodeParams.Width, 720);
    EXPECT_EQ(p.EncodeParams.Height, 480);
    EXPECT_EQ(U8(TextOf(p.Resolutions)), "640*480,720*480");
    EXPECT_EQ(TextOf(p.EncodeParams.VideoCodecName), "");
}

TEST_F(CatalogueFile, MissingAudioListClearsHasAudio) {
    std::string text = kFullProfile;
    text.replace(text.find("<AudioBitRates"),
                 std::string("<AudioBitRates value=\"128000$128 kbps\"/>").size(), "");
    ASSERT_TRUE(Load(Catalogue(text)));
    EXPECT_EQ(Get(0).EncodeParams.HasAudio, 0);
    EXPECT_EQ(Get(0).EncodeParams.HasVideo, 1);
}

struct NumberCase {
    const char* text;
    int expected;
};
class CatalogueNumbers : public CatalogueFile, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(CatalogueNumbers, DecimalReading) {
    std::string text = kFullProfile;
    text.replace(text.find("value=\"720\""), 11, std::string("value=\"") + GetParam().text + "\"");
    ASSERT_TRUE(Load(Catalogue(text)));
    EXPECT_EQ(Get(0).EncodeParams.Width, GetParam().expected);
    EXPECT_EQ(Get(0).EncodeParams.HasVideo, 1); // a present element never clears the flag
}

INSTANTIATE_TEST_SUITE_P(Values, CatalogueNumbers,
                         ::testing::Values(NumberCase{"640", 640}, NumberCase{"  640", 640},
                                           NumberCase{"+640", 640}, NumberCase{"-5", -5},
                                           NumberCase{"640px", 640}, NumberCase{"abc", 0},
                                           NumberCase{"", 0}, NumberCase{"99999999999", 2147483647},
                                           NumberCase{"-99999999999", -2147483647 - 1}));

TEST_F(CatalogueFile, OverlongFieldsAreCut) {
    const std::string longName(400, 'N');
    const std::string longExt = ".abcdefghijk";
    const std::string longCodec = "averyveryverylongcodecname";
    std::string text = "<Profile><ProfileName value=\"" + longName + "\"/><FormatExt value=\"" +
                       longExt + "\"/><VideoCodecName value=\"" + longCodec +
                       "\"/><Resolutions value=\"" + std::string(1000, 'r') + "\"/></Profile>";
    ASSERT_TRUE(Load(Catalogue(text)));
    OutputProfile p = Get(0);
    EXPECT_EQ(TextOf(p.ProfileName).size(), 159u);
    EXPECT_EQ(p.ProfileName[159], 0);
    EXPECT_EQ(U8(TextOf(p.FormatExt)), ".abcdef");
    EXPECT_EQ(TextOf(p.EncodeParams.VideoCodecName), "averyveryverylo");
    EXPECT_EQ(TextOf(p.Resolutions).size(), 127u);
    // The field after the cut one is intact.
    EXPECT_EQ(U8(TextOf(p.FrameRates)), "");
}

TEST(OutputProfileFields, CutNeverSplitsCharacters) {
    OutputProfile p = EmptyProfile();
    // 6 ASCII + a surrogate pair: the pair does not fit in 7 units.
    SetText(p.FormatExt, u"abcdef\U0001F600");
    EXPECT_EQ(TextOf(p.FormatExt), u"abcdef");
    // 14 ASCII + a 2-byte UTF-8 character: cut before it.
    SetName(p.EncodeParams.AudioCodecName, "abcdefghijklmn\xC3\xA9");
    EXPECT_EQ(TextOf(p.EncodeParams.AudioCodecName), "abcdefghijklmn");
    // Sentinel: the neighbouring field is untouched.
    p.EncodeParams.HasAudio = 0x5A5A5A5A;
    SetName(p.EncodeParams.VideoCodecName, std::string(100, 'x'));
    EXPECT_EQ(p.EncodeParams.HasAudio, 0x5A5A5A5A);
}

TEST_F(CatalogueFile, NotWellFormedFails) {
    ASSERT_TRUE(catalogue.Add(EmptyProfile()));
    EXPECT_FALSE(Load("<Formats><Profile/></Formats><Second/>"));
    EXPECT_FALSE(Load("<Formats><Profile></Formats>"));
    EXPECT_EQ(catalogue.Count(), 1); // unchanged
}

TEST_F(CatalogueFile, MissingFileFails) {
    EXPECT_FALSE(catalogue.Load(dir.path() / "nothere.xml"));
    EXPECT_EQ(catalogue.Count(), 0);
}

TEST_F(CatalogueFile, Utf16FileWithNonAsciiNames) {
    std::u16string text = u"<Formats><Profile><ProfileName value=\"\u4e2d\u6587 MP4\"/>"
                          u"<FormatExt value=\".mp4\"/></Profile></Formats>";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    ASSERT_TRUE(Load(bytes));
    EXPECT_EQ(TextOf(Get(0).ProfileName), u"\u4e2d\u6587 MP4");
}

TEST(Catalogue, FindByIndexMissingLeavesRecord) {
    ProfileCatalogue catalogue;
    for (int i = 0; i < 3; ++i) {
        OutputProfile p = EmptyProfile();
        p.Index = i;
        ASSERT_TRUE(catalogue.Add(p));
    }
    OutputProfile mine = EmptyProfile();
    mine.Index = 42;
    SetText(mine.ProfileName, u"mine");
    EXPECT_FALSE(catalogue.FindByIndex(7, mine));
    EXPECT_EQ(mine.Index, 42);
    EXPECT_EQ(TextOf(mine.ProfileName), u"mine");
    EXPECT_TRUE(catalogue.FindByIndex(2, mine));
    EXPECT_EQ(mine.Index, 2);
}

TEST(Catalogue, EmptyWalk) {
    ProfileCatalogue catalogue;
    catalogue.Lock();
    EXPECT_EQ(catalogue.First(), nullptr);
    EXPECT_EQ(catalogue.Next(nullptr), nullptr);
    catalogue.Unlock();
}

TEST(CatalogueDamage, MutatedFilesNeverCrash) {
    // Deterministic damage of the shipped catalogue: bytes flipped, cut,
    // duplicated. Every load must finish; whatever loads parses into records.
    std::ifstream in(SourceDir() / "Format.xml", std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    ASSERT_FALSE(original.empty());
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const char specials[] = "<>/&;\"'=!?-[]#x\0\xFF\xC3";
    TempFolder dir;
    for (int round = 0; round < 300; ++round) {
        std::string bytes = original;
        const int edits = 1 + next() % 20;
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const size_t at = next() % bytes.size();
            switch (next() % 4) {
            case 0:
                bytes[at] = specials[next() % (sizeof specials - 1)];
                break;
            case 1:
                bytes.erase(at, next() % 64);
                break;
            case 2:
                bytes.insert(at, bytes.substr(next() % bytes.size(), next() % 64));
                break;
            case 3:
                bytes.resize(at);
                break;
            }
        }
        ProfileCatalogue catalogue;
        if (catalogue.Load(dir.Write("Format.xml", bytes))) {
            catalogue.Lock();
            for (auto* node = catalogue.First(); node; node = catalogue.Next(node)) {
                EXPECT_LT(TextOf(node->profile.ProfileName).size(), 160u);
                EXPECT_LT(TextOf(node->profile.EncodeParams.VideoCodecName).size(), 16u);
            }
            catalogue.Unlock();
        }
    }
}

// ---- choice lists ----

struct LookupCase {
    std::u16string list;
    std::u16string key;
    std::u16string labelOfValue;
    std::u16string valueOfLabel;
};

class ChoiceLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(ChoiceLookup, BothDirections) {
    const LookupCase& c = GetParam();
    EXPECT_EQ(U8(ChoiceList::LabelOfValue(c.list, c.key)), U8(c.labelOfValue));
    EXPECT_EQ(U8(ChoiceList::ValueOfLabel(c.list, c.key)), U8(c.valueOfLabel));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ChoiceLookup,
    ::testing::Values(LookupCase{u"p$P,q$Q,r", u"r", u"r", u"r"},
                      LookupCase{u"p$P,q$Q,r", u"Q", u"", u"q"},
                      LookupCase{u"p$P,q$Q,r", u"q", u"Q", u""},
                      LookupCase{u"p$P,q$Q,r", u"x", u"", u""},
                      LookupCase{u"a$x$y,b", u"a", u"x$y", u""}, // split at the first $
                      LookupCase{u"a$A,a$B", u"a", u"A", u""},   // first match wins
                      LookupCase{u"A$1,a$2", u"a", u"2", u""},   // case-sensitive
                      LookupCase{u" a$ A", u"a", u"", u""},      // no trimming
                      LookupCase{u" a$ A", u" a", u" A", u""},
                      LookupCase{u"a,,b", u"", u"", u""}, // empty item matches empty
                      LookupCase{u"29970$29.97,25000$25", u"29970", u"29.97", u""},
                      LookupCase{u"29970$29.97,25000$25", u"29.97", u"", u"29970"},
                      LookupCase{u"", u"x", u"", u""}));

TEST(ChoiceListItems, Splitting) {
    EXPECT_EQ(ChoiceList::Items(u"").size(), 0u);
    EXPECT_EQ(ChoiceList::Items(u"a,b,").size(), 2u);
    EXPECT_EQ(ChoiceList::Items(u"a,,b").size(), 3u);
    EXPECT_EQ(ChoiceList::Items(u",a").size(), 2u);
    auto items = ChoiceList::Items(u"p$P,q$Q,r");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].label, u"P");
    EXPECT_EQ(items[1].label, u"Q");
    EXPECT_EQ(items[2].label, u"r");
    EXPECT_EQ(items[2].value, u"r");
}

// ---- Set.xml ----

TEST(SetXmlFile, ReadsTitleAndUrl) {
    TempFolder dir;
    auto file = dir.Write("Set.xml",
                          "<Set><Other/><Profile><X value=\"no\"/><Title value=\"My &amp; App\"/>"
                          "<Url value=\"https://example.org/?a=1&amp;b=2\"/></Profile></Set>");
    std::u16string title, url;
    EXPECT_TRUE(ReadSetXml(file, title, url));
    EXPECT_EQ(title, u"My & App");
    EXPECT_EQ(url, u"https://example.org/?a=1&b=2");
}

TEST(SetXmlFile, UrlBeforeTitleIsNotFound) {
    TempFolder dir;
    auto file = dir.Write("Set.xml",
                          "<Set><Profile><Url value=\"u\"/><Title value=\"t\"/></Profile></Set>");
    std::u16string title, url;
    EXPECT_TRUE(ReadSetXml(file, title, url));
    EXPECT_EQ(title, u"t");
    EXPECT_EQ(url, u"");
}

TEST(SetXmlFile, MissingOrBadLeavesStringsEmpty) {
    TempFolder dir;
    std::u16string title, url;
    EXPECT_FALSE(ReadSetXml(dir.path() / "Set.xml", title, url));
    auto bad = dir.Write("Bad.xml", "<Set><Profile><Title value=\"t\"/></Set>");
    EXPECT_FALSE(ReadSetXml(bad, title, url));
    EXPECT_EQ(title, u"");
    EXPECT_EQ(url, u"");
}

TEST(SetXmlFile, ShippedSetXml) {
    std::u16string title, url;
    ASSERT_TRUE(ReadSetXml(SourceDir() / "Set.xml", title, url));
    EXPECT_FALSE(title.empty());
    EXPECT_EQ(url.rfind(u"https://", 0), 0u);
}

} // namespace
