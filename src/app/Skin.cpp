#include "app/Skin.h"

#include "app/SkinSheet.h"
#include "app/TForm1.h"
#include "ui/TitleBar.h"
#include "ui/WebView.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QResource>

// The resource lives in a static library: nothing would pull it into the program without this reference.
static void initSkinResources() {
    Q_INIT_RESOURCE(skin);
}

namespace qarvia {

bool skinAllowedByEnvironment() {
    return qEnvironmentVariable("QARVIA_SKIN").compare(QLatin1String("off"), Qt::CaseInsensitive) != 0;
}

QIcon applicationIcon() {
    static const bool loaded = (initSkinResources(), true);
    Q_UNUSED(loaded);
    return QIcon(QStringLiteral(":/skin/icon.svg"));
}

QString skinStyleSheet() {
    return QString::fromUtf8(kSkinSheet);
}

bool loadWindowFonts() {
    static const bool loaded = [] {
        bool all = true;
        for (const char* name : {":/fonts/qarvia-sans.otf", ":/fonts/qarvia-serif.otf"}) {
            const QResource font(QString::fromLatin1(name));
            // Read in place from the program's own pages: only the parts a text needs are ever loaded.
            all = all && font.isValid() && font.compressionAlgorithm() == QResource::NoCompression &&
                  QFontDatabase::addApplicationFontFromData(QByteArray::fromRawData(
                      reinterpret_cast<const char*>(font.data()), qsizetype(font.size()))) >= 0;
        }
        return all;
    }();
    return loaded;
}

void applySkin(bool on) {
    applicationIcon(); // the sheet's pictures come from the same resource
    // Without the skin the font is left alone, so that it follows the desktop's; it is only put back when
    // the skin had set its own.
    static const QFont platformFont = QApplication::font();
    static bool fontSet = false;
    if (on && loadWindowFonts()) {
        // Characters the window's own font lacks (a hero's name, pasted text) come from the full face it was
        // cut from, then from the desktop's fallbacks.
        QFont font = platformFont;
        font.setFamilies({QStringLiteral("Qarvia Sans"), QStringLiteral("Noto Sans CJK SC")});
        QApplication::setFont(font);
        fontSet = true;
    } else if (fontSet) {
        QApplication::setFont(platformFont);
        fontSet = false;
    }
    qApp->setStyleSheet(on ? skinStyleSheet() : QString());
}

void dressMainWindow(TForm1& window) {
    TitleBar::install(&window);
    if (auto* banner = window.findChild<WebView*>(QStringLiteral("TopBrowser")))
        banner->setFailureCover(makeBannerArtwork);
}

QWidget* makeBannerArtwork(QWidget* parent) {
    auto* art = new QFrame(parent);
    art->setObjectName(QStringLiteral("BannerArtwork"));
    auto* row = new QHBoxLayout(art);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(14);
    row->addStretch(1);
    auto* icon = new QLabel(art);
    icon->setObjectName(QStringLiteral("BannerIcon"));
    constexpr int kIconSize = 56;
    icon->setPixmap(applicationIcon().pixmap(QSize(kIconSize, kIconSize), parent->devicePixelRatioF()));
    icon->setFixedSize(kIconSize, kIconSize);
    row->addWidget(icon);
    auto* name = new QLabel(QString::fromUtf8("Qarvia游戏工具箱"), art);
    name->setObjectName(QStringLiteral("BannerName"));
    row->addWidget(name);
    row->addStretch(1);
    return art;
}

} // namespace qarvia
