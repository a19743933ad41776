// Powering the computer off at the end of a conversion batch (the original
// platform's ExitWindowsEx). The real back end asks logind through
// "systemctl poweroff"; tests install a recording one.
#pragma once

#include <memory>

class ISystemShutdown {
public:
    virtual ~ISystemShutdown() = default;
    // Requests the power-off; returns true when the request was accepted
    // (the command ran and exited with status 0). Does not wait for the end.
    virtual bool PowerOff() = 0;
};

// The back end in use: "systemctl poweroff" unless replaced.
ISystemShutdown& SystemShutdown();
// Replaces the back end (null puts the real one back); returns the previous
// replacement.
std::unique_ptr<ISystemShutdown> SetSystemShutdown(std::unique_ptr<ISystemShutdown> backEnd);
