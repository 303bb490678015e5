#include "ui/ShellOpen.h"

#include <QDesktopServices>
#include <QUrl>

namespace qarvia {
namespace {

class DesktopOpener final : public ShellOpener {
public:
    bool open(const QString& target) override {
        const QUrl url(target, QUrl::TolerantMode);
        return url.isValid() && QDesktopServices::openUrl(url);
    }
};

ShellOpener* current = nullptr;

} // namespace

ShellOpener& shellOpener() {
    static DesktopOpener desktop;
    return current ? *current : desktop;
}

void setShellOpener(ShellOpener* o) {
    current = o;
}

void shellOpen(const QString& target) noexcept {
    try {
        shellOpener().open(target);
    } catch (...) {
        // A link that cannot be opened does nothing visible.
    }
}

} // namespace qarvia
