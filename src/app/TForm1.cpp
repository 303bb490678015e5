#include "app/TForm1.h"

#include "app/TAboutForm.h"
#include "calc/CalculatorPages.h"
#include "ranking/RankingPage.h"
#include "ui/Dialogs.h"
#include "ui/DigitKeyFilter.h"
#include "ui/ShellOpen.h"
#include "ui/TXuanxiuForm.h"
#include "ui/WebView.h"
#include "ui/WindowFrame.h"
#include "ui_TForm1.h"
#include "update/TsuUpdater.h"

#include <QGuiApplication>
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

    QFont resultFont(
        QStringList{QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    resultFont.setPixelSize(19);
    ui->calResult->setFont(resultFont);
    ui->herolist->setColumnHidden(9, true);

    digitKeyFilter_ = new DigitKeyFilter(this);
    for (QLineEdit* box :
         {ui->role1, ui->role2, ui->pet1, ui->pet2, ui->soul1, ui->soul2, ui->dannum, ui->Edit1, ui->Edit2, ui->Edit3,
          ui->Edit4, ui->Edit5, ui->Edit6, ui->Edit13, ui->Edit14, ui->HuaXueDanPrice})
        digitKeyFilter_->attach(box);
    digitKeyFilter_->attach(ui->HuaXueStringGrid);

    experiencePage_ = new ExperiencePage({ui->role1, ui->role2, ui->pet1, ui->pet2, ui->soul1, ui->soul2, ui->star,
                                          ui->level, ui->dannum, ui->btnCalculate, ui->Button2, ui->calResult},
                                         this);
    fusionPage_ = new FusionPage({ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit13, ui->Edit4, ui->Edit5, ui->Edit6,
                                  ui->Edit14, ui->Edit7, ui->Edit8, ui->Edit9, ui->Edit10, ui->Edit11, ui->Edit12,
                                  ui->ronghedian, ui->yuanhunBtn},
                                 this);
    huaxuePage_ = new HuaxuePage({ui->TabSheet3, ui->HuaXueStringGrid, ui->Huaxuedantot, ui->huaxuedansumlb,
                                  ui->HuaXueDanPrice, ui->PriceSum, ui->CalHuaxueBtn, ui->ResetHuaxueBtn},
                                 this);
    new RankingPage(rankingControls(), settings_.rankUrl, this);

    connect(ui->PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);
    connect(ui->N2, &QAction::triggered, this, &TForm1::N2Click);
    connect(ui->N31, &QAction::triggered, this, &TForm1::N31Click);
    connect(ui->N3, &QAction::triggered, this, &TForm1::N3Click);

    loadUpdaterSettings();
    FormCreate();
    centreWhenShown(this, desktopArea);
}

TForm1::~TForm1() = default;

RankingControls TForm1::rankingControls() const {
    return {ui->TabSheet5, ui->Label30, ui->herorankEdit, ui->herorankSoBtn, ui->heronum_lbe,
            ui->herolist,  ui->Label31, ui->pagenum_lbe,  ui->herorank_pu,   ui->herorank_pd};
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
    const char* headers[] = {"角色名", "大区", "服务器", "等级", "门派", "势力", "人物修为", "装备修为", "总修为"};
    for (int column = 0; column < 9; ++column) {
        if (QTableWidgetItem* item = ui->herolist->horizontalHeaderItem(column))
            item->setText(QString::fromUtf8(headers[column]));
        else
            ui->herolist->setHorizontalHeaderItem(column, new QTableWidgetItem(QString::fromUtf8(headers[column])));
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
