#pragma once

// The progress wizard: the download page while the files arrive, then the finish page. Closing it by its
// close box, Escape or CancelBtn asks first; a confirmed close asks the owner to cancel the upgrade.

#include <QDialog>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace Ui {
class TsuUpdaterWizardForm;
}

namespace qarvia::update {

class TsuUpdaterWizardForm : public QDialog {
    Q_OBJECT
public:
    struct Settings {
        bool StayOnTop = true;
        bool HideFileLocation = false;
        QPixmap Pic118x218; // replaces the side picture when not null
    };

    explicit TsuUpdaterWizardForm(QWidget* parent = nullptr);
    ~TsuUpdaterWizardForm() override;

    // Lays the window out for `settings`, fills in the texts of the current language and shows it
    // without blocking. The window deletes itself when it closes.
    void ShowWizard(const Settings& settings);
    // The finish page: the completion note, CancelBtn disabled, FinishBtn enabled and focused.
    void ShowWizardFinish();
    bool isFinishPage() const { return finishPage; }
    // While the "abort?" question is open.
    bool isAsking() const { return asking; }

    // The fields of the download page.
    void setFileURL(const QString& url);
    void setFileCounter(int number, int count);
    void setFileSize(std::int64_t bytes);
    // Set for every block; the window shows the latest figures at most once per screen refresh.
    void setProgress(int percent, int totalPercent, double rateKBs, std::int64_t secondsLeft);
    // Shows the figures set last, now.
    void flushProgress();

    // Closes and releases the window without asking (the transfer was stopped).
    void release();

signals:
    // The user confirmed closing before the end: the upgrade is to be cancelled.
    void cancelConfirmed();
    // The user answered No to the question: the upgrade goes on.
    void cancelDeclined();
    // The window closed, whichever way.
    void wizardClosed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FinishBtnClick();
    void CancelBtnClick();

    struct Progress {
        int percent = 0;
        int totalPercent = 0;
        double rateKBs = 0;
        std::int64_t secondsLeft = 0;
    };

    enum class Closing { No, Finish, Release, Confirmed };
    Progress progress;
    bool progressPending = false;
    QElapsedTimer sinceShown;
    QTimer progressTimer;
    std::unique_ptr<Ui::TsuUpdaterWizardForm> ui;
    Closing closing = Closing::No;
    bool finishPage = false;
    bool asking = false;
};

} // namespace qarvia::update
