#pragma once

// TsuUpdater: checks the publisher's update information file at start and on a timer, asks the user about
// a newer version, downloads its files beside the program under temporary names with a progress wizard,
// and restarts the program through the replacement stub, which puts the files in place.
//
// The transfer outcomes of TsuCustomHTTP drive everything; they run on the main thread. The events below
// report to the owner; handlers may change their by-reference arguments to steer the flow.

#include "update/InfoFile.h"
#include "update/TsuCustomHTTP.h"
#include "update/UpdateTrust.h"
#include "update/UpdaterRules.h"
#include "update/wizard/TsuUpdaterWizardForm.h"
#include "update/wizard/UpdaterStrings.h"

#include <QPixmap>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QEventLoop;

namespace qarvia::update {

enum class TsuUpdaterVersionControl { byDate, byNumber };
enum class TsuMiscFilesUpgradeBehavior { mfuAlwaysDownload, mfuOnlyIfSizeDifferent };
enum class TsuUpdaterShowMessage {
    mAskUpgrade,
    mConnLost,
    mHostUnreachable,
    mLostFile,
    mNoInfoFile,
    mNoUpdateAvailable,
    mPasswordRequest,
};
using TsuUpdaterShowMessages = TsuSet<TsuUpdaterShowMessage>;
inline constexpr TsuUpdaterShowMessages DefaultShowMessages{
    TsuUpdaterShowMessage::mAskUpgrade, TsuUpdaterShowMessage::mConnLost, TsuUpdaterShowMessage::mLostFile,
    TsuUpdaterShowMessage::mPasswordRequest};

struct TsuUpdaterInfo {
    std::vector<std::string> Files;
    TsuUpgradeMethod UpgradeMethod = TsuUpgradeMethod::umSelfUpgrade;
    std::string UpgradeMsg;
};

struct TsuUpdaterWizard {
    bool Enabled = true;
    bool HideFileLocation = false;
    QPixmap Pic118x218;
    bool StayOnTop = true;
};

class TsuUpdater : public TsuCustomHTTP {
    Q_OBJECT
public:
    explicit TsuUpdater(QObject* parent = nullptr);
    ~TsuUpdater() override;

    // --- Settings, in the order in which stored settings are applied. Proxy, InternetOptions,
    // ThreadPriority, TransferBufferSize, HTTPUsername, HTTPPassword and OnProxyAuthenticationRequest are
    // those of TsuCustomHTTP.
    bool AutoCheck() const { return autoCheck; }
    void setAutoCheck(bool value); // re-arms the timer when the value changes
    std::int32_t AutoCheckDelay = 10000;
    TsuCacheOptions CacheOptions = DefaultCacheOptions; // the information file adds coPragmaNoCache
    TsuUpdaterInfo InfoFile;                            // kept with the settings; a check never reads it
    std::string InfoFileURL = "http://";
    const std::string& RestartParams() const { return restartParams; }
    void setRestartParams(const std::string& value) { restartParams = NormalizeRestartParams(value); }
    TsuMiscFilesUpgradeBehavior MiscFilesUpgrade = TsuMiscFilesUpgradeBehavior::mfuAlwaysDownload;
    TsuUpdaterVersionControl VersionControl = TsuUpdaterVersionControl::byDate;
    std::string VersionDate = FormatVersionDate(TodayDate());
    bool VersionDateAutoSet = true; // acts only while settings are edited; there is no such time here
    std::string VersionNumber;
    TsuUpdaterShowMessages ShowMessages = DefaultShowMessages;
    TsuUpdaterWizard Wizard;
    TsuUpdaterLanguage WizardLanguage() const { return wizardLanguage; }
    // Selects the texts of every update window of the process; wlAuto chooses from the desktop's locale.
    void setWizardLanguage(TsuUpdaterLanguage language);

    // The publisher's public key, base64 of its 32 raw bytes. When set, an information file counts only when
    // it is signed with it and lists every file's size and hash; "" reads files unsigned (sizes and hashes
    // that are listed are still checked). The program sets the key it was built with; tests set their own.
    const std::string& UpdatePublicKey() const { return publicKey; }
    void setUpdatePublicKey(std::string base64) { publicKey = std::move(base64); }

    // The stored login as one opaque record (see EncodeLInfo); "" when there is none. Setting a record that
    // is not well formed leaves the login as it is and returns false.
    std::string LInfo() const;
    bool setLInfo(const std::string& record);

    // The program whose directory receives the downloads and which the stub restarts. The running program
    // unless set otherwise.
    std::string ProgramFileName;
    std::string ProgramDirectory() const;
    // Where the stub is written: the temporary directory (the program's when there is none).
    static std::string StubPath();
    static void setStubPath(const std::string& path); // "" restores the default

    // Whether a network connection is up; tests replace the test. The default looks for an interface that
    // is up, not a loopback one, with an address.
    static void setConnectivityTest(std::function<bool()> test);

