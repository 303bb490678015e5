#include "update/wizard/UpdaterWindows.h"

#include <QApplication>
#include <QDialog>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

namespace qarvia::update {

namespace {
ModalAnswerer& answerer() {
    static ModalAnswerer a;
    return a;
}

// A box of the update: its buttons speak the wizard's language.
MessageRequest updateBox(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    MessageRequest r;
    r.parent = parent;
    r.text = text;
    r.caption = caption;
    r.icon = icon;
    r.buttonTexts = {{mbOk, tableText(usOk)}, {mbYes, tableText(usYes)}, {mbNo, tableText(usNo)}};
    return r;
}
} // namespace

QString displayText(std::string_view text) {
    QString t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QString tableText(int offset) {
    return displayText(updaterText(offset));
}

void setModalAnswerer(ModalAnswerer a) {
    answerer() = std::move(a);
}

int execModal(QDialog& window) {
    if (answerer())
        return answerer()(window);
    return window.exec();
}

void showUpdateMessage(const QString& text, MessageIcon icon, QWidget* parent) {
    dialogs().show(updateBox(parent, text, tableText(usWizardTitle), icon));
}

bool askSkipLostFile(const std::string& fileName, int status, QWidget* parent) {
    MessageRequest r = updateBox(parent, tableText(usLostFile, fileName),
                                 tableText(usError) + QStringLiteral(" #") + QString::number(status),
                                 MessageIcon::Warning);
    r.buttons = mbYes | mbNo;
    r.defaultButton = mbYes;
    return dialogs().show(r) == mbYes;
}

bool askAbortUpgrade(QWidget* parent) {
    MessageRequest r = updateBox(parent, tableText(usAskAbort), applicationTitle(), MessageIcon::Question);
    r.buttons = mbYes | mbNo;
    r.defaultButton = mbNo;
    return dialogs().show(r) == mbYes;
}

Qt::WindowFlags updateWindowFlags() {
    return Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
           Qt::WindowCloseButtonHint;
}

QPixmap defaultSidePicture() {
    QPixmap picture(118, 218);
    QPainter p(&picture);
    QLinearGradient sky(0, 0, 0, 218);
    sky.setColorAt(0, QColor(0x1d, 0x3f, 0x7a));
    sky.setColorAt(1, QColor(0x6f, 0xa8, 0xdc));
    p.fillRect(picture.rect(), sky);
    // A box with an arrow into it: "downloading".
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 3));
    p.drawRect(29, 130, 60, 40);
    p.drawLine(59, 60, 59, 120);
    p.drawLine(59, 120, 44, 104);
    p.drawLine(59, 120, 74, 104);
    return picture;
}

QPixmap updateWindowIcon(MessageIcon icon, const QWidget* window) {
    QStyle::StandardPixmap which = QStyle::SP_MessageBoxInformation;
    switch (icon) {
    case MessageIcon::Warning:
        which = QStyle::SP_MessageBoxWarning;
        break;
    case MessageIcon::Error:
        which = QStyle::SP_MessageBoxCritical;
        break;
    case MessageIcon::Question:
        which = QStyle::SP_MessageBoxQuestion;
        break;
    default:
        break;
    }
    return window->style()->standardIcon(which, nullptr, window).pixmap(32, 32);
}

} // namespace qarvia::update
