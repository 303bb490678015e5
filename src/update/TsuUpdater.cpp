#include "update/TsuUpdater.h"

#include "text/Encoding.h"
#include "ui/Dialogs.h"
#include "ui/ShellOpen.h"
#include "update/TransferUrl.h"
#include "update/stub/InstallJournal.h"
#include "update/stub/StubImage.h"
#include "update/stub/StubInstaller.h"
#include "update/wizard/TsuUpdaterMessageForm.h"
#include "update/wizard/TsuUpdaterPasswordForm.h"
#include "update/wizard/TsuUpdaterWizardForm.h"
#include "update/wizard/UpdaterWindows.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTimerEvent>

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <utility>

// Builds that install through a package manager switch self-replacement off (QARVIA_SELF_UPDATE=OFF).
#ifndef QARVIA_SELF_UPDATE
#define QARVIA_SELF_UPDATE 1
#endif

namespace qarvia::update {

namespace fs = std::filesystem;
using M = TsuUpdaterShowMessage;

namespace {

struct ProcessState {
    std::mutex mutex;
    std::string stubPath;
    std::function<bool()> connectivity;
};

ProcessState& processState() {
    static ProcessState s;
    return s;
}

std::string defaultStubPath() {
    std::error_code ec;
    fs::path dir = fs::temp_directory_path(ec);
    if (ec || !fs::is_directory(dir, ec)) {
        const QString program = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
        dir = fs::path(program.toStdString());
    }
    return (dir / "qarvia-update-stub").string();
}

bool interfaceIsUp() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool up = false;
    for (ifaddrs* i = list; i && !up; i = i->ifa_next) {
        if (!i->ifa_addr || (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_RUNNING))
            continue;
        up = i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6;
    }
    freeifaddrs(list);
    return up;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The last segment of a URL's path, without its query: the name the password window shows.
std::string lastPathSegment(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const auto scheme = path.find("://");
    if (scheme != std::string::npos)
        path = path.substr(scheme + 3);
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

// The publisher writes the message in GBK; a text that already reads as UTF-8 is taken as it is.
QString messageText(const std::string& raw) {
    if (text::isValidUtf8(raw))
        return QString::fromStdString(raw);
    return QString::fromStdString(text::gbkToUtf8(raw));
}

} // namespace

TsuUpdater::TsuUpdater(QObject* parent) : TsuCustomHTTP(parent) {
    if (QCoreApplication::instance())
        ProgramFileName = QCoreApplication::applicationFilePath().toStdString();
    // The stub left behind by the previous upgrade.
    std::error_code ec;
    fs::remove(StubPath(), ec);
    setWizardLanguage(wlAuto);

    TsuCustomHTTP::OnHeaders = [this](const TsuHTTPHeaders& h, bool& c) { handleHeaders(h, c); };
    TsuCustomHTTP::OnProgress = [this](const TsuHTTPProgress& p) { handleProgress(p); };
    TsuCustomHTTP::OnPasswordRequest = [this](const std::string& realm, bool& again) { handlePassword(realm, again); };
    TsuCustomHTTP::OnDone = [this](const std::string&, TsuTransferStream& s, std::int64_t) { handleDone(s); };
    TsuCustomHTTP::OnConnLost = [this](const std::string&, TsuTransferStream&, std::int64_t, std::int64_t) {
        handleConnLost();
    };
    TsuCustomHTTP::OnHostUnreachable = [this] { handleHostUnreachable(); };
    TsuCustomHTTP::OnHTTPError = [this](int status, TsuTransferStream&) { handleHTTPError(status); };
    TsuCustomHTTP::OnSkipped = [this] {
        if (CheckingInfo)
            noInfoFile(false); // too large to be an information file
        else
            afterAbortQuestion([this] {
                if (fileRejected)
                    rejectDownload();
                else
                    DownloadNextFile(false);
            });
    };
}

TsuUpdater::~TsuUpdater() {
    *alive = false;
    signalCompletion();
    autoCheck = false;
    if (timerId != 0)
        killTimer(timerId);
    if (wizard)
        delete wizard.data();
}

void TsuUpdater::setAutoCheck(bool value) {
    if (autoCheck == value)
        return;
    autoCheck = value;
    ArmAutoCheck();
}

void TsuUpdater::ArmAutoCheck() {
    if (timerId != 0) {
        killTimer(timerId);
        timerId = 0;
    }
    if (autoCheck && !AutoCheckFired && AutoCheckDelay > 0) {
        timerId = startTimer(AutoCheckDelay);
        if (timerId == 0)
            throw std::runtime_error("Not enough timers available");
    }
}

void TsuUpdater::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId) {
        TsuCustomHTTP::timerEvent(event);
        return;
    }
    runGuarded([this] { autoCheckFired(); });
}

