// The profile catalogue as the command line sees it: Format.xml found like the
// window finds it (working folder first, then beside the program).
#pragma once

#include <memory>
#include <string>

#include "profiles/ProfileCatalogue.h"

// Loads the catalogue; null (after "Load Format.xml error" on standard error)
// when it cannot be read.
std::unique_ptr<ProfileCatalogue> LoadCatalogue();
// The entry with Index 1, else the first; false for an empty catalogue.
bool DefaultProfile(const ProfileCatalogue& catalogue, OutputProfile& out);
// FormatExt of the default profile (UTF-8), "" when there is none.
std::string DefaultProfileExtension();
