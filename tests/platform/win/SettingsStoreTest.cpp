#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "platform/win/ScopedEnv.h"
#include "platform/win/SettingsStore.h"
#include "platform/win/TestFiles.h"

namespace {

class Settings : public ::testing::Test {
protected:
    TempFolder dir;
    ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().string()};
};

TEST_F(Settings, StoreFolderFollowsXdgConfigHome) {
    EXPECT_EQ(SettingsKey::StoreFolder(), dir.path() / "dvdconv");
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/path");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(SettingsKey::StoreFolder(), std::filesystem::path("/home/someone/.config/dvdconv"));
}

TEST_F(Settings, KeyFileNames) {
    const auto folder = dir.path() / "dvdconv";
    EXPECT_EQ(SettingsKey::KeyFile(u"Software\\DVD Converter"),
              folder / "Software%5CDVD Converter.conf");
    EXPECT_EQ(SettingsKey::KeyFile(u"Software\\"), folder / "Software.conf");
    EXPECT_EQ(SettingsKey::KeyFile(u"Software\\a/b"), folder / "Software%5Ca%2Fb.conf");
    EXPECT_EQ(SettingsKey::KeyFile(u"Software\\\u00e9"), folder / "Software%5C%C3%A9.conf");
    EXPECT_EQ(SettingsKey::KeyFile(u""), folder / "%root.conf");
    EXPECT_EQ(SettingsKey::KeyFile(u".."), folder / "%root...conf");
}

TEST_F(Settings, MissingKeyDoesNotOpenForRead) {
    EXPECT_EQ(SettingsKey::OpenForRead(u"Software\\Nothing"), nullptr);
}

TEST_F(Settings, RoundTripKeepsTypes) {
    {
        auto key = SettingsKey::OpenForWrite(u"Software\\Test");
        ASSERT_NE(key, nullptr);
        EXPECT_TRUE(key->SetString(u"plain", u"C:\\Videos"));
        EXPECT_TRUE(key->SetString(u"expand", u"$HOME/Videos", RegType::ExpandSz));
        EXPECT_TRUE(key->SetString(u"tricky", u"tab\there\nnew\\line\r\u4e2d\u6587"));
        EXPECT_TRUE(key->SetString(u"empty", u""));
        EXPECT_TRUE(key->SetDword(u"number", 4000000000u));
        EXPECT_TRUE(key->SetBinary(u"blob", {0x00, 0xFF, 0x10}));
        EXPECT_TRUE(key->SetString(u"name\twith tab", u"x"));
    }
    auto key = SettingsKey::OpenForRead(u"Software\\Test");
    ASSERT_NE(key, nullptr);
    auto plain = key->Query(u"plain");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->type, RegType::Sz);
    EXPECT_EQ(plain->text, u"C:\\Videos");
    EXPECT_EQ(plain->SizeInBytes(), (9u + 1u) * 2u);
    EXPECT_EQ(key->Query(u"expand")->type, RegType::ExpandSz);
    EXPECT_EQ(key->Query(u"tricky")->text, u"tab\there\nnew\\line\r\u4e2d\u6587");
    EXPECT_EQ(key->Query(u"empty")->text, u"");
    EXPECT_EQ(key->Query(u"empty")->SizeInBytes(), 2u);
    EXPECT_EQ(key->Query(u"number")->type, RegType::Dword);
    EXPECT_EQ(key->Query(u"number")->number, 4000000000u);
    EXPECT_EQ(key->Query(u"number")->SizeInBytes(), 4u);
    EXPECT_EQ(key->Query(u"blob")->bytes, (std::vector<BYTE>{0x00, 0xFF, 0x10}));
    EXPECT_EQ(key->Query(u"name\twith tab")->text, u"x");
    EXPECT_FALSE(key->Query(u"absent"));
    EXPECT_FALSE(key->Query(u"PLAIN")); // names are exact
    // A key opened for reading cannot write.
    EXPECT_FALSE(key->SetDword(u"number", 1));
}

TEST_F(Settings, WritesOnlyTheNamedValueAndKeepsOthers) {
    auto first = SettingsKey::OpenForWrite(u"Software\\Test");
    auto second = SettingsKey::OpenForWrite(u"Software\\Test");
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->SetString(u"a", u"1"));
    EXPECT_TRUE(second->SetString(u"b", u"2")); // re-reads the file first: "a" survives
    auto key = SettingsKey::OpenForRead(u"Software\\Test");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Query(u"a")->text, u"1");
    EXPECT_EQ(key->Query(u"b")->text, u"2");
    EXPECT_TRUE(second->DeleteValue(u"a"));
    EXPECT_FALSE(SettingsKey::OpenForRead(u"Software\\Test")->Query(u"a"));
}

TEST_F(Settings, OpenForWriteCreatesAnEmptyKey) {
    ASSERT_NE(SettingsKey::OpenForWrite(u"Software\\"), nullptr);
    auto key = SettingsKey::OpenForRead(u"Software\\");
    ASSERT_NE(key, nullptr);
    EXPECT_FALSE(key->Query(u"strOutFolder"));
}

TEST_F(Settings, NoTemporaryFilesRemain) {
    auto key = SettingsKey::OpenForWrite(u"Software\\Test");
    ASSERT_TRUE(key);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(key->SetDword(u"n", i));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "dvdconv"))
        EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
}

TEST_F(Settings, DamagedLinesAreSkipped) {
    std::filesystem::create_directories(dir.path() / "dvdconv");
    std::ofstream(dir.path() / "dvdconv" / "Software%5CTest.conf")
        << "# comment\n"
        << "good\tsz\tyes\n"
        << "noTabs\n"
        << "badType\tqword\t5\n"
        << "badDword\tdword\t12x\n"
        << "hugeDword\tdword\t99999999999\n"
        << "badEscape\tsz\tx\\q\n"
        << "badHex\tbinary\t0g\n"
        << "num\tdword\t7\n";
    auto key = SettingsKey::OpenForRead(u"Software\\Test");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Query(u"good")->text, u"yes");
    EXPECT_EQ(key->Query(u"num")->number, 7u);
    for (const char16_t* name :
         {u"noTabs", u"badType", u"badDword", u"hugeDword", u"badEscape", u"badHex"})
        EXPECT_FALSE(key->Query(name)) << std::string(name, name + 3);
}

TEST_F(Settings, UnwritableFolderFailsToOpenForWrite) {
    // A file stands where the folder should be: the folder cannot be made.
    std::ofstream(dir.path() / "dvdconv") << "in the way";
    EXPECT_EQ(SettingsKey::OpenForWrite(u"Software\\Test"), nullptr);
    EXPECT_EQ(SettingsKey::OpenForRead(u"Software\\Test"), nullptr);
}

TEST_F(Settings, ReadOnlyFolderFailsToOpenForWriteUnlessRoot) {
    std::filesystem::create_directories(dir.path() / "dvdconv");
    ::chmod((dir.path() / "dvdconv").c_str(), 0500);
    auto key = SettingsKey::OpenForWrite(u"Software\\Test");
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    EXPECT_EQ(key, nullptr);
}

} // namespace