void TsuUpdater::autoCheckFired() {
    if (!IsInternetConnected() || !autoCheck)
        return; // the timer keeps running and tries again after the same delay
    AutoCheckFired = true;
    ArmAutoCheck();
    BeginUpdateCheck();
    SilentCheck = true;
}

bool TsuUpdater::IsInternetConnected() const {
    std::function<bool()> test;
    {
        auto& s = processState();
        std::lock_guard lock(s.mutex);
        test = s.connectivity;
    }
    return test ? test() : interfaceIsUp();
}

void TsuUpdater::setConnectivityTest(std::function<bool()> test) {
    auto& s = processState();
    std::lock_guard lock(s.mutex);
    s.connectivity = std::move(test);
}

std::string TsuUpdater::StubPath() {
    auto& s = processState();
    std::lock_guard lock(s.mutex);
    if (s.stubPath.empty())
        s.stubPath = defaultStubPath();
    return s.stubPath;
}

void TsuUpdater::setStubPath(const std::string& path) {
    auto& s = processState();
    std::lock_guard lock(s.mutex);
    s.stubPath = path;
}

void TsuUpdater::setWizardLanguage(TsuUpdaterLanguage language) {
    if (language == wizardLanguage && language != wlAuto)
        return;
    wizardLanguage = language;
    selectLanguage(language);
}

std::string TsuUpdater::LInfo() const {
    return EncodeLInfo(HTTPUsername, HTTPPassword).value_or(std::string());
}

bool TsuUpdater::setLInfo(const std::string& record) {
    const auto login = DecodeLInfo(record);
    if (!login)
        return false;
    HTTPUsername = login->first;
    HTTPPassword = login->second;
    return true;
}

std::string TsuUpdater::ProgramDirectory() const {
    return fs::path(ProgramFileName).parent_path().string();
}

void TsuUpdater::Loaded(const QStringList& arguments) {
    const stub::Recovery recovery =
        ProgramFileName.empty() ? stub::Recovery{} : stub::recoverInstall(ProgramFileName);
    if (recovery.outcome == stub::RecoveryOutcome::RolledBack) {
        showUpdateMessage(tableText(usLastUpdateIncomplete), MessageIcon::Warning);
    } else if (recovery.outcome == stub::RecoveryOutcome::Failed) {
        // Told at every start until the old files could be put back.
        showUpdateMessage(tableText(usLastUpdateIncomplete) + QStringLiteral("\n\n") +
                              QString::fromStdString(recovery.error),
                          MessageIcon::Error);
    }
    const bool restarted = arguments.size() > 1 && arguments.at(1).toStdString() == restartParams;
    RestartArguments.clear();
    for (qsizetype i = restarted ? 2 : 1; i < arguments.size(); ++i)
        RestartArguments.push_back(arguments.at(i).toStdString());
    if (OnAfterRestart && restarted)
        OnAfterRestart(*this);
}

void TsuUpdater::BeginUpdateCheck() {
    Aborted = false;
    SilentCheck = false;
    if (Active())
        return;
    CheckingInfo = true;
    TsuCustomHTTP::CacheOptions = CacheOptions + TsuCacheOption::coPragmaNoCache;
    URL = InfoFileURL;
    OutputFileName.clear();
    StartTransfer(0, 0, false);
}

void TsuUpdater::CancelUpgrade() {
    Aborted = true;
    heldOutcome = nullptr;
    stopUpdateTransfer(true);
    DeletePartialDownloads();
    if (OnAborted)
        OnAborted(*this);
}

