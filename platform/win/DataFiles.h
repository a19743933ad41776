// Finding the program's data files (Format.xml, Set.xml, skin/, help) and the
// user's folders. Safe from any thread.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

// The places a data file is looked for, in order: the working folder, the
// folder of the running program (/proc/self/exe), and that folder's
// ../share/dvdconv. DVDCONV_DATA_DIR, when set, is looked at first.
std::vector<std::filesystem::path> DataFolders();

// The first existing "<folder>/<relativeName>" (file or folder) of
// DataFolders(); when none exists, `relativeName` itself, so that opening it
// fails in the usual way. Example: FindDataFile("Format.xml").
std::filesystem::path FindDataFile(std::string_view relativeName);

// The user's home folder ($HOME, else the password database, else "/").
std::filesystem::path HomeFolder();
// The user's Videos folder: $XDG_VIDEOS_DIR, else XDG_VIDEOS_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs (~/.config/user-dirs.dirs), when it names
// an existing folder; else ~/Videos when it exists; else the home folder.
// No trailing slash.
std::filesystem::path VideosFolder();
