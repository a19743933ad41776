// `dvdconv streams`, run as a user runs it, on the authored NTSC disc: the
// stream listing, the --demux report for the whole title and for a play
// range, and the usage errors.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "fixtures/DiscManifest.h"

namespace {

struct Result {
    int exitCode = -1;
    QByteArray out, err;
};

Result Streams(const QStringList& args) {
    QProcess p;
    p.start(DVDCONV_CLI, QStringList{"streams"} + args);
    Result r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "dvdconv streams timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

class StreamsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manifest.Load(DiscManifest::DiscDir())) << "no authored discs in $DVDCONV_TEST_DISCS";
        disc = QString::fromStdString(manifest.Dir() + "/" + manifest.Str("ntsc.folder"));
    }
    QJsonObject Json(const QStringList& args) {
        Result r = Streams(args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return QJsonDocument::fromJson(r.out).object();
    }
    DiscManifest manifest;
    QString disc;
};

TEST_F(StreamsCommand, ListsTheStreamsWithTheDefaultOnesEnabled) {
    QJsonObject o = Json({disc, "--title", "1", "--json"});
    EXPECT_EQ(o["container"].toString(), "program stream");
    EXPECT_EQ(o["durationMs"].toInteger(), manifest.Int("ntsc.title.0.duration_ms"));
    QJsonArray s = o["streams"].toArray();
    ASSERT_EQ(s.size(), 5);
    EXPECT_EQ(s[0].toObject()["kind"].toString(), "video");
    EXPECT_TRUE(s[1].toObject()["name"].toString().endsWith("(0000,bd,80)"));
    EXPECT_TRUE(s[1].toObject()["enabled"].toBool());
    EXPECT_TRUE(s[2].toObject()["name"].toString().endsWith("(0000,c1,00)"));
    EXPECT_FALSE(s[2].toObject()["enabled"].toBool());
    EXPECT_TRUE(s[3].toObject()["name"].toString().endsWith("(0000,c2,00)"));
    EXPECT_TRUE(s[4].toObject()["name"].toString().endsWith("(0000,bd,20)"));
    EXPECT_FALSE(o.contains("demux"));
    // The text form names the same streams.
    Result text = Streams({disc, "--title", "1"});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(text.out.contains("(0000,bd,80)"));
}

TEST_F(StreamsCommand, DemuxReportsEveryPinOfTheTitleOrTheRange) {
    struct Case {
        QStringList extra;
        double start, end;
    };
    const double duration = double(manifest.Int("ntsc.title.0.duration_ms")) / 1000;
    for (const Case& c : {Case{{}, 0, duration}, Case{{"--start", "20", "--length", "10"}, 20, 30}}) {
        SCOPED_TRACE(c.start);
        QJsonObject o = Json(QStringList{disc, "--title", "1", "--demux", "--json"} + c.extra);
        QJsonObject d = o["demux"].toObject();
        EXPECT_DOUBLE_EQ(d["start"].toDouble(), c.start);
        QJsonArray pins = d["pins"].toArray();
        ASSERT_EQ(pins.size(), 3);
        EXPECT_EQ(pins[0].toObject()["name"].toString(), "Video");
        for (int i = 0; i < 2; ++i) {
            QJsonObject p = pins[i].toObject();
            EXPECT_TRUE(p["ended"].toBool());
            EXPECT_GT(p["packets"].toInteger(), 0);
            EXPECT_EQ(p["discontinuities"].toInteger(), 1);
            EXPECT_GE(p["first"].toDouble(), c.start - 2);
            EXPECT_LE(p["first"].toDouble(), c.start + 1);
            EXPECT_GT(p["last"].toDouble(), c.end - 2);
            EXPECT_LT(p["last"].toDouble(), c.end + 1);
        }
    }
}

TEST_F(StreamsCommand, BadArgumentsAreUsageErrors) {
    struct Case {
        QStringList args;
        int exitCode;
        const char* message;
    };
    for (const Case& c : {Case{{disc}, 2, "missing --title"}, Case{{disc, "--title", "0"}, 2, "--title"},
                          Case{{disc, "--title", "x"}, 2, "--title"},
                          Case{{disc, "--title", "1", "--start", "5"}, 2, "--demux"},
                          Case{{disc, "--title", "1", "--demux", "--length", "-3"}, 2, "--length"},
                          Case{{disc, "--title", "9"}, 1, "no title 9"},
                          Case{{disc, "--title", "1", "--chapter", "9"}, 1, "no chapter 9"},
                          Case{{disc, "--title", "1", "--demux", "--start", "500"}, 1, "beyond the title's end"},
                          Case{{"/no/such/disc", "--title", "1"}, 1, "Open DVD error"}}) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        Result r = Streams(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    }
}

} // namespace
