#pragma once

// Records what the program hands the desktop (web and "mailto:" addresses) instead of opening it.
//     qarvia::ShellOpenRecorder opener;        // installed until it goes out of scope
//     ... click a link ...
//     EXPECT_EQ(opener.targets, QStringList{"mailto:someone@example.org"});

#include "ui/ShellOpen.h"

#include <QStringList>

namespace qarvia {

class ShellOpenRecorder final : public ShellOpener {
public:
    ShellOpenRecorder() { setShellOpener(this); }
    ~ShellOpenRecorder() override { setShellOpener(nullptr); }
    ShellOpenRecorder(const ShellOpenRecorder&) = delete;
    ShellOpenRecorder& operator=(const ShellOpenRecorder&) = delete;

    bool open(const QString& target) override {
        targets << target;
        return true;
    }

    QStringList targets;
};

} // namespace qarvia
