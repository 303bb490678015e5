#include "update/wizard/TsuUpdaterPasswordForm.h"

#include "ui_TsuUpdaterPasswordForm.h"
#include "update/wizard/UpdaterWindows.h"

#include <QPointer>

namespace qarvia::update {

TsuUpdaterPasswordForm::TsuUpdaterPasswordForm(QWidget* parent)
    : QDialog(parent, updateWindowFlags()),
      ui(std::make_unique<Ui::TsuUpdaterPasswordForm>()) {
    ui->setupUi(this);
    ui->Image1->setPixmap(updateWindowIcon(MessageIcon::Warning, this));
    connect(ui->OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

TsuUpdaterPasswordForm::~TsuUpdaterPasswordForm() = default;

void TsuUpdaterPasswordForm::prepare(const std::string& fileName, const std::string& user) {
    ui->Label1->setText(tableText(usPasswordProtected, fileName));
    setWindowTitle(tableText(usEnterPassword));
    ui->UsernameLab->setText(tableText(usUserName));
    ui->UsernameEdit->setText(QString::fromStdString(user));
    ui->PasswordLab->setText(tableText(usPassword));
    ui->PasswordEdit->clear();
    ui->OKBtn->setText(tableText(usOk));
    ui->CancelBtn->setText(tableText(usCancel));
    const int labelHeight = ui->Label1->heightForWidth(ui->Label1->width());
    ui->Label1->setFixedHeight(labelHeight);
    const int height = ui->Label1->y() + labelHeight + ui->BottomPanel->height();
    ui->BottomPanel->setGeometry(0, height - ui->BottomPanel->height(), width(), ui->BottomPanel->height());
    setFixedSize(width(), height);
    ui->UsernameEdit->setFocus();
}

bool TsuUpdaterPasswordForm::AskLogin(const std::string& fileName, std::string& user, std::string& password,
                                      QWidget* parent) {
    static QPointer<TsuUpdaterPasswordForm> current;
    if (current)
        return false;
    TsuUpdaterPasswordForm window(parent);
    current = &window;
    window.prepare(fileName, user);
    const bool ok = execModal(window) == QDialog::Accepted;
    current = nullptr;
    if (ok) {
        user = window.ui->UsernameEdit->text().toStdString();
        password = window.ui->PasswordEdit->text().toStdString();
    }
    return ok;
}

} // namespace qarvia::update
