#include "update/wizard/TsuUpdaterWizardForm.h"

#include "ui_TsuUpdaterWizardForm.h"
#include "update/wizard/UpdaterWindows.h"

#include <QCloseEvent>
#include <QKeyEvent>

#include <algorithm>

namespace qarvia::update {

namespace {

// The form's positions leave a group's title 13 pixels, as the system font of old needed; a taller title
// (another font, Chinese glyphs) would cover the group's first line. The lines move below the title, the
// progress bar follows when they reach it, and the group grows by what its bar moved, down to bottomLimit.
void clearGroupTitle(QGroupBox* group, QProgressBar* bar, int bottomLimit) {
    group->ensurePolished();
    QList<QWidget*> lines;
    int firstTop = bar->y();
    for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != bar && !child->isHidden()) {
            lines << child;
            firstTop = std::min(firstTop, child->y());
        }
    }
    const int shift = group->contentsRect().top() - firstTop;
    if (shift <= 0)
        return;
    int linesBottom = 0;
    for (QWidget* line : lines) {
        line->move(line->x(), line->y() + shift);
        linesBottom = std::max(linesBottom, line->y() + line->height());
    }
    constexpr int Gap = 4;
    const int barShift = std::max(0, linesBottom + Gap - bar->y());
    bar->move(bar->x(), bar->y() + barShift);
    const int grow = std::clamp(bottomLimit - (group->y() + group->height()), 0, barShift);
    group->resize(group->width(), group->height() + grow);
}

} // namespace

TsuUpdaterWizardForm::TsuUpdaterWizardForm(QWidget* parent)
    : QDialog(parent, updateWindowFlags()), ui(std::make_unique<Ui::TsuUpdaterWizardForm>()) {
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(size());
    ui->Image1->setPixmap(defaultSidePicture());

    // The URL can be selected and read, never edited.
    QPalette urlPalette = ui->FileURL->palette();
    urlPalette.setColor(QPalette::Base, palette().color(QPalette::Window));
    urlPalette.setColor(QPalette::Text, palette().color(QPalette::Highlight));
    ui->FileURL->setPalette(urlPalette);
    ui->FileURL->installEventFilter(this);

    // An engraved corner caption: the highlight-coloured copy shows one pixel below and right.
    QFont corner = ui->AboutLabel->font();
    corner.setPixelSize(12);
    ui->AboutLabel->setFont(corner);
    ui->AboutShadow->setFont(corner);
    QPalette light = ui->AboutShadow->palette();
    light.setColor(QPalette::WindowText, palette().color(QPalette::Light));
    ui->AboutShadow->setPalette(light);
    QPalette dark = ui->AboutLabel->palette();
    dark.setColor(QPalette::WindowText, palette().color(QPalette::Shadow));
    ui->AboutLabel->setPalette(dark);
    ui->AboutLabel->raise();

    QFont title = ui->WizardTitle->font();
    title.setPixelSize(19);
    ui->WizardTitle->setFont(title);

    progressTimer.setSingleShot(true);
    connect(&progressTimer, &QTimer::timeout, this, &TsuUpdaterWizardForm::flushProgress);
    connect(ui->FinishBtn, &QPushButton::clicked, this, &TsuUpdaterWizardForm::FinishBtnClick);
    connect(ui->CancelBtn, &QPushButton::clicked, this, &TsuUpdaterWizardForm::CancelBtnClick);
}

TsuUpdaterWizardForm::~TsuUpdaterWizardForm() = default;

void TsuUpdaterWizardForm::ShowWizard(const Settings& settings) {
    const QString corner = QStringLiteral(" ") + displayText(updaterString(CornerCaptionId)) + QStringLiteral(" ");
    ui->AboutLabel->setText(corner);
    ui->AboutShadow->setText(corner);
    if (settings.StayOnTop)
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (settings.HideFileLocation) {
        ui->FileURL->hide();
        ui->LDownloadingFileFrom->hide();
        const int top = ui->LDownloadingFileFrom->y();
        ui->LFileSize->move(ui->LFileSize->x(), top);
        ui->LTransferRate->move(ui->LTransferRate->x(), top + 16);
        ui->LEstimatedTime->move(ui->LEstimatedTime->x(), top + 32);
        ui->ProgressCurrentFile->move(ui->ProgressCurrentFile->x(), top + 52);
        ui->LCurrentFile->setGeometry(ui->LCurrentFile->x(), ui->LCurrentFile->y() + 10, ui->LCurrentFile->width(),
                                      ui->LCurrentFile->height() - 30);
    }
    if (!settings.Pic118x218.isNull())
        ui->Image1->setPixmap(settings.Pic118x218);

    ui->LEstimatedTime->setText(tableText(usPreparing));
    setWindowTitle(tableText(usWizardTitle));
    ui->WizardTitle->setText(tableText(usDownloading));
    ui->LCurrentFile->setTitle(QStringLiteral(" ") + tableText(usCurrentFile) + QStringLiteral(" "));
    ui->LAllFiles->setTitle(QStringLiteral(" ") + tableText(usAllFiles) + QStringLiteral(" "));
    ui->LDownloadingFileFrom->setText(tableText(usDownloadingFrom));
    ui->FinishBtn->setText(tableText(usNext));
    ui->CancelBtn->setText(tableText(usCancel));
    // Two pixels of air above the all-files group.
    clearGroupTitle(ui->LCurrentFile, ui->ProgressCurrentFile, ui->LAllFiles->y() - 2);
    clearGroupTitle(ui->LAllFiles, ui->ProgressAllFiles, ui->Bevel1->y() - 2);
    show();
}

