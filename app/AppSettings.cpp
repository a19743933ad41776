#include "app/AppSettings.h"

#include "platform/win/DataFiles.h"
#include "platform/win/DebugTrace.h"
#include "platform/win/SettingsStore.h"
#include "platform/win/TextConvert.h"

namespace {

const std::u16string kOutFolder = u"strOutFolder";
const std::u16string kSnapFolder = u"strSnapFolder";
const std::u16string kImageType = u"strImageType";
const std::u16string kAction = u"strAction";
const std::u16string kCpuUsage = u"cpu_usage";

void ReadString(const SettingsKey& key, const std::u16string& name, std::u16string& field) {
    std::optional<RegValue> value = key.Query(name);
    if (!value || !value->IsString()) return;
    if (value->SizeInBytes() > AppSettings::kMaxChars * 2) return;
    field = value->text;
}

} // namespace

AppSettings AppSettings::Defaults() {
    AppSettings s;
    const std::u16string videos = Utf8ToUtf16(VideosFolder().string());
    s.strOutFolder = videos;
    s.strSnapFolder = videos;
    s.strImageType = u"BMP";
    s.strAction = u"No Action";
    s.cpu_usage = 50;
    return s;
}

std::u16string AppSettings::KeyPath(const std::u16string& appTitle) {
    return u"Software\\" + appTitle;
}

bool AppSettings::Load(const std::u16string& keyPath) {
    *this = Defaults();
    std::unique_ptr<SettingsKey> key = SettingsKey::OpenForRead(keyPath);
    if (!key) return false;
    ReadString(*key, kOutFolder, strOutFolder);
    ReadString(*key, kSnapFolder, strSnapFolder);
    ReadString(*key, kImageType, strImageType);
    ReadString(*key, kAction, strAction);
    if (std::optional<RegValue> value = key->Query(kCpuUsage);
        value && value->type == RegType::Dword)
        cpu_usage = value->number;
    return true;
}

bool AppSettings::Save(const std::u16string& keyPath, unsigned values) const {
    std::unique_ptr<SettingsKey> key = SettingsKey::OpenForWrite(keyPath);
    if (!key) {
        DebugTrace("settings: cannot create the key\n");
        return false;
    }
    bool ok = true;
    if (values & OutFolder) ok = key->SetString(kOutFolder, strOutFolder) && ok;
    if (values & SnapFolder) ok = key->SetString(kSnapFolder, strSnapFolder) && ok;
    if (values & ImageType) ok = key->SetString(kImageType, strImageType) && ok;
    if (values & Action) ok = key->SetString(kAction, strAction) && ok;
    if (values & CpuUsage) ok = key->SetDword(kCpuUsage, cpu_usage) && ok;
    return ok;
}

unsigned AppSettings::Differences(const AppSettings& other) const {
    unsigned mask = 0;
    if (strOutFolder != other.strOutFolder) mask |= OutFolder;
    if (strSnapFolder != other.strSnapFolder) mask |= SnapFolder;
    if (strImageType != other.strImageType) mask |= ImageType;
    if (strAction != other.strAction) mask |= Action;
    if (cpu_usage != other.cpu_usage) mask |= CpuUsage;
    return mask;
}
