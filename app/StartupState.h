// The process-wide state that start-up reads before any window
// exists: the application title and home-page address from Set.xml, and the
// persisted AppSettings from the settings key "Software\" + title. The main
// window holds one StartupState for the life of the process; the disc,
// picture settings and current profile are added by their own Parts.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/AppSettings.h"

struct StartupState {
    std::u16string appTitle;    // Set.xml Title; caption, settings key
    std::u16string homePageUrl; // Set.xml Url; Help > Home Page
    AppSettings settings = AppSettings::Defaults();
    std::int32_t selectedAudioId = -1;
    std::int32_t selectedSubtitleId = -1;

    // Reads Set.xml (found with
    // FindDataFile unless `setXml` is given). A missing or unreadable file
    // leaves both strings empty. Returns whether the file was read.
    bool ReadSetXml(const std::filesystem::path& setXml = {});
    // Puts the defaults into `settings`, then the values of the settings key.
    void ReadSettings();
    // The settings key path for the current title.
    std::u16string SettingsKeyPath() const { return AppSettings::KeyPath(appTitle); }
};
