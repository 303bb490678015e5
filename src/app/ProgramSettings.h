#pragma once

// The program's constants and the service addresses it talks to. The addresses are fixed at build time
// (CMake cache variables QARVIA_*_URL, QARVIA_FEEDBACK_MAIL); command-line options may point them elsewhere.

#include <QString>

#include <string>

namespace qarvia {

inline constexpr char AppVersion[] = "v1.1";

struct ProgramSettings {
    QString bannerUrl;     // BannerUrl: the page across the top of the main window
    QString updateInfoUrl; // UpdateInfoUrl: the self-update information file
    QString siteUrl;       // SiteUrl: the publisher's game-section site
    QString simulatorUrl;  // SimulatorUrl: the point-allocation simulator page
    QString feedbackMail;  // FeedbackMail: the feedback mailbox (without "mailto:")
    QString rankUrl;       // base URL of the hero ranking service
    // The key update information files must be signed with (base64 of 32 bytes; "" = unsigned updates).
    // Fixed at build time (QARVIA_UPDATE_PUBLIC_KEY): no option can change it.
    std::string updatePublicKey;

    // The addresses this build was configured with.
    static ProgramSettings defaults();
};

// The information-file address handed to the self-update component: base + "?d=" + draw (0 to 99).
QString infoFileUrlFor(const QString& base, int draw);

} // namespace qarvia
