// Opening files, folders and addresses with the user's desktop (the shell
// "open" verb of the original platform). The real opener goes through
// QDesktopServices and falls back to running xdg-open; tests install a
// recording opener. Call from the user-interface thread.
#pragma once

#include <memory>
#include <string>

class IShellOpener {
public:
    virtual ~IShellOpener() = default;
    // `target` is a local path (file or folder, UTF-8) or an address with a
    // scheme ("https://...", "mailto:..."). Returns true when the desktop
    // accepted the request; nothing waits for the opened program.
    virtual bool Open(const std::string& target) = 0;
};

// The opener in use: the desktop one unless SetShellOpener replaced it.
IShellOpener& ShellOpener();
// Replaces the opener (null puts the desktop one back); returns the previous
// replacement so a scope can restore it.
std::unique_ptr<IShellOpener> SetShellOpener(std::unique_ptr<IShellOpener> opener);

// Shorthands through ShellOpener(). OpenURL opens an address (the hyperlink
// controls and the Help menu use it).
bool ShellOpenPath(const std::string& path);
bool OpenURL(const std::string& address);