void TsuUpdater::StopUpdateTransfer() {
    stopUpdateTransfer(false);
}

void TsuUpdater::stopUpdateTransfer(bool deletePartial) {
    signalCompletion();
    StopTransfer(deletePartial, false);
    if (wizard)
        wizard->release();
}

void TsuUpdater::signalCompletion() {
    if (completionWait)
        completionWait->quit();
}

void TsuUpdater::DeletePartialDownloads() {
    std::error_code ec;
    const fs::path dir = ProgramDirectory().empty() ? fs::path(".") : fs::path(ProgramDirectory());
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 5 && lowerAscii(name.substr(name.size() - 5)) == ".utmp")
            doomed.push_back(it->path());
    }
    for (const auto& path : doomed)
        fs::remove(path, ec);
}

void TsuUpdater::openWizard() {
    if (!wizard) {
        wizard = new TsuUpdaterWizardForm;
        const std::weak_ptr<bool> guard = alive;
        connect(wizard, &TsuUpdaterWizardForm::cancelConfirmed, this, [this, guard] {
            if (!guard.expired())
                CancelUpgrade();
        });
        connect(wizard, &TsuUpdaterWizardForm::wizardClosed, this, [this] { signalCompletion(); });
        connect(wizard, &TsuUpdaterWizardForm::cancelDeclined, this, [this] {
            // Once the question's close event is over, so that the finish page can close again (and behind
            // a question asked again meanwhile).
            if (heldOutcome) {
                QTimer::singleShot(0, this, [this, next = std::exchange(heldOutcome, nullptr)] {
                    runGuarded([&] { afterAbortQuestion(next); });
                });
            }
        });
    }
    wizard->ShowWizard({Wizard.StayOnTop, Wizard.HideFileLocation, Wizard.Pic118x218});
}

void TsuUpdater::afterAbortQuestion(std::function<void()> next) {
    if (wizard && wizard->isAsking()) {
        heldOutcome = std::move(next);
        return;
    }
    next();
}

void TsuUpdater::DownloadNextFile(bool first) {
    if (first) {
        CheckingInfo = false;
        CurrentFileIndex = 0;
        UpgradeFinished = false;
        // Only this update's files may reach the stub: leftovers of an earlier, unfinished one go.
        DeletePartialDownloads();
        if (Wizard.Enabled)
            openWizard();
    } else {
        ++CurrentFileIndex;
    }
    TsuCustomHTTP::CacheOptions = CacheOptions;

    const int count = static_cast<int>(UpdateFiles.size());
    if (CurrentFileIndex < count) {
        const std::string& url = UpdateFiles[static_cast<std::size_t>(CurrentFileIndex)];
        if (wizard) {
            wizard->setFileURL(QString::fromStdString(url));
            wizard->setFileCounter(CurrentFileIndex + 1, count);
        }
        URL = url;
        fileRejected = false;
        OutputFileName = DownloadTempName(ProgramDirectory(), url);
        OutputFileAttributes.Incomplete = {TsuFileAttribute::atrArchive, TsuFileAttribute::atrHidden,
                                           TsuFileAttribute::atrTemporary};
        FileTime = 0;
        fileTimeGMT = 0;
        StartTransfer(0, 0, false);
        return;
    }

    if (wizard) {
        wizard->ShowWizardFinish();
        // Wait, with the windows alive, until the wizard is closed or the application ends.
        QEventLoop wait;
        completionWait = &wait;
        const std::weak_ptr<bool> guard = alive;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, &wait, &QEventLoop::quit);
        if (wizard && !QCoreApplication::closingDown())
            wait.exec();
        if (guard.expired())
            return;
        completionWait = nullptr;
        if (Aborted || QCoreApplication::closingDown())
            return;
    }
    UpgradeFinished = true;
    bool restart = true;
    if (OnEndUpgrade)
        OnEndUpgrade(*this, restart);
    if (restart)
        RestartWithParams();
}