    // --- Events
    using Notify = std::function<void(TsuUpdater& Sender)>;
    std::function<void(TsuUpdater& Sender, const std::string& UpgradeMsg, TsuUpgradeMethod UpgradeMethod,
                       const std::vector<std::string>& Files, bool& CanUpgrade)>
        OnBeginUpgrade;
    Notify OnLaterUpgrade;
    Notify OnNoUpdateAvailable;
    Notify OnNoInfoFile;
    std::function<void(TsuUpdater& Sender, const std::string& URL, const std::string& Hostname)> OnHostUnreachable;
    Notify OnConnLost;
    std::function<void(TsuUpdater& Sender, const std::string& FileURL, std::int32_t FileSize, std::int64_t FileTime,
                       bool& CanUpgrade)>
        OnFileStart;
    std::function<void(TsuUpdater& Sender, const std::string& FileURL, std::int64_t FileSize, std::int64_t BytesRead,
                       std::int64_t ElapsedTime, std::int64_t EstimatedTimeLeft, std::uint8_t PercentsDone,
                       std::uint8_t TotalPercentsDone, float TransferRate)>
        OnProgress;
    std::function<void(TsuUpdater& Sender, const std::string& FileName)> OnFileDone;
    std::function<void(TsuUpdater& Sender, const std::string& FileURL, int ErrorCode, bool& ContinueUpgrade)>
        OnLostFile;
    std::function<void(TsuUpdater& Sender, bool& RestartImediately)> OnEndUpgrade;
    Notify OnDoOwnCloseAppMethod;
    Notify OnAborted;
    std::function<void(TsuUpdater& Sender, const std::string& Realm, bool& TryAgain)> OnPasswordRequest;
    Notify OnAfterRestart;

    // The program's own options, handed back to it after the restart argument when the stub starts it
    // again (and when it starts the old version after a failed installation). Loaded() fills them.
    std::vector<std::string> RestartArguments;

    // --- Operations (main thread)
    // To be called once the stored settings were applied, before the program's window shows. Finishes an
    // installation that was interrupted (the stub killed, the power cut) and tells the user once when it
    // had to be undone; keeps the program's options for the next restart; fires OnAfterRestart when the
    // first argument (after the program's name) equals RestartParams.
    void Loaded(const QStringList& arguments);
    void BeginUpdateCheck();
    void CancelUpgrade();
    void StopUpdateTransfer();
    void ArmAutoCheck();
    bool IsInternetConnected() const;
    void DownloadNextFile(bool first);
    // Writes and starts the stub, then closes the application. False when the stub could not be written
    // or started: the program then stays open and says so, and the downloads stay for the next try.
    bool RestartWithParams(const std::string& params = {});
    void DeletePartialDownloads();
    void OpenInBrowser(const std::string& url);
    // Whether this copy may replace its own files: not in a build without self-replacement (a package
    // build, whose files belong to the package manager), nor when the program's folder cannot be written.
    // Otherwise a newer version is only announced, with the offer to open its first address in the browser.
    bool CanReplaceProgram() const;

    // --- Run-time state
    bool CheckingInfo = false;
    bool SilentCheck = false;
    bool AutoCheckFired = false;
    bool Aborted = false;
    bool UpgradeFinished = false;
    bool Restarting = false;
    std::vector<std::string> UpdateFiles;
    std::vector<ListedFile> ListedFiles; // UpdateFiles with their listed sizes and hashes, in the same order
    int UpgradeMethodDigit = 0;
    int CurrentFileIndex = 0;
    std::int64_t FileTime = 0; // Last-Modified of the current file, local time; 0 when none
    TsuUpdaterWizardForm* WizardForm() const { return wizard.data(); }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void handleHeaders(const TsuHTTPHeaders& headers, bool& Continue);
    void handleProgress(const TsuHTTPProgress& progress);
    void handlePassword(const std::string& realm, bool& tryAgain);
    void handleDone(TsuTransferStream& stream);
    void handleConnLost();
    void handleHostUnreachable();
    void handleHTTPError(int status);
    void handleInfoFile(const std::string& text);
    void noInfoFile(bool notVerified);
    const ListedFile* currentListing() const;
    void rejectDownload();
    void openWizard();
    void signalCompletion();
    void stopUpdateTransfer(bool deletePartial);
    void autoCheckFired();
    // Runs `next` now, or, while the wizard's "abort?" question is open, once it was answered No (Yes
    // cancels the upgrade and drops it): the answer decides, whatever completed meanwhile.
    void afterAbortQuestion(std::function<void()> next);
    bool flushDownloads(std::string& error);

    bool autoCheck = false;
    int timerId = 0;
    std::string restartParams = "/afterupgrade";
    std::string publicKey;
    bool fileRejected = false; // the headers of the current file already showed it is not the listed one
    TsuUpdaterLanguage wizardLanguage = wlAuto;
    std::int64_t fileTimeGMT = 0;
    std::int64_t currentFileSize = 0;
    QPointer<TsuUpdaterWizardForm> wizard;
    QPointer<QEventLoop> completionWait;
    std::function<void()> heldOutcome; // what completed while the "abort?" question was open
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace qarvia::update
