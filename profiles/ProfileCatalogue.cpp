#include "profiles/ProfileCatalogue.h"

#include <new>

#include "platform/win/DebugTrace.h"
#include "platform/win/TextConvert.h"
#include "profiles/XmlDocument.h"

namespace {

// Finds the next child of the current element named `name`, enters it,
// reads its value attribute and leaves it again. False when not found (the
// cursor then stays where it was).
bool ReadField(CXmlDocument& doc, std::u16string_view name, std::u16string& value) {
    if (!doc.NextChild(name)) return false;
    doc.EnterElement();
    value = doc.AttributeValue(u"value");
    doc.LeaveElement();
    return true;
}

template <std::size_t N>
void ReadText(CXmlDocument& doc, std::u16string_view name, char16_t (&field)[N],
              std::int32_t* flagToClear = nullptr) {
    std::u16string value;
    if (ReadField(doc, name, value))
        SetText(field, value);
    else if (flagToClear)
        *flagToClear = 0;
}

void ReadNumber(CXmlDocument& doc, std::u16string_view name, std::int32_t& field,
                std::int32_t& flagToClear) {
    std::u16string value;
    if (ReadField(doc, name, value))
        field = ParseDecimal(value);
    else
        flagToClear = 0;
}

template <std::size_t N>
void ReadCodecName(CXmlDocument& doc, std::u16string_view name, char (&field)[N],
                   std::int32_t& flagToClear) {
    std::u16string value;
    if (ReadField(doc, name, value) && !value.empty())
        SetName(field, Utf16ToAnsi(value));
    else
        flagToClear = 0;
}

} // namespace

ProfileCatalogue::~ProfileCatalogue() {
    std::lock_guard guard(lock_);
    Node* node = head_;
    while (node) {
        Node* next = node->next;
        delete node;
        node = next;
    }
    head_ = tail_ = nullptr;
    count_ = 0;
}

void ProfileCatalogue::ParseProfile(CXmlDocument& doc, OutputProfile& p) {
    EncodeParams& e = p.EncodeParams;
    ReadText(doc, u"ProfileName", p.ProfileName);
    ReadText(doc, u"FormatExt", p.FormatExt);
    e.HasVideo = 1;
    e.HasAudio = 1;
    ReadCodecName(doc, u"VideoCodecName", e.VideoCodecName, e.HasVideo);
    ReadNumber(doc, u"Width", e.Width, e.HasVideo);
    ReadNumber(doc, u"Height", e.Height, e.HasVideo);
    ReadNumber(doc, u"FrameRate", e.FrameRate, e.HasVideo);
    ReadNumber(doc, u"VideoBitRate", e.VideoBitRate, e.HasVideo);
    ReadCodecName(doc, u"AudioCodecName", e.AudioCodecName, e.HasAudio);
    ReadNumber(doc, u"SampleRate", e.SampleRate, e.HasAudio);
    ReadNumber(doc, u"AudioBitRate", e.AudioBitRate, e.HasAudio);
    ReadNumber(doc, u"Channel", e.Channel, e.HasAudio);
    ReadText(doc, u"Resolutions", p.Resolutions, &e.HasVideo);
    ReadText(doc, u"FrameRates", p.FrameRates, &e.HasVideo);
    ReadText(doc, u"VideoCodecs", p.VideoCodecs, &e.HasVideo);
    ReadText(doc, u"VideoBitRates", p.VideoBitRates, &e.HasVideo);
    ReadText(doc, u"SampleRates", p.SampleRates, &e.HasAudio);
    ReadText(doc, u"Channels", p.Channels, &e.HasAudio);
    ReadText(doc, u"AudioCodecs", p.AudioCodecs, &e.HasAudio);
    ReadText(doc, u"AudioBitRates", p.AudioBitRates, &e.HasAudio);
}

bool ProfileCatalogue::Load(const std::filesystem::path& file) {
    CXmlDocument doc;
    if (!doc.LoadFile(file)) {
        DebugTrace("profiles: cannot load %s: %s\n", file.c_str(),
                   Utf16ToUtf8(doc.ResultLog()).c_str());
        return false;
    }
    doc.RewindSiblings();
    std::int32_t counter = 0;
    while (doc.NextChild(u"Profile")) {
        doc.EnterElement();
        OutputProfile profile = EmptyProfile();
        profile.Index = counter++;
        ParseProfile(doc, profile);
        Add(profile);
        doc.LeaveElement();
    }
    return true;
}

bool ProfileCatalogue::Add(const OutputProfile& profile) {
    Node* node = new (std::nothrow) Node;
    if (!node) return false;
    node->profile = profile;
    std::lock_guard guard(lock_);
    node->prev = tail_;
    if (tail_)
        tail_->next = node;
    else
        head_ = node;
    tail_ = node;
    ++count_;
    return true;
}

bool ProfileCatalogue::FindByIndex(std::int32_t index, OutputProfile& out) const {
    std::lock_guard guard(lock_);
    for (const Node* node = head_; node; node = node->next) {
        if (node->profile.Index == index) {
            out = node->profile;
            return true;
        }
    }
    return false;
}

int ProfileCatalogue::Count() const {
    std::lock_guard guard(lock_);
    return count_;
}