bool TsuUpdater::flushDownloads(std::string& error) {
    std::error_code ec;
    const fs::path dir = ProgramDirectory().empty() ? fs::path(".") : fs::path(ProgramDirectory());
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 5 && lowerAscii(name.substr(name.size() - 5)) == ".utmp" &&
            !stub::flushFile(it->path(), &error))
            return false;
    }
    return stub::flushFolder(dir, &error);
}

bool TsuUpdater::RestartWithParams(const std::string& params) {
    if (!UpgradeFinished)
        DeletePartialDownloads();
    const std::string paramText = params.empty() ? restartParams + MethodCharacter(UpgradeMethodDigit) : params;
    const std::string stub = StubPath();
    std::string error;
    pid_t pid = -1;
    // The downloads are on the disk before the stub starts moving them: a power cut after that point finds
    // complete files, whichever names they then have.
    if (flushDownloads(error) && stub::writeStubImage(stub, &error)) {
        pid = stub::startProgram(stub, stub::stubArguments(ProgramFileName, paramText, RestartArguments), &error,
                                 {std::string(stub::ParentPidVariable) + "=" + std::to_string(getpid())});
    }
    if (pid < 0) {
        // Terminating now would leave the user with neither the update nor the program.
        showUpdateMessage(tableText(usNotApplied, error), MessageIcon::Error);
        return false;
    }
    Restarting = true;
    if (OnDoOwnCloseAppMethod) {
        OnDoOwnCloseAppMethod(*this);
    } else {
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    }
    return true;
}

void TsuUpdater::OpenInBrowser(const std::string& url) {
    std::string target = url;
    if (target.find("://") == std::string::npos)
        target = "http://" + target;
    shellOpen(QString::fromStdString(target));
}

bool TsuUpdater::CanReplaceProgram() const {
    if (!QARVIA_SELF_UPDATE)
        return false;
    const std::string dir = ProgramDirectory();
    return access(dir.empty() ? "." : dir.c_str(), W_OK) == 0;
}

void TsuUpdater::handleHeaders(const TsuHTTPHeaders& headers, bool& Continue) {
    const bool body = headers.StatusCode == 200 || headers.StatusCode == 206;
    if (CheckingInfo) {
        // Announced larger than any information file: not read at all.
        if (body && headers.ContentLength > MaxInfoFileSize)
            Continue = false;
        return;
    }
    if (const ListedFile* listed = currentListing();
        body && listed &&
        (listed->unreadableFacts ||
         (listed->size && headers.ContentLength > 0 && headers.ContentLength != *listed->size))) {
        // Not the file that was published (a server announcing a length short of it included): not read.
        fileRejected = true;
        Continue = false;
        return;
    }
    FileTime = headers.LastModified;
    fileTimeGMT = headers.LastModifiedGMT;
    currentFileSize = headers.ContentLength;
    if (wizard)
        wizard->setFileSize(headers.ContentLength);
    bool canUpgrade = true;
    if (MiscFilesUpgrade == TsuMiscFilesUpgradeBehavior::mfuOnlyIfSizeDifferent && headers.ContentLength != 0 &&
        UpdateFiles.size() > 1) {
        const std::string finalName = OutputFileName.substr(0, OutputFileName.size() - std::string(".uTMP").size());
        const std::string name = fs::path(finalName).filename().string();
        const std::string programName = fs::path(ProgramFileName).filename().string();
        std::error_code ec;
        if (lowerAscii(name) != lowerAscii(programName) && fs::is_regular_file(finalName, ec)) {
            const auto size = fs::file_size(finalName, ec);
            canUpgrade = ec || static_cast<std::int64_t>(size) != headers.ContentLength;
        }
    }
    if (OnFileStart)
        OnFileStart(*this, URL, static_cast<std::int32_t>(headers.ContentLength), FileTime, canUpgrade);
    Continue = canUpgrade;
}

