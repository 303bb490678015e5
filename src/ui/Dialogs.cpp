#include "ui/Dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <array>

namespace qarvia {
namespace {

struct ButtonInfo {
    MessageButton button;
    QMessageBox::StandardButton standard;
    const char* text; // as the Chinese system message boxes label them
};

constexpr std::array<ButtonInfo, 7> kButtons{{
    {mbOk, QMessageBox::Ok, "确定"},
    {mbCancel, QMessageBox::Cancel, "取消"},
    {mbYes, QMessageBox::Yes, "是(&Y)"},
    {mbNo, QMessageBox::No, "否(&N)"},
    {mbRetry, QMessageBox::Retry, "重试(&R)"},
    {mbAbort, QMessageBox::Abort, "中止(&A)"},
    {mbIgnore, QMessageBox::Ignore, "忽略(&I)"},
}};

class MessageBoxDialogs final : public Dialogs {
public:
    MessageButton show(const MessageRequest& r) override {
        QMessageBox box(r.parent);
        box.setWindowTitle(r.caption);
        box.setText(r.text);
        box.setTextFormat(Qt::PlainText);
        switch (r.icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        }
        const int wanted = r.buttons != 0 ? r.buttons : int(mbOk);
        for (const ButtonInfo& b : kButtons) {
            if ((wanted & b.button) == 0)
                continue;
            QPushButton* button = box.addButton(b.standard);
            const auto label = r.buttonTexts.find(b.button);
            button->setText(label != r.buttonTexts.end() ? label->second : QString::fromUtf8(b.text));
            if (b.button == r.defaultButton)
                box.setDefaultButton(button);
        }
        const int chosen = box.exec();
        for (const ButtonInfo& b : kButtons) {
            if (chosen == b.standard)
                return b.button;
        }
        // Closed from the title bar: the box's escape answer, or the default when it has none.
        return (wanted & mbCancel) ? mbCancel : (wanted & mbNo) ? mbNo : r.defaultButton;
    }
};

MessageBoxDialogs& realDialogs() {
    static MessageBoxDialogs real;
    return real;
}

Dialogs* current = nullptr;

} // namespace

Dialogs& dialogs() {
    return current ? *current : realDialogs();
}

void setDialogs(Dialogs* d) {
    current = d;
}

QString applicationTitle() {
    QString path;
    if (QCoreApplication::instance())
        path = QCoreApplication::applicationFilePath();
    if (path.isEmpty())
        path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return QFileInfo(path).completeBaseName();
}

QString withFinalPeriod(const QString& m) {
    if (!m.isEmpty() && m.back() > QLatin1Char('.'))
        return m + QLatin1Char('.');
    return m;
}

void showMessage(const QString& text) {
    MessageRequest r;
    r.parent = QApplication::activeWindow();
    r.text = text;
    r.caption = applicationTitle();
    dialogs().show(r);
}

void showApplicationError(const QString& message) {
    MessageRequest r;
    r.parent = QApplication::activeWindow();
    r.text = withFinalPeriod(message);
    r.caption = applicationTitle();
    r.icon = MessageIcon::Error;
    dialogs().show(r);
}

} // namespace qarvia
