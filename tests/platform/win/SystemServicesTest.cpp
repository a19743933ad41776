#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "platform/win/DataFiles.h"
#include "platform/win/ScopedEnv.h"
#include "platform/win/ShellOpen.h"
#include "platform/win/SystemShutdown.h"
#include "platform/win/TestFiles.h"
#include "platform/win/TickCount.h"

namespace fs = std::filesystem;

namespace {

TEST(TickCount, IsMonotonicMilliseconds) {
    const auto a = GetTickCount64();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto b = GetTickCount64();
    EXPECT_GE(b - a, 25u);
    EXPECT_LT(b - a, 1000u);
    EXPECT_EQ(static_cast<DWORD>(b), GetTickCount() - (GetTickCount() - static_cast<DWORD>(b)));
}

struct RecordingOpener : IShellOpener {
    std::vector<std::string>* seen;
    explicit RecordingOpener(std::vector<std::string>* s) : seen(s) {}
    bool Open(const std::string& target) override {
        seen->push_back(target);
        return true;
    }
};

TEST(ShellOpen, ReplaceableForTests) {
    std::vector<std::string> seen;
    auto previous = SetShellOpener(std::make_unique<RecordingOpener>(&seen));
    EXPECT_TRUE(OpenURL("https://example.org/"));
    EXPECT_TRUE(ShellOpenPath("/tmp"));
    SetShellOpener(std::move(previous));
    EXPECT_EQ(seen, (std::vector<std::string>{"https://example.org/", "/tmp"}));
}

struct RecordingShutdown : ISystemShutdown {
    int* calls;
    explicit RecordingShutdown(int* c) : calls(c) {}
    bool PowerOff() override {
        ++*calls;
        return true;
    }
};

TEST(SystemShutdown, ReplaceableForTests) {
    int calls = 0;
    auto previous = SetSystemShutdown(std::make_unique<RecordingShutdown>(&calls));
    EXPECT_TRUE(SystemShutdown().PowerOff());
    SetSystemShutdown(std::move(previous));
    EXPECT_EQ(calls, 1);
}

class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& p) : old_(fs::current_path()) { fs::current_path(p); }
    ~WorkingFolder() { fs::current_path(old_); }

private:
    fs::path old_;
};

TEST(DataFiles, WorkingFolderFirstThenBesideTheProgram) {
    TempFolder dir;
    WorkingFolder cwd(dir.path());
    // Not in the working folder and not beside the test program: the bare name.
    EXPECT_EQ(FindDataFile("NoSuchData.xml"), fs::path("NoSuchData.xml"));
    dir.Write("Format.xml", "<x/>");
    EXPECT_EQ(FindDataFile("Format.xml"), fs::path("Format.xml"));
    fs::create_directories(dir.path() / "skin");
    EXPECT_EQ(FindDataFile("skin"), fs::path("skin"));
    // An explicit data folder is looked at first.
    TempFolder data;
    data.Write("Format.xml", "<y/>");
    ScopedEnv env("DVDCONV_DATA_DIR", data.path().string());
    EXPECT_EQ(FindDataFile("Format.xml"), data.path() / "Format.xml");
}

TEST(DataFiles, BesideTheProgram) {
    const auto folders = DataFolders();
    fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_NE(std::find(folders.begin(), folders.end(), exe.parent_path()), folders.end());
    EXPECT_NE(std::find(folders.begin(), folders.end(),
                        (exe.parent_path() / ".." / "share" / "dvdconv").lexically_normal()),
              folders.end());
}

class Videos : public ::testing::Test {
protected:
    TempFolder home;
    ScopedEnv homeEnv{"HOME", home.path().string()};
    ScopedEnv xdg{"XDG_CONFIG_HOME", (home.path() / ".config").string()};
    ScopedEnv videosEnv{"XDG_VIDEOS_DIR", ""};
};

TEST_F(Videos, HomeWhenNothingElse) {
    EXPECT_EQ(VideosFolder(), home.path());
}

TEST_F(Videos, VideosFolderWhenItExists) {
    fs::create_directories(home.path() / "Videos");
    EXPECT_EQ(VideosFolder(), home.path() / "Videos");
}

TEST_F(Videos, UserDirsFile) {
    fs::create_directories(home.path() / "Filme");
    fs::create_directories(home.path() / "Videos");
    home.Write(".config/user-dirs.dirs", "# generated\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                         "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    EXPECT_EQ(VideosFolder(), home.path() / "Filme");
}

TEST_F(Videos, UserDirsFileNamingAMissingFolderIsIgnored) {
    home.Write(".config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Gone\"\n");
    EXPECT_EQ(VideosFolder(), home.path());
}

TEST_F(Videos, EnvironmentVariableWins) {
    TempFolder other;
    ScopedEnv env("XDG_VIDEOS_DIR", other.path().string() + "/");
    EXPECT_EQ(VideosFolder(), other.path());
}

} // namespace