void TsuUpdater::handleProgress(const TsuHTTPProgress& p) {
    if (CheckingInfo) {
        // Reading stops here, so an endless or huge body never gets held whole.
        if (p.BytesRead > MaxInfoFileSize) {
            StopUpdateTransfer();
            noInfoFile(false);
        }
        return;
    }
    if (const ListedFile* listed = currentListing(); listed && listed->size && p.BytesRead > *listed->size) {
        rejectDownload(); // stops the transfer, which deletes what it wrote
        return;
    }
    const int count = std::max<int>(1, static_cast<int>(UpdateFiles.size()));
    const int base = static_cast<int>((CurrentFileIndex * 100.0) / count + 0.5);
    const auto total = static_cast<std::uint8_t>(base + p.PercentsDone / count);
    if (OnProgress)
        OnProgress(*this, URL, p.Size, p.BytesRead, p.ElapsedTime, p.EstimatedTimeLeft, p.PercentsDone, total,
                   p.TransferRate);
    if (wizard)
        wizard->setProgress(p.PercentsDone, total, p.TransferRate, p.EstimatedTimeLeft);
}

void TsuUpdater::handlePassword(const std::string& realm, bool& tryAgain) {
    if (OnPasswordRequest)
        OnPasswordRequest(*this, realm, tryAgain);
    if (!tryAgain && ShowMessages.contains(M::mPasswordRequest)) {
        tryAgain = TsuUpdaterPasswordForm::AskLogin(lastPathSegment(URL), HTTPUsername, HTTPPassword);
        if (!tryAgain)
            CancelUpgrade();
    }
}

void TsuUpdater::handleDone(TsuTransferStream& stream) {
    if (CheckingInfo) {
        handleInfoFile(stream.data());
        return;
    }
    if (const ListedFile* listed = currentListing();
        listed && CheckDownloadedFile(OutputFileName, *listed) != FileVerdict::Matches) {
        afterAbortQuestion([this] { rejectDownload(); });
        return;
    }
    if (fileTimeGMT != 0) {
        // Last write time (not the access time), to two seconds as the file systems of old kept it.
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(fileTimeGMT - fileTimeGMT % 2), 0}};
        utimensat(AT_FDCWD, OutputFileName.c_str(), times, 0);
    }
    const std::string done = OutputFileName;
    if (OnFileDone)
        OnFileDone(*this, done);
    afterAbortQuestion([this] { DownloadNextFile(false); });
}

void TsuUpdater::handleInfoFile(const std::string& body) {
    if (static_cast<std::int64_t>(body.size()) > MaxInfoFileSize) {
        noInfoFile(false);
        return;
    }
    InfoCheck check = CheckInfoFile(body, publicKey);
    if (!check.accepted()) {
        noInfoFile(true);
        return;
    }
    // With a key, only what the signature covers is read.
    const std::string_view text = check.entries;
    ListedFiles = std::move(check.files);
    UpdateFiles.clear();
    for (const ListedFile& file : ListedFiles)
        UpdateFiles.push_back(file.url);
    bool newer = false;
    if (VersionControl == TsuUpdaterVersionControl::byNumber)
        newer = IsNewerByNumber(ReadInfoValue(text, "version"), VersionNumber);
    else
        newer = IsNewerByDate(VersionDate, ReadInfoValue(text, "date"), TodayDate());

    if (!newer || UpdateFiles.empty()) {
        if (OnNoUpdateAvailable)
            OnNoUpdateAvailable(*this);
        if (!SilentCheck && ShowMessages.contains(M::mNoUpdateAvailable))
            showUpdateMessage(tableText(usNoUpdate), MessageIcon::Information);
    } else {
        bool canUpgrade = true;
        const std::string message = ReadInfoValue(text, "message", true);
        UpgradeMethodDigit = ReadUpgradeMethodDigit(text);
        TsuUpgradeMethod method = UpgradeMethodFromDigit(UpgradeMethodDigit);
        // A copy that may not replace itself takes the redirect road, and says why in its question.
        const bool notifyOnly = method != TsuUpgradeMethod::umRedirectToURL && !CanReplaceProgram();
        if (notifyOnly)
            method = TsuUpgradeMethod::umRedirectToURL;
        if (OnBeginUpgrade)
            OnBeginUpgrade(*this, message, method, UpdateFiles, canUpgrade);
        if (!canUpgrade || (ShowMessages.contains(M::mAskUpgrade) &&
                            !TsuUpdaterMessageForm::AskUpgrade(messageText(message), nullptr,
                                                               notifyOnly ? usNotifyOnly : usAskUpgrade))) {
            if (OnLaterUpgrade)
                OnLaterUpgrade(*this);
        } else if (method == TsuUpgradeMethod::umRedirectToURL) {
            OpenInBrowser(UpdateFiles.front());
        } else {
            DownloadNextFile(true);
        }
    }
    signalCompletion();
}

