#include <gtest/gtest.h>

#include "app/AppSettings.h"
#include "app/StartupState.h"
#include "platform/win/ScopedEnv.h"
#include "platform/win/SettingsStore.h"
#include "platform/win/TestFiles.h"
#include "platform/win/TextConvert.h"
#include <fstream>

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    TempFolder home;
    ScopedEnv homeEnv{"HOME", home.path().string()};
    ScopedEnv xdg{"XDG_CONFIG_HOME", (home.path() / "config").string()};
    ScopedEnv videos{"XDG_VIDEOS_DIR", ""};
    const std::u16string keyPath = AppSettings::KeyPath(u"DVD Converter");

    std::unique_ptr<SettingsKey> Key() { return SettingsKey::OpenForWrite(keyPath); }
};

TEST_F(AppSettingsTest, KeyPath) {
    EXPECT_EQ(AppSettings::KeyPath(u"DVD Converter"), u"Software\\DVD Converter");
    EXPECT_EQ(AppSettings::KeyPath(u""), u"Software\\");
}

TEST_F(AppSettingsTest, DefaultsUseTheVideosFolder) {
    std::filesystem::create_directories(home.path() / "Videos");
    AppSettings s = AppSettings::Defaults();
    const std::u16string videosFolder = Utf8ToUtf16((home.path() / "Videos").string());
    EXPECT_EQ(s.strOutFolder, videosFolder);
    EXPECT_EQ(s.strSnapFolder, videosFolder);
    EXPECT_EQ(s.strImageType, u"BMP");
    EXPECT_EQ(s.strAction, u"No Action");
    EXPECT_EQ(s.cpu_usage, 50u);
}

TEST_F(AppSettingsTest, DefaultsFallBackToHome) {
    AppSettings s = AppSettings::Defaults();
    EXPECT_EQ(s.strOutFolder, Utf8ToUtf16(home.path().string()));
}

TEST_F(AppSettingsTest, MissingKeyKeepsDefaults) {
    AppSettings s;
    EXPECT_FALSE(s.Load(keyPath));
    EXPECT_EQ(s, AppSettings::Defaults());
}

TEST_F(AppSettingsTest, ReadsStoredValues) {
    auto key = Key();
    ASSERT_TRUE(key);
    key->SetString(u"strOutFolder", u"/data/out");
    key->SetString(u"strSnapFolder", u"$HOME/snaps",
                   RegType::ExpandSz); // expandable is a string too
    key->SetString(u"strImageType", u"PNG");
    key->SetString(u"strAction", u"Shut Down");
    key->SetDword(u"cpu_usage", 80);
    AppSettings s;
    EXPECT_TRUE(s.Load(keyPath));
    EXPECT_EQ(s.strOutFolder, u"/data/out");
    EXPECT_EQ(s.strSnapFolder, u"$HOME/snaps");
    EXPECT_EQ(s.strImageType, u"PNG");
    EXPECT_EQ(s.strAction, u"Shut Down");
    EXPECT_EQ(s.cpu_usage, 80u);
}

struct BadValueCase {
    const char* name;
    std::u16string valueName;
    int kind; // 0 dword, 1 string, 2 binary, 3 string of N chars
    size_t length;
};

class BadValues : public AppSettingsTest, public ::testing::WithParamInterface<BadValueCase> {};

TEST_P(BadValues, KeepTheDefault) {
    auto key = Key();
    ASSERT_TRUE(key);
    const BadValueCase& c = GetParam();
    switch (c.kind) {
    case 0:
        key->SetDword(c.valueName, 7);
        break;
    case 1:
        key->SetString(c.valueName, u"75");
        break;
    case 2:
        key->SetBinary(c.valueName, {1, 2, 3});
        break;
    case 3:
        key->SetString(c.valueName, std::u16string(c.length, u'x'));
        break;
    }
    AppSettings s;
    EXPECT_TRUE(s.Load(keyPath));
    EXPECT_EQ(s, AppSettings::Defaults());
}

