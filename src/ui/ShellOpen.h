#pragma once

// Hands a web address or a "mailto:" address to the desktop (browser, mail program). Failures are silent:
// a link that cannot be opened does nothing visible. Tests replace the opener with setShellOpener() and
// read what would have been opened.

#include <QString>

namespace qarvia {

class ShellOpener {
public:
    virtual ~ShellOpener() = default;
    // Asks the desktop to open target; returns whether it accepted.
    virtual bool open(const QString& target) = 0;
};

ShellOpener& shellOpener();
// Installs o; nullptr restores the desktop opener. The caller keeps ownership of o.
void setShellOpener(ShellOpener* o);

// Opens target through the current opener, dropping any failure.
void shellOpen(const QString& target) noexcept;

} // namespace qarvia