void TsuUpdater::noInfoFile(bool notVerified) {
    signalCompletion();
    if (OnNoInfoFile)
        OnNoInfoFile(*this);
    // Information that fails its signature is told to a user who is there to read it, whatever
    // ShowMessages holds: it may be an attempt to slip a program onto the machine.
    if (notVerified) {
        if (!SilentCheck)
            showUpdateMessage(tableText(usInfoNotVerified), MessageIcon::Error);
    } else if (ShowMessages.contains(M::mNoInfoFile)) {
        showUpdateMessage(tableText(usNoInfoFile), MessageIcon::Error);
    }
}

const ListedFile* TsuUpdater::currentListing() const {
    if (CheckingInfo || CurrentFileIndex < 0 || static_cast<std::size_t>(CurrentFileIndex) >= ListedFiles.size())
        return nullptr;
    const ListedFile& listed = ListedFiles[static_cast<std::size_t>(CurrentFileIndex)];
    return listed.url == URL ? &listed : nullptr;
}

void TsuUpdater::rejectDownload() {
    // A file that is not the published one ends the whole update: none of its files may reach the stub.
    const std::string name = FileNamePartOfURL(URL);
    Aborted = true;
    stopUpdateTransfer(true);
    DeletePartialDownloads();
    showUpdateMessage(tableText(usFileNotVerified, name), MessageIcon::Error);
    if (OnAborted)
        OnAborted(*this);
}

void TsuUpdater::handleConnLost() {
    if (!CheckingInfo && !OutputFileName.empty()) {
        // A file that ended short must never reach the stub.
        std::error_code ec;
        fs::remove(OutputFileName, ec);
    }
    // The connection may be fine: the file could not be written (read-only folder, full disk, ...).
    const std::string storeError = CheckingInfo ? std::string() : LastStoreError();
    const std::string fileName = OutputFileName;
    afterAbortQuestion([this, storeError, fileName] {
        if (OnConnLost)
            OnConnLost(*this);
        if (ShowMessages.contains(M::mConnLost)) {
            if (!storeError.empty())
                showUpdateMessage(tableText(usWriteFailed, fileName, storeError), MessageIcon::Error);
            else
                showUpdateMessage(tableText(usConnLost), MessageIcon::Error);
        }
        StopUpdateTransfer();
    });
}

void TsuUpdater::handleHostUnreachable() {
    if (!CheckingInfo && wizard && wizard->isAsking()) {
        afterAbortQuestion([this] { handleHostUnreachable(); });
        return;
    }
    const auto parts = SplitTransferURL(URL);
    const std::string host = parts ? parts->host : std::string();
    if (OnHostUnreachable)
        OnHostUnreachable(*this, URL, host);
    if (SilentCheck) {
        AutoCheckFired = false;
        runGuarded([this] { ArmAutoCheck(); });
    } else if (ShowMessages.contains(M::mHostUnreachable)) {
        showUpdateMessage(tableText(usHostUnreachable, "http://" + host), MessageIcon::Error);
    }
    StopUpdateTransfer();
}

void TsuUpdater::handleHTTPError(int status) {
    if (CheckingInfo) {
        noInfoFile(false);
        return;
    }
    if (wizard && wizard->isAsking()) {
        afterAbortQuestion([this, status] { handleHTTPError(status); });
        return;
    }
    bool continueUpgrade = false;
    if (OnLostFile)
        OnLostFile(*this, URL, status, continueUpgrade);
    if (ShowMessages.contains(M::mLostFile))
        continueUpgrade = askSkipLostFile(FileNamePartOfURL(URL), status);
    if (continueUpgrade)
        DownloadNextFile(false);
    else
        CancelUpgrade();
}

} // namespace qarvia::update
