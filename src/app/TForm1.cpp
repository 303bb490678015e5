#include "app/TForm1.h"

#include "app/Skin.h"
#include "app/TAboutForm.h"
#include "calc/CalculatorPages.h"
#include "ranking/RankingPage.h"
#include "ui/Dialogs.h"
#include "ui/DigitKeyFilter.h"
#include "ui/ShellOpen.h"
#include "ui/TXuanxiuForm.h"
#include "ui/WebView.h"
#include "ui/WindowFrame.h"
#include "ui_ExperienceSheet.h"
#include "ui_FusionSheet.h"
#include "ui_HuaxueSheet.h"
#include "ui_RankingSheet.h"
#include "ui_TForm1.h"
#include "update/TsuUpdater.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTabBar>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <exception>

namespace qarvia {
namespace {

constexpr int kClientWidth = 630;
constexpr int kClientHeight = 470;
constexpr int kSimulatorPage = 3;
constexpr int kOffScreenLeft = -1000;
constexpr int kUnpaintedCheckDelayMs = 1000;

// Moves the main window out of view for the length of a scope and brings it back to its left coordinate on
// every way out. Where the window system refuses to move windows off screen, the window is hidden instead.
class OffScreen {
public:
    explicit OffScreen(QWidget* w) : window_(w), left_(w->x()) {
        hidden_ = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
        if (hidden_)
            window_->hide();
        else
            window_->move(kOffScreenLeft, window_->y());
    }
    ~OffScreen() {
        window_->move(left_, window_->y());
        if (hidden_)
            window_->show();
    }
    OffScreen(const OffScreen&) = delete;
    OffScreen& operator=(const OffScreen&) = delete;

private:
    QWidget* window_;
    int left_;
    bool hidden_ = false;
};

} // namespace

TForm1::TForm1(const ProgramSettings& settings, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TForm1>()), settings_(settings) {
    ui->setupUi(this);
    ui->centralwidget->setFixedSize(kClientWidth, kClientHeight);
    setFixedSize(kClientWidth, kClientHeight + ui->MainMenu1->sizeHint().height());
    digitKeyFilter_ = new DigitKeyFilter(this);
    // A page's controls are made when the page first shows (see eventFilter), so start-up makes, lays out and
    // styles only the page the window opens on.
    for (QWidget* sheet : {ui->TabSheet1, ui->TabSheet2, ui->TabSheet3, ui->TabSheet5})
        sheet->installEventFilter(this);

    connect(ui->PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);
    connect(ui->N2, &QAction::triggered, this, &TForm1::N2Click);
    connect(ui->N31, &QAction::triggered, this, &TForm1::N31Click);
    connect(ui->N3, &QAction::triggered, this, &TForm1::N3Click);

    loadUpdaterSettings();
    FormCreate();
    centreWhenShown(this, desktopArea);
}

TForm1::~TForm1() = default;

namespace {

// Makes a page's controls from its form onto the tab control's sheet. The tab control keeps the sheet's place;
// a sheet already on screen shows its new controls at once; the page's controls follow the tab bar in the
// keyboard's tab order, in the order the page's form gives them.
template <class Form> void setUpSheet(std::unique_ptr<Form>& form, QWidget* sheet, QTabBar* tabBar) {
    const QRect placed = sheet->geometry();
    form = std::make_unique<Form>();
    form->setupUi(sheet);
    sheet->setGeometry(placed);
    if (sheet->isVisible()) {
        for (QWidget* child : sheet->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!child->testAttribute(Qt::WA_WState_ExplicitShowHide))
                child->show();
    }
    QList<QWidget*> stops;
    for (QWidget* w = sheet->nextInFocusChain(); w != sheet; w = w->nextInFocusChain())
        if (sheet->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus))
            stops << w;
    QWidget* previous = tabBar;
    for (QWidget* w : stops) {
        QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

} // namespace

void TForm1::buildPages() {
    for (int index = 0; index < ui->PageControl1->count(); ++index)
        buildPage(index);
}

void TForm1::buildPage(int index) {
    switch (index) {
    case 0:
        buildExperienceSheet();
        break;
    case 1:
        buildFusionSheet();
        break;
    case 2:
        buildHuaxueSheet();
        break;
    case 4:
        buildRankingSheet();
        break;
    default:
        break; // the simulator's page holds no controls
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        const int index = ui->PageControl1->indexOf(qobject_cast<QWidget*>(watched));
        if (index >= 0) {
            watched->removeEventFilter(this);
            buildPage(index);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::buildExperienceSheet() {
    if (experienceUi_)
        return;
    setUpSheet(experienceUi_, ui->TabSheet1, ui->PageControl1->tabBar());
    Ui::ExperienceSheet& f = *experienceUi_;
    // SimSun where the desktop has it; else the window's own serif, cut from Noto Serif CJK SC, with the full
    // faces behind it for characters it lacks.
    loadWindowFonts();
    QFont resultFont(QStringList{QStringLiteral("SimSun"), QStringLiteral("Qarvia Serif"),
                                 QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    resultFont.setPixelSize(19);
    f.calResult->setFont(resultFont);
    for (QLineEdit* box : {f.role1, f.role2, f.pet1, f.pet2, f.soul1, f.soul2, f.dannum})
        digitKeyFilter_->attach(box);
    experiencePage_ = new ExperiencePage({f.role1, f.role2, f.pet1, f.pet2, f.soul1, f.soul2, f.star, f.level, f.dannum,
                                          f.btnCalculate, f.Button2, f.calResult},
                                         this);
}

void TForm1::buildFusionSheet() {
    if (fusionUi_)
        return;
    setUpSheet(fusionUi_, ui->TabSheet2, ui->PageControl1->tabBar());
    Ui::FusionSheet& f = *fusionUi_;
    for (QLineEdit* box : {f.Edit1, f.Edit2, f.Edit3, f.Edit4, f.Edit5, f.Edit6, f.Edit13, f.Edit14})
        digitKeyFilter_->attach(box);
    fusionPage_ = new FusionPage({f.Edit1, f.Edit2, f.Edit3, f.Edit13, f.Edit4, f.Edit5, f.Edit6, f.Edit14, f.Edit7,
                                  f.Edit8, f.Edit9, f.Edit10, f.Edit11, f.Edit12, f.ronghedian, f.yuanhunBtn},
                                 this);
}

void TForm1::buildHuaxueSheet() {
    if (huaxueUi_)
        return;
    setUpSheet(huaxueUi_, ui->TabSheet3, ui->PageControl1->tabBar());
    Ui::HuaxueSheet& f = *huaxueUi_;
    digitKeyFilter_->attach(f.HuaXueDanPrice);
    digitKeyFilter_->attach(f.HuaXueStringGrid);
    huaxuePage_ = new HuaxuePage({ui->TabSheet3, f.HuaXueStringGrid, f.Huaxuedantot, f.huaxuedansumlb, f.HuaXueDanPrice,
                                  f.PriceSum, f.CalHuaxueBtn, f.ResetHuaxueBtn},
                                 this);
}

void TForm1::buildRankingSheet() {
    if (rankingUi_)
        return;
    setUpSheet(rankingUi_, ui->TabSheet5, ui->PageControl1->tabBar());
    rankingUi_->herolist->setColumnHidden(9, true);
    writeRankingHeaders();
    rankingPage_ = new RankingPage(rankingControls(), settings_.rankUrl, this);
}

RankingControls TForm1::rankingControls() {
    buildRankingSheet();
    const Ui::RankingSheet& f = *rankingUi_;
    return {ui->TabSheet5, f.Label30, f.herorankEdit, f.herorankSoBtn, f.heronum_lbe,
            f.herolist,    f.Label31, f.pagenum_lbe,  f.herorank_pu,   f.herorank_pd};
}

RankingPage* TForm1::rankingPage() {
    buildRankingSheet();
    return rankingPage_;
}

HuaxuePage* TForm1::huaxuePage() {
    buildHuaxueSheet();
    return huaxuePage_;
}

void TForm1::FormCreate() {
    setWindowTitle(QString::fromUtf8("Qarvia游戏工具箱  ") + QString::fromLatin1(AppVersion) +
                   QString::fromUtf8("  - 本工具箱由Lumora游戏网制作"));
    ui->TopBrowser->Navigate(settings_.bannerUrl);
    // Seeded from the clock, in nanoseconds, so two starts within one millisecond still draw apart.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    QRandomGenerator random(quint32(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
    InfoFileURL = infoFileUrlFor(settings_.updateInfoUrl, int(random.bounded(100)));
    suUpdater1->VersionNumber = AppVersion;
    suUpdater1->InfoFileURL = InfoFileURL.toStdString();
    // The check itself starts right after the window's first paint (paintEvent): nothing of it shows before
    // then, and the window need not wait for the transfer library and the worker thread to start up.
    updateCheckDue_ = true;
    // The ranking grid's header row is written when its page is made (writeRankingHeaders), before the grid
    // is first seen.
}

void TForm1::writeRankingHeaders() {
    QTableWidget* grid = rankingUi_->herolist;
    const char* headers[] = {"角色名", "大区", "服务器", "等级", "门派", "势力", "人物修为", "装备修为", "总修为"};
    for (int column = 0; column < 9; ++column) {
        if (QTableWidgetItem* item = grid->horizontalHeaderItem(column))
            item->setText(QString::fromUtf8(headers[column]));
        else
            grid->setHorizontalHeaderItem(column, new QTableWidgetItem(QString::fromUtf8(headers[column])));
    }
}

void TForm1::loadUpdaterSettings() {
    using namespace update;
    suUpdater1 = new TsuUpdater(this);
    suUpdater1->setAutoCheck(true); // armed now, with the delay in force at this moment (10000 ms)
    suUpdater1->AutoCheckDelay = 86400;
    const QUrl infoFile(settings_.updateInfoUrl);
    suUpdater1->InfoFile.Files = {
        infoFile.resolved(QUrl(QStringLiteral("Qarviakit.v1.0.1.rar"))).toString().toStdString()};
    suUpdater1->InfoFile.UpgradeMsg = "1、增加Qarvia英雄榜查询功能";
    suUpdater1->InfoFileURL = settings_.updateInfoUrl.toStdString();
    suUpdater1->VersionControl = TsuUpdaterVersionControl::byNumber;
    suUpdater1->VersionDate = "11/06/2012";
    suUpdater1->VersionDateAutoSet = true;
    suUpdater1->VersionNumber = "v1.0";
    suUpdater1->Wizard.HideFileLocation = true;
    suUpdater1->setWizardLanguage(wlChineseSimplified);
    suUpdater1->Wizard.StayOnTop = false;
    suUpdater1->setUpdatePublicKey(settings_.updatePublicKey);
    suUpdater1->Loaded(QCoreApplication::arguments());
}

void TForm1::BeginUpdateCheck() {
    suUpdater1->BeginUpdateCheck();
}

void TForm1::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (updateCheckDue_)
        QTimer::singleShot(0, this, &TForm1::startDueUpdateCheck);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // A window that does not paint (started minimised, on a hidden desktop) still checks, a moment later.
    if (updateCheckDue_)
        QTimer::singleShot(kUnpaintedCheckDelayMs, this, &TForm1::startDueUpdateCheck);
}

void TForm1::startDueUpdateCheck() {
    if (!updateCheckDue_)
        return;
    updateCheckDue_ = false;
    BeginUpdateCheck();
    emit startUpFinished();
}

void TForm1::PageControl1Change(int index) {
    if (index != kSimulatorPage) {
        LastPageIndex = index;
        return;
    }
    showSimulatorPage();
}

void TForm1::showSimulatorPage() {
    {
        const QSignalBlocker quiet(ui->PageControl1);
        ui->PageControl1->setCurrentIndex(LastPageIndex);
    }
    if (inSimulator_)
        return;
    inSimulator_ = true;
    runGuarded([this] {
        // The main window is back in place before any error is shown.
        std::exception_ptr failure;
        {
            const OffScreen away(this);
            try {
                TXuanxiuForm::showPage(settings_.simulatorUrl);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        inSimulator_ = false;
        if (failure)
            std::rethrow_exception(failure);
    });
}

void TForm1::N2Click() {
    shellOpen(QStringLiteral("mailto:") + settings_.feedbackMail);
}

void TForm1::N31Click() {
    shellOpen(settings_.siteUrl);
}

void TForm1::N3Click() {
    runGuarded([this] {
        TAboutForm about(settings_.siteUrl, settings_.feedbackMail);
        centreWhenShown(&about, [this] { return outerGeometry(this); });
        about.exec();
    });
}

} // namespace qarvia
