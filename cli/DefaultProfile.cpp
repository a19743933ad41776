#include "cli/DefaultProfile.h"

#include "platform/win/DataFiles.h"
#include "platform/win/MessageService.h"
#include "platform/win/TextConvert.h"

std::unique_ptr<ProfileCatalogue> LoadCatalogue() {
    auto catalogue = std::make_unique<ProfileCatalogue>();
    if (!catalogue->Load(FindDataFile("Format.xml"))) {
        MessageService::Show("Load Format.xml error");
        return nullptr;
    }
    return catalogue;
}

bool DefaultProfile(const ProfileCatalogue& catalogue, OutputProfile& out) {
    if (catalogue.FindByIndex(1, out)) return true;
    catalogue.Lock();
    const auto* first = catalogue.First();
    if (first) out = first->profile;
    catalogue.Unlock();
    return first != nullptr;
}

std::string DefaultProfileExtension() {
    auto catalogue = LoadCatalogue();
    OutputProfile profile = EmptyProfile();
    if (!catalogue || !DefaultProfile(*catalogue, profile)) return "";
    return Utf16ToUtf8(TextOf(profile.FormatExt));
}
