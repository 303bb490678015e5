#pragma once

// Start-up of the toolbox: command-line options, the application object and the main window. main() is one
// call to runApplication(); tests use parseOptions() directly.

#include "app/ProgramSettings.h"

#include <QString>
#include <QStringList>

namespace qarvia {

struct AppOptions {
    bool smoke = false;     // show the window, finish start-up, exit 0
    QString screenshotFile; // grab the main window into this PNG and exit
    int tab = 0;            // the page selected for the screenshot, 0 to 4
    QString shotWindow;     // the window --screenshot grabs: empty for the main window, "about" or "wizard"
    bool skin = true;       // false with --no-skin or QARVIA_SKIN=off: the platform's look and frame
    QString rankSearch;     // a name looked up on the ranking tab once the window shows
    ProgramSettings settings = ProgramSettings::defaults();
    QStringList positional; // e.g. the restart argument after a self-update

    // Set when the program ends right after parsing: help, version or a usage error.
    bool exitNow = false;
    int exitCode = 0;
    QString output;    // text for standard output (help, version)
    QString errorText; // text for standard error (usage errors)
};

// Reads the command line (arguments[0] is the program). Every option of the program is declared here.
AppOptions parseOptions(const QStringList& arguments);

// The whole program: returns its exit code.
int runApplication(int argc, char** argv);

} // namespace qarvia
