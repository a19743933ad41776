// The command-line front end, run as a user runs it, on the authored discs;
// `info` is checked against lsdvd on the same discs.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QProcess>
#include <QXmlStreamReader>

#include "fixtures/DiscManifest.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int exitCode = -1;
    QByteArray out, err;
};

RunResult RunProgram(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    RunResult r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "timed out: " << program.toStdString();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

RunResult Dvdconv(const QStringList& args) { return RunProgram(DVDCONV_CLI, args); }

struct LsdvdStream {
    QString langcode;
};
struct LsdvdTitle {
    int ix = 0;
    double lengthS = 0;
    std::vector<LsdvdStream> audio, subs;
};

std::vector<LsdvdTitle> Lsdvd(const std::string& disc) {
    RunResult r = RunProgram("lsdvd", {"-Ox", "-a", "-s", QString::fromStdString(disc)});
    std::vector<LsdvdTitle> titles;
    int start = r.out.indexOf("<?xml");
    if (start < 0) return titles;
    QXmlStreamReader xml(r.out.mid(start));
    LsdvdTitle* cur = nullptr;
    std::vector<LsdvdStream>* list = nullptr;
    while (!xml.atEnd()) {
        if (!xml.readNextStartElement()) continue;
        QStringView name = xml.name();
        if (name == u"track") {
            titles.emplace_back();
            cur = &titles.back();
        } else if (cur && name == u"ix" && !list) {
            cur->ix = xml.readElementText().toInt();
        } else if (cur && name == u"length") {
            cur->lengthS = xml.readElementText().toDouble();
        } else if (cur && (name == u"audio" || name == u"subp")) {
            list = name == u"audio" ? &cur->audio : &cur->subs;
            list->emplace_back();
        } else if (list && name == u"langcode") {
            list->back().langcode = xml.readElementText();
        } else if (list && name == u"streamid") {
            xml.readElementText();
            list = nullptr; // last field of a stream
        }
    }
    return titles;
}

class CliOnDiscs : public ::testing::Test {
protected:
    void SetUp() override {
        if (!manifest.Load(DiscManifest::DiscDir())) GTEST_SKIP() << "no authored discs";
    }
    DiscManifest manifest;
};

} // namespace

TEST_F(CliOnDiscs, InfoAgreesWithLsdvd) {
    for (const std::string disc : {"ntsc", "pal", "ntsc.iso"}) {
        SCOPED_TRACE(disc);
        std::string path = manifest.Dir() + "/" + disc;
        bool ntsc = disc.rfind("ntsc", 0) == 0;
        RunResult r = Dvdconv({"info", "--json", QString::fromStdString(path)});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        QJsonArray ours = QJsonDocument::fromJson(r.out).object()["titles"].toArray();

        std::vector<LsdvdTitle> peer = Lsdvd(path);
        ASSERT_FALSE(peer.empty());
        int listed = 0;
        for (const LsdvdTitle& t : peer) {
            // lsdvd prints the IFO's nominal time; NTSC content runs 1001/1000 longer.
            double realMs = t.lengthS * 1000.0 * (ntsc ? 1.001 : 1.0);
            if (realMs < 3000 - 1) continue;
            ASSERT_LT(listed, ours.size());
            QJsonObject o = ours[listed++].toObject();
            char name[32], length[64];
            std::snprintf(name, sizeof name, "Title_%02d", t.ix);
            long s = static_cast<long>(realMs / 1000.0 + 0.0005);
            std::snprintf(length, sizeof length, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
            EXPECT_EQ(o["name"].toString().toStdString(), name);
            EXPECT_EQ(o["length"].toString().toStdString(), length);
            EXPECT_NEAR(o["durationMs"].toDouble(), realMs, 40);
            QJsonArray audio = o["audio"].toArray(), subs = o["subtitles"].toArray();
            ASSERT_EQ(audio.size(), static_cast<qsizetype>(t.audio.size()));
            ASSERT_EQ(subs.size(), static_cast<qsizetype>(t.subs.size()));
            for (size_t i = 0; i < t.audio.size(); ++i)
                EXPECT_EQ(audio[i].toObject()["languageCode"].toString(), t.audio[i].langcode);
            for (size_t i = 0; i < t.subs.size(); ++i)
                EXPECT_EQ(subs[i].toObject()["languageCode"].toString(), t.subs[i].langcode);
        }
        EXPECT_EQ(listed, ours.size());
    }
}

TEST_F(CliOnDiscs, InfoTextShowsTheTitleList) {
    RunResult r = Dvdconv({"info", QString::fromStdString(manifest.Dir() + "/ntsc")});
    ASSERT_EQ(r.exitCode, 0);
    std::string text = r.out.toStdString();
    EXPECT_NE(text.find("Title_01"), std::string::npos);
    EXPECT_NE(text.find("English(AC3 2ch)"), std::string::npos) << text;
    EXPECT_EQ(text.find("Title_03"), std::string::npos) << "a title under 3 s is listed";
}

TEST_F(CliOnDiscs, BadDiscsSayOpenDvdError) {
    fs::path tmp = fs::temp_directory_path() / ("dvdconv-cli-" + std::to_string(::getpid()));
    fs::create_directories(tmp / "nodvd" / "sub");
    std::ofstream(tmp / "empty.iso").close();
    {
        std::ifstream in(manifest.Dir() + "/ntsc.iso", std::ios::binary);
        std::vector<char> head(300 * 1024);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(tmp / "cut.iso", std::ios::binary).write(head.data(), in.gcount());
    }
    for (const fs::path& p : {tmp / "missing", tmp / "nodvd", tmp / "empty.iso", tmp / "cut.iso"}) {
        SCOPED_TRACE(p.string());
        RunResult r = Dvdconv({"info", QString::fromStdString(p.string())});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("Open DVD error")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    fs::remove_all(tmp);
}

TEST(Cli, UsageErrorsExitWithTwo) {
    struct Case {
        QStringList args;
        int exitCode;
        const char* err;
    } cases[] = {
        {{}, 2, "usage"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"info"}, 2, "missing DISC"},
        {{"info", "a", "b"}, 2, "unexpected argument 'b'"},
        {{"info", "--bogus", "a"}, 2, "unexpected argument '--bogus'"},
        {{"--help"}, 0, ""},
    };
    for (const auto& c : cases) {
        RunResult r = Dvdconv(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
    }
}

TEST(Cli, ProfilesListTheCatalogueWithItsDefault) {
    QProcess p;
    p.setWorkingDirectory(QString::fromLocal8Bit(std::getenv("DVDCONV_SOURCE_DIR")));
    p.start(DVDCONV_CLI, {"profiles", "--json"});
    ASSERT_TRUE(p.waitForFinished(30000));
    QJsonArray list = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    ASSERT_GE(list.size(), 12);
    int defaults = 0;
    for (const auto& v : list) {
        QJsonObject o = v.toObject();
        EXPECT_FALSE(o["name"].toString().isEmpty());
        EXPECT_TRUE(o["extension"].toString().startsWith('.'));
        if (o["default"].toBool()) {
            ++defaults;
            EXPECT_EQ(o["index"].toInt(), 1);
        }
    }
    EXPECT_EQ(defaults, 1);
}

TEST(Cli, ProfilesReportAMissingCatalogue) {
    QProcess p;
    p.setWorkingDirectory(QDir::tempPath());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DVDCONV_DATA_DIR", "/nonexistent");
    p.setProcessEnvironment(env);
    p.start(DVDCONV_CLI, {"profiles"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("Load Format.xml error"));
}
