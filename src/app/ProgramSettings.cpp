#include "app/ProgramSettings.h"

#include "app/BuildSettings.h"

namespace qarvia {

ProgramSettings ProgramSettings::defaults() {
    ProgramSettings s;
    s.bannerUrl = QStringLiteral(QARVIA_BANNER_URL);
    s.updateInfoUrl = QStringLiteral(QARVIA_UPDATE_INFO_URL);
    s.siteUrl = QStringLiteral(QARVIA_SITE_URL);
    s.simulatorUrl = QStringLiteral(QARVIA_SIMULATOR_URL);
    s.feedbackMail = QStringLiteral(QARVIA_FEEDBACK_MAIL);
    s.rankUrl = QStringLiteral(QARVIA_RANK_URL);
    s.updatePublicKey = QARVIA_UPDATE_PUBLIC_KEY;
    return s;
}

QString infoFileUrlFor(const QString& base, int draw) {
    return base + QStringLiteral("?d=") + QString::number(draw);
}

} // namespace qarvia
