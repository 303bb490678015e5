#include "app/Skin.h"

#include "app/TForm1.h"
#include "ui/TitleBar.h"
#include "ui/WebView.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>

// The resource lives in a static library: nothing would pull it into the program without this reference.
static void initSkinResources() {
    Q_INIT_RESOURCE(skin);
}

namespace qarvia {
namespace {

// The main window is exactly its client area, the menu bar and whatever the frame adds round them.
void fitToClientArea(TForm1& window) {
    const QMargins m = window.contentsMargins();
    const QSize client = window.centralWidget()->size();
    window.setFixedSize(client.width() + m.left() + m.right(),
                        client.height() + window.menuBar()->sizeHint().height() + m.top() + m.bottom());
}

} // namespace

bool skinAllowedByEnvironment() {
    return qEnvironmentVariable("QARVIA_SKIN").compare(QLatin1String("off"), Qt::CaseInsensitive) != 0;
}

QIcon applicationIcon() {
    static const bool loaded = (initSkinResources(), true);
    Q_UNUSED(loaded);
    return QIcon(QStringLiteral(":/skin/icon.svg"));
}

void applySkin(TForm1& window, bool on) {
    // The form carries the sheet; it is parsed once more as the application's, or dropped.
    const QString sheet = window.styleSheet();
    window.setStyleSheet(QString());
    if (!on) {
        fitToClientArea(window);
        return;
    }
    applicationIcon(); // the sheet's pictures come from the same resource
    qApp->setStyleSheet(sheet);
    fitToClientArea(window);
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
