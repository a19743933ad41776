// dvdconv profiles [--json]: the output profile catalogue.
#include <cstdio>

#include <QJsonArray>
#include <QJsonObject>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/DefaultProfile.h"
#include "platform/win/TextConvert.h"

namespace {

QString Q(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

QJsonObject ProfileJson(const OutputProfile& p, int defaultIndex) {
    const EncodeParams& e = p.EncodeParams;
    QJsonObject o;
    o["index"] = p.Index;
    o["default"] = p.Index == defaultIndex;
    o["name"] = Q(TextOf(p.ProfileName));
    o["extension"] = Q(TextOf(p.FormatExt));
    if (e.HasVideo) {
        QJsonObject v;
        v["codec"] = QString::fromUtf8(TextOf(e.VideoCodecName).data(), TextOf(e.VideoCodecName).size());
        v["width"] = e.Width;
        v["height"] = e.Height;
        v["frameRate"] = e.FrameRate / 1000.0;
        v["bitRate"] = e.VideoBitRate;
        o["video"] = v;
    }
    if (e.HasAudio) {
        QJsonObject a;
        a["codec"] = QString::fromUtf8(TextOf(e.AudioCodecName).data(), TextOf(e.AudioCodecName).size());
        a["sampleRate"] = e.SampleRate;
        a["channels"] = e.Channel;
        a["bitRate"] = e.AudioBitRate;
        o["audio"] = a;
    }
    return o;
}

void PrintProfile(const QJsonObject& o) {
    std::printf("%c%3d  %s\n       %-5s", o["default"].toBool() ? '*' : ' ', o["index"].toInt(),
                o["name"].toString().toUtf8().constData(), o["extension"].toString().toUtf8().constData());
    if (o.contains("video")) {
        QJsonObject v = o["video"].toObject();
        std::printf("  video %s %dx%d %.3f fps %d kbit/s", v["codec"].toString().toUtf8().constData(),
                    v["width"].toInt(), v["height"].toInt(), v["frameRate"].toDouble(),
                    v["bitRate"].toInt() / 1000);
    }
    if (o.contains("audio")) {
        QJsonObject a = o["audio"].toObject();
        std::printf("  audio %s %d Hz %d ch %d kbit/s", a["codec"].toString().toUtf8().constData(),
                    a["sampleRate"].toInt(), a["channels"].toInt(), a["bitRate"].toInt() / 1000);
    }
    std::printf("\n");
}

} // namespace

int RunProfilesCommand(const CommandArgs& args) {
    CliOptions opts("profiles", args);
    bool json = opts.Flag("--json");
    if (!opts.Finish()) return opts.ReportErrors();

    auto catalogue = LoadCatalogue();
    if (!catalogue) return 1;
    OutputProfile def = EmptyProfile();
    int defaultIndex = DefaultProfile(*catalogue, def) ? def.Index : -1;

    QJsonArray list;
    catalogue->Lock();
    for (auto* n = catalogue->First(); n; n = catalogue->Next(n)) list.append(ProfileJson(n->profile, defaultIndex));
    catalogue->Unlock();

    if (json) {
        PrintJson(QJsonDocument(list));
        return 0;
    }
    for (const auto& p : list) PrintProfile(p.toObject());
    std::printf("(* marks the default profile)\n");
    return 0;
}
