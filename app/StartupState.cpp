#include "app/StartupState.h"

#include "platform/win/DataFiles.h"
#include "profiles/SetXml.h"

bool StartupState::ReadSetXml(const std::filesystem::path& setXml) {
    const std::filesystem::path file = setXml.empty() ? FindDataFile("Set.xml") : setXml;
    return ::ReadSetXml(file, appTitle, homePageUrl);
}

void StartupState::ReadSettings() {
    settings.Load(SettingsKeyPath());
}