INSTANTIATE_TEST_SUITE_P(Values, BadValues,
                         ::testing::Values(BadValueCase{"dword_for_string", u"strOutFolder", 0, 0},
                                           BadValueCase{"binary_for_string", u"strImageType", 2, 0},
                                           BadValueCase{"string_for_dword", u"cpu_usage", 1, 0},
                                           BadValueCase{"binary_for_dword", u"cpu_usage", 2, 0},
                                           BadValueCase{"256_chars", u"strOutFolder", 3, 256},
                                           BadValueCase{"1000_chars", u"strAction", 3, 1000}),
                         [](const ::testing::TestParamInfo<BadValueCase>& info) {
                             return info.param.name;
                         });

TEST_F(AppSettingsTest, LongestStringThatFits) {
    auto key = Key();
    ASSERT_TRUE(key);
    key->SetString(u"strSnapFolder", std::u16string(255, u'y'));
    AppSettings s;
    s.Load(keyPath);
    EXPECT_EQ(s.strSnapFolder.size(), 255u);
}

TEST_F(AppSettingsTest, SaveWritesOnlyTheNamedValues) {
    auto key = Key();
    ASSERT_TRUE(key);
    key->SetString(u"strImageType", u"JPG");
    key->SetString(u"unrelated", u"kept");
    AppSettings s = AppSettings::Defaults();
    s.strOutFolder = u"/new/out";
    s.strImageType = u"PNG"; // changed in memory but not named
    ASSERT_TRUE(s.Save(keyPath, AppSettings::OutFolder));
    auto read = SettingsKey::OpenForRead(keyPath);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Query(u"strOutFolder")->text, u"/new/out");
    EXPECT_EQ(read->Query(u"strImageType")->text, u"JPG");
    EXPECT_EQ(read->Query(u"unrelated")->text, u"kept");
    EXPECT_FALSE(read->Query(u"cpu_usage"));
    ASSERT_TRUE(s.Save(keyPath, AppSettings::AllValues));
    AppSettings back;
    back.Load(keyPath);
    EXPECT_EQ(back, s);
    EXPECT_EQ(SettingsKey::OpenForRead(keyPath)->Query(u"cpu_usage")->type, RegType::Dword);
}

TEST_F(AppSettingsTest, SaveFailsWhenTheKeyCannotBeCreated) {
    std::filesystem::create_directories(home.path() / "config");
    std::ofstream(home.path() / "config" / "dvdconv") << "in the way";
    AppSettings s = AppSettings::Defaults();
    EXPECT_FALSE(s.Save(keyPath, AppSettings::AllValues));
}

TEST_F(AppSettingsTest, Differences) {
    AppSettings a = AppSettings::Defaults(), b = a;
    EXPECT_EQ(a.Differences(b), 0u);
    b.strImageType = u"bmp"; // case-sensitive
    b.cpu_usage = 60;
    EXPECT_EQ(a.Differences(b), unsigned(AppSettings::ImageType | AppSettings::CpuUsage));
}

TEST_F(AppSettingsTest, StartupStateWithoutSetXml) {
    StartupState state;
    EXPECT_FALSE(state.ReadSetXml(home.path() / "Set.xml"));
    EXPECT_EQ(state.appTitle, u"");
    EXPECT_EQ(state.homePageUrl, u"");
    EXPECT_EQ(state.SettingsKeyPath(), u"Software\\");
    EXPECT_EQ(state.selectedAudioId, -1);
    EXPECT_EQ(state.selectedSubtitleId, -1);
}

TEST_F(AppSettingsTest, StartupStateReadsTitleThenSettings) {
    home.Write("Set.xml", "<Set><Profile><Title value=\"DVD Converter\"/>"
                          "<Url value=\"https://example.org\"/></Profile></Set>");
    Key()->SetString(u"strAction", u"Open Folder");
    StartupState state;
    EXPECT_TRUE(state.ReadSetXml(home.path() / "Set.xml"));
    state.ReadSettings();
    EXPECT_EQ(state.appTitle, u"DVD Converter");
    EXPECT_EQ(state.homePageUrl, u"https://example.org");
    EXPECT_EQ(state.settings.strAction, u"Open Folder");
}

} // namespace
