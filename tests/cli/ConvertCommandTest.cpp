// dvdconv convert run as a user runs it on the authored discs: the files it
// writes (checked with ffprobe), its refusal to replace files, a failed item
// reported with its reason and a failing exit status, and merge mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <QFileInfo>
#include <QProcess>

#include "fixtures/DiscManifest.h"
#include "sink/MediaProbe.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

RunResult Dvdconv(const QStringList& args, const fs::path& workDir = {}) {
    QProcess p;
    // The catalogue is looked up in the working folder first.
    const char* source = std::getenv("DVDCONV_SOURCE_DIR");
    fs::path dir = workDir.empty() && source ? fs::path(source) : workDir;
    if (!dir.empty()) p.setWorkingDirectory(QString::fromStdString(dir.string()));
    p.start(DVDCONV_CLI, args);
    RunResult r;
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

class ConvertCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!manifest_.Load(DiscManifest::DiscDir())) GTEST_SKIP() << "no authored discs";
        dir_ = fs::temp_directory_path() / ("convert_cli_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    QString Disc(const char* name) { return QString::fromStdString(manifest_.Folder(name)); }
    QString Out() { return QString::fromStdString(dir_.string()); }

    DiscManifest manifest_;
    fs::path dir_;
};

// Profile 0 is 720 x 576 at 25 fps: the PAL picture goes through whole.
TEST_F(ConvertCommandTest, PalTitleWithThePalProfile) {
    RunResult r = Dvdconv({"convert", Disc("pal"), "--titles", "1", "--profile", "0", "--length",
                           "00:00:02", "--out", Out()});
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    const std::string file = (dir_ / "Title_01.mp4").string();
    EXPECT_NE(std::string::npos, r.out.find("written: " + file)) << r.out;
    probe::Result p = probe::File(file);
    ASSERT_NE(nullptr, p.Of("video"));
    EXPECT_EQ(720, p.Of("video")->width);
    EXPECT_EQ(576, p.Of("video")->height);
    EXPECT_EQ(50, p.Of("video")->frames);
    EXPECT_NEAR(2.0, p.duration, 0.04);
}

TEST_F(ConvertCommandTest, ExistingFileNeedsOverwrite) {
    const fs::path file = dir_ / "Title_03.wav";
    std::ofstream(file) << "older";
    QStringList args{"convert", Disc("ntsc"), "--titles", "3", "--profile", "15", "--out", Out()};
    RunResult r = Dvdconv(args);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("exists")) << r.err;
    EXPECT_EQ(5u, fs::file_size(file));
    r = Dvdconv(args << "--overwrite");
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_EQ("wav", probe::File(file.string()).format);
}

// A catalogue in the working folder whose encoder FFmpeg does not know: the
// item fails with the file and the reason, nothing is reported as written.
TEST_F(ConvertCommandTest, UnknownEncoderFailsTheItem) {
    std::ifstream in(std::string(std::getenv("DVDCONV_SOURCE_DIR")) + "/Format.xml");
    std::stringstream xml;
    xml << in.rdbuf();
    std::string text = xml.str();
    for (size_t at; (at = text.find("\"libx264\"")) != std::string::npos;)
        text.replace(at, 9, "\"nosuchcodec\"");
    fs::path work = dir_ / "work";
    fs::create_directories(work);
    std::ofstream(work / "Format.xml") << text;
    RunResult r = Dvdconv({"convert", Disc("ntsc"), "--titles", "3", "--profile", "0", "--out", Out()},
                          work);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.out.find("failed: Title_03.mp4")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("nosuchcodec")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("written:")) << r.out;
    EXPECT_FALSE(fs::exists(dir_ / "Title_03.mp4"));
}

TEST_F(ConvertCommandTest, MergeWritesOneFile) {
    RunResult r = Dvdconv({"convert", Disc("ntsc"), "--titles", "2,3", "--profile", "5", "--merge",
                           "--out", Out()});
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("1 file(s) written")) << r.out;
    probe::Result p = probe::File((dir_ / "Title_02.avi").string());
    const double sum = double(manifest_.Int(DiscManifest::Title("ntsc", 1, "duration_ms")) +
                              manifest_.Int(DiscManifest::Title("ntsc", 2, "duration_ms"))) / 1000.0;
    ASSERT_NE(nullptr, p.Of("video"));
    EXPECT_NEAR(sum * 30000 / 1001, double(p.Of("video")->frames), 2);
    EXPECT_FALSE(fs::exists(dir_ / "Title_03.avi"));
}

TEST_F(ConvertCommandTest, UsageErrors) {
    const QStringList bad[] = {
        {"convert"},
        {"convert", Disc("ntsc"), "--titles", "0"},
        {"convert", Disc("ntsc"), "--titles", "1", "--all"},
        {"convert", Disc("ntsc"), "--aspect", "wide"},
        {"convert", Disc("ntsc"), "--crop", "1,2,3"},
        {"convert", Disc("ntsc"), "--start", "1:xx"},
        {"convert", Disc("ntsc"), "--cpu-usage", "0"},
        {"convert", Disc("ntsc"), "--bogus"},
    };
    for (const auto& args : bad) EXPECT_EQ(2, Dvdconv(args).exitCode) << args.join(' ').toStdString();
    EXPECT_EQ(1, Dvdconv({"convert", Disc("ntsc"), "--titles", "9", "--out", Out()}).exitCode);
    // An --out folder that cannot be made (below a file) fails the run; one that
    // does not exist yet is made.
    EXPECT_EQ(1, Dvdconv({"convert", Disc("ntsc"), "--out", "/dev/null/out"}).exitCode);
    const QString fresh = Out() + "/new/folder";
    EXPECT_EQ(0, Dvdconv({"convert", Disc("ntsc"), "--titles", "2", "--out", fresh}).exitCode);
    EXPECT_TRUE(QFileInfo::exists(fresh + "/Title_02.mp4"));
}

} // namespace
