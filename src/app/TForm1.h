#pragma once

// The main window: menu, banner, and the five tab pages (experience calculator, soul-pearl fusion, huaxue
// pills, the simulator tab that opens a window, hero ranking).

#include "app/ProgramSettings.h"
#include "ui/RankingControls.h"

#include <QMainWindow>

#include <memory>

class QPaintEvent;
class QShowEvent;

namespace Ui {
class TForm1;
class ExperienceSheet;
class FusionSheet;
class HuaxueSheet;
class RankingSheet;
}

namespace qarvia {

class DigitKeyFilter;
class ExperiencePage;
namespace update {
class TsuUpdater;
}
class FusionPage;
class HuaxuePage;
class RankingPage;

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm1(const ProgramSettings& settings = ProgramSettings::defaults(), QWidget* parent = nullptr);
    ~TForm1() override;

    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // A tab page's controls are made when the page first shows. These make them now (every page, or the one
    // at index), for a caller that drives controls the user has not opened yet.
    void buildPages();
    void buildPage(int index);
    // The hero-ranking tab's controls and the page that drives them (made first if need be).
    RankingControls rankingControls();
    RankingPage* rankingPage();
    const ProgramSettings& settings() const { return settings_; }

    // What start-up hands the self-update component: VersionNumber and InfoFileURL.
    QString versionNumber() const { return QString::fromLatin1(AppVersion); }
    QString infoFileUrl() const { return InfoFileURL; }
    // The self-update component, with the window's stored settings applied.
    update::TsuUpdater* updater() const { return suUpdater1; }
    // Whether start-up has asked suUpdater1 for its check yet: it does so once the window has first painted.
    bool updateCheckStarted() const { return !updateCheckDue_; }

    int lastPageIndex() const { return LastPageIndex; }
    HuaxuePage* huaxuePage();

signals:
    // Start-up is over: the window has painted and the update check has been asked for.
    void startUpFinished();

public slots:
    void PageControl1Change(int index);
    void N2Click();
    void N31Click();
    void N3Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    // Applies the window's stored settings to suUpdater1, in the order in which they are stored.
    void loadUpdaterSettings();
    // Starts suUpdater1's check.
    void BeginUpdateCheck();
    // Asks for the start-up check once, after the first paint (or a moment after showing, if nothing paints).
    void startDueUpdateCheck();
    void showSimulatorPage();
    void buildExperienceSheet();
    void buildFusionSheet();
    void buildHuaxueSheet();
    void buildRankingSheet();
    void writeRankingHeaders();

    std::unique_ptr<Ui::TForm1> ui;
    std::unique_ptr<Ui::ExperienceSheet> experienceUi_;
    std::unique_ptr<Ui::FusionSheet> fusionUi_;
    std::unique_ptr<Ui::HuaxueSheet> huaxueUi_;
    std::unique_ptr<Ui::RankingSheet> rankingUi_;
    ProgramSettings settings_;
    QString InfoFileURL;
    update::TsuUpdater* suUpdater1 = nullptr;
    int LastPageIndex = 0;
    bool inSimulator_ = false;
    bool updateCheckDue_ = false;
    DigitKeyFilter* digitKeyFilter_ = nullptr;
    ExperiencePage* experiencePage_ = nullptr;
    FusionPage* fusionPage_ = nullptr;
    HuaxuePage* huaxuePage_ = nullptr;
    RankingPage* rankingPage_ = nullptr;
};

} // namespace qarvia
