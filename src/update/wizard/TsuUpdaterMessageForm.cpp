#include "update/wizard/TsuUpdaterMessageForm.h"

#include "ui_TsuUpdaterMessageForm.h"
#include "update/wizard/UpdaterWindows.h"

#include <QPointer>

namespace qarvia::update {

TsuUpdaterMessageForm::TsuUpdaterMessageForm(QWidget* parent)
    : QDialog(parent, updateWindowFlags() | Qt::WindowStaysOnTopHint),
      ui(std::make_unique<Ui::TsuUpdaterMessageForm>()) {
    ui->setupUi(this);
    ui->Image1->setPixmap(updateWindowIcon(MessageIcon::Question, this));
    connect(ui->YesBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->LaterBtn, &QPushButton::clicked, this, &QDialog::reject);
}

TsuUpdaterMessageForm::~TsuUpdaterMessageForm() = default;

void TsuUpdaterMessageForm::prepare(const QString& message, UpdaterText question) {
    ui->Label1->setFixedWidth(width() - ui->Label1->x() - 11);
    const QString notes = message.isEmpty() ? QString() : QStringLiteral("\n") + message + QStringLiteral("\n");
    ui->Label1->setText(tableText(question, applicationTitle().toStdString(), notes.toStdString()));
    setWindowTitle(tableText(usWizardTitle));
    ui->YesBtn->setText(tableText(usYes));
    ui->LaterBtn->setText(tableText(usLater));
    const int labelHeight = ui->Label1->heightForWidth(ui->Label1->width());
    ui->Label1->setFixedHeight(labelHeight);
    const int height = ui->Label1->y() + labelHeight + ui->BottomPanel->height();
    ui->BottomPanel->setGeometry(0, height - ui->BottomPanel->height(), width(), ui->BottomPanel->height());
    setFixedSize(width(), height);
}

bool TsuUpdaterMessageForm::AskUpgrade(const QString& message, QWidget* parent, UpdaterText question) {
    static QPointer<TsuUpdaterMessageForm> current;
    if (current)
        return false; // already asking
    TsuUpdaterMessageForm window(parent);
    current = &window;
    window.prepare(message, question);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    const bool yes = execModal(window) == QDialog::Accepted;
    current = nullptr;
    return yes;
}

} // namespace qarvia::update
