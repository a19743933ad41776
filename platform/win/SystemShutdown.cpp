#include "platform/win/SystemShutdown.h"

#include <mutex>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/win/DebugTrace.h"

extern char** environ;

namespace {

class SystemctlShutdown : public ISystemShutdown {
public:
    bool PowerOff() override {
        char arg0[] = "systemctl";
        char arg1[] = "poweroff";
        char* argv[] = {arg0, arg1, nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv, environ) != 0) {
            DebugTrace("shutdown: cannot run systemctl\n");
            return false;
        }
        int status = 0;
        if (waitpid(pid, &status, 0) < 0) return false;
        const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!ok) DebugTrace("shutdown: systemctl poweroff failed (status %d)\n", status);
        return ok;
    }
};

std::mutex backEndLock;
std::unique_ptr<ISystemShutdown>& Replacement() {
    static std::unique_ptr<ISystemShutdown> backEnd;
    return backEnd;
}

} // namespace

ISystemShutdown& SystemShutdown() {
    static SystemctlShutdown real;
    std::lock_guard lock(backEndLock);
    if (Replacement()) return *Replacement();
    return real;
}

std::unique_ptr<ISystemShutdown> SetSystemShutdown(std::unique_ptr<ISystemShutdown> backEnd) {
    std::lock_guard lock(backEndLock);
    std::swap(Replacement(), backEnd);
    return backEnd;
}
