#include "app/TAboutForm.h"

#include "ui/ShellOpen.h"
#include "ui_TAboutForm.h"

#include <QMouseEvent>

namespace qarvia {

TAboutForm::TAboutForm(const QString& siteUrl, const QString& feedbackMail, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TAboutForm>()), siteUrl_(siteUrl), feedbackMail_(feedbackMail) {
    ui->setupUi(this);
    setFixedSize(339, 105);
    ui->Label5->setText(feedbackMail_);
    ui->Label4->installEventFilter(this);
    ui->Label5->installEventFilter(this);
    connect(ui->Button1, &QPushButton::clicked, this, &TAboutForm::Button1Click);
}

TAboutForm::~TAboutForm() = default;

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == ui->Label4)
            Label4Click();
        else if (watched == ui->Label5)
            Label5Click();
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutForm::Label4Click() {
    shellOpen(siteUrl_);
}

void TAboutForm::Label5Click() {
    shellOpen(QStringLiteral("mailto:") + feedbackMail_);
}

void TAboutForm::Button1Click() {
    close();
}

} // namespace qarvia
