#include "platform/win/ShellOpen.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QString>
#include <QUrl>
#include <mutex>

#include "platform/win/DebugTrace.h"

namespace {

class DesktopOpener : public IShellOpener {
public:
    bool Open(const std::string& target) override {
        const QString text = QString::fromStdString(target);
        QUrl url = QUrl(text, QUrl::StrictMode);
        // A bare path (no scheme, or a one-letter "scheme" that is not one) is a local file.
        if (!url.isValid() || url.scheme().size() < 2) url = QUrl::fromLocalFile(text);
        // QDesktopServices needs a GUI application object; without one use xdg-open.
        if (QGuiApplication::instance() && QDesktopServices::openUrl(url)) return true;
        const QString arg = url.isLocalFile() ? url.toLocalFile() : url.toString();
        const bool started = QProcess::startDetached(QStringLiteral("xdg-open"), {arg});
        if (!started) DebugTrace("shell open failed: %s\n", target.c_str());
        return started;
    }
};

std::mutex openerLock;
std::unique_ptr<IShellOpener>& Replacement() {
    static std::unique_ptr<IShellOpener> opener;
    return opener;
}

} // namespace

IShellOpener& ShellOpener() {
    static DesktopOpener desktop;
    std::lock_guard lock(openerLock);
    if (Replacement()) return *Replacement();
    return desktop;
}

std::unique_ptr<IShellOpener> SetShellOpener(std::unique_ptr<IShellOpener> opener) {
    std::lock_guard lock(openerLock);
    std::swap(Replacement(), opener);
    return opener;
}

bool ShellOpenPath(const std::string& path) {
    return ShellOpener().Open(path);
}
bool OpenURL(const std::string& address) {
    return ShellOpener().Open(address);
}
