// dvdconv profiles [--json]: the output profile catalogue.
#include <cstdio>
#include <string>

#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "cli/DefaultProfile.h"
#include "cli/JsonWriter.h"
#include "platform/win/TextConvert.h"

namespace {

void WriteJson(JsonWriter& j, const OutputProfile& p, bool isDefault) {
    const EncodeParams& e = p.EncodeParams;
    j.BeginObject().Key("index").Int(p.Index).Key("default").Bool(isDefault);
    j.Key("name").String(Utf16ToUtf8(TextOf(p.ProfileName)));
    j.Key("extension").String(Utf16ToUtf8(TextOf(p.FormatExt)));
    if (e.HasVideo) {
        j.Key("video").BeginObject().Key("codec").String(TextOf(e.VideoCodecName));
        j.Key("width").Int(e.Width).Key("height").Int(e.Height);
        j.Key("frameRate").Double(e.FrameRate / 1000.0).Key("bitRate").Int(e.VideoBitRate).EndObject();
    }
    if (e.HasAudio) {
        j.Key("audio").BeginObject().Key("codec").String(TextOf(e.AudioCodecName));
        j.Key("sampleRate").Int(e.SampleRate).Key("channels").Int(e.Channel);
        j.Key("bitRate").Int(e.AudioBitRate).EndObject();
    }
    j.EndObject();
}

void PrintText(const OutputProfile& p, bool isDefault) {
    const EncodeParams& e = p.EncodeParams;
    std::printf("%c%3d  %s\n       %-5s", isDefault ? '*' : ' ', p.Index,
                Utf16ToUtf8(TextOf(p.ProfileName)).c_str(), Utf16ToUtf8(TextOf(p.FormatExt)).c_str());
    if (e.HasVideo)
        std::printf("  video %s %dx%d %.3f fps %d kbit/s", std::string(TextOf(e.VideoCodecName)).c_str(),
                    e.Width, e.Height, e.FrameRate / 1000.0, e.VideoBitRate / 1000);
    if (e.HasAudio)
        std::printf("  audio %s %d Hz %d ch %d kbit/s", std::string(TextOf(e.AudioCodecName)).c_str(),
                    e.SampleRate, e.Channel, e.AudioBitRate / 1000);
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

    JsonWriter j;
    j.BeginArray();
    catalogue->Lock();
    for (auto* n = catalogue->First(); n; n = catalogue->Next(n)) {
        if (json)
            WriteJson(j, n->profile, n->profile.Index == defaultIndex);
        else
            PrintText(n->profile, n->profile.Index == defaultIndex);
    }
    catalogue->Unlock();
    j.EndArray();
    std::fputs(json ? j.Text().c_str() : "(* marks the default profile)\n", stdout);
    return 0;
}