void TsuUpdaterWizardForm::ShowWizardFinish() {
    finishPage = true;
    ui->WizardTitle->setText(tableText(usUpgradeCompleted));
    ui->AfterNote->setText(tableText(usFinishNote, applicationTitle().toStdString()));
    ui->AfterNote->setFixedHeight(ui->AfterNote->heightForWidth(ui->AfterNote->width()));
    ui->AfterNote->show();
    ui->LCurrentFile->hide();
    ui->LAllFiles->hide();
    ui->CancelBtn->setEnabled(false);
    ui->CancelBtn->setDefault(false);
    ui->FinishBtn->setText(tableText(usOk));
    ui->FinishBtn->setEnabled(true);
    ui->FinishBtn->setDefault(true);
    ui->FinishBtn->setFocus();
}

void TsuUpdaterWizardForm::setFileURL(const QString& url) {
    ui->FileURL->setText(url);
    ui->FileURL->setCursorPosition(0);
}

void TsuUpdaterWizardForm::setFileCounter(int number, int count) {
    ui->AllDownloading->setText(tableText(usFileOfFiles, number, count));
}

void TsuUpdaterWizardForm::setFileSize(std::int64_t bytes) {
    ui->LFileSize->setText(tableText(usFileSize, static_cast<double>(bytes) / 1024.0));
}

void TsuUpdaterWizardForm::setProgress(int percent, int totalPercent, double rateKBs, std::int64_t secondsLeft) {
    // A transfer reports every 4096-byte block, thousands of times a second on a fast link; laying out the
    // labels that often would slow the download itself. The figures are kept for every block and shown
    // once per screen refresh (and at once when the file reaches 100 %: the last half per cent of a file
    // rounds to 100, and its blocks are coalesced like any others).
    progress = {percent, totalPercent, rateKBs, secondsLeft};
    progressPending = true;
    constexpr int RefreshMs = 16;
    if (!sinceShown.isValid() || sinceShown.elapsed() >= RefreshMs ||
        (percent >= 100 && ui->ProgressCurrentFile->value() < 100))
        flushProgress();
    else if (!progressTimer.isActive())
        progressTimer.start(RefreshMs - static_cast<int>(sinceShown.elapsed()));
}

void TsuUpdaterWizardForm::flushProgress() {
    progressTimer.stop();
    if (!progressPending)
        return;
    progressPending = false;
    sinceShown.restart();
    ui->ProgressCurrentFile->setValue(progress.percent);
    ui->ProgressAllFiles->setValue(progress.totalPercent);
    ui->LTransferRate->setText(tableText(usTransferRate, progress.rateKBs));
    const std::int64_t left = progress.secondsLeft;
    ui->LEstimatedTime->setText(tableText(usTimeLeft, static_cast<int>(left / 3600), static_cast<int>(left / 60 % 60),
                                          static_cast<int>(left % 60)));
}

void TsuUpdaterWizardForm::release() {
    if (closing != Closing::No)
        return;
    closing = Closing::Release;
    close();
}

void TsuUpdaterWizardForm::FinishBtnClick() {
    if (closing != Closing::No)
        return;
    closing = Closing::Finish;
    close();
}

void TsuUpdaterWizardForm::CancelBtnClick() {
    // The button behaves exactly like the close box.
    close();
}

void TsuUpdaterWizardForm::reject() {
    close();
}

void TsuUpdaterWizardForm::closeEvent(QCloseEvent* event) {
    if (closing == Closing::No) {
        asking = true;
        const bool abort = askAbortUpgrade(this);
        asking = false;
        if (!abort) {
            event->ignore();
            emit cancelDeclined();
            return;
        }
        closing = Closing::Confirmed;
    }
    event->accept();
    if (closing == Closing::Confirmed)
        emit cancelConfirmed();
    emit wizardClosed();
}

bool TsuUpdaterWizardForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->FileURL && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride))
        return true;
    return QDialog::eventFilter(watched, event);
}

} // namespace qarvia::update
