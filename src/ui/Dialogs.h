#pragma once

// Every message box of the program goes through dialogs(). Tests install a recorder with setDialogs()
// (tests/support/DialogRecorder.h) that captures each request and answers it, so no test ever blocks on
// a modal box.

#include <QString>
#include <QWidget>

#include <exception>
#include <map>
#include <utility>

namespace qarvia {

enum class MessageIcon { None, Information, Warning, Error, Question };

enum MessageButton : int {
    mbOk = 1,
    mbCancel = 2,
    mbYes = 4,
    mbNo = 8,
    mbRetry = 16,
    mbAbort = 32,
    mbIgnore = 64,
};

struct MessageRequest {
    QWidget* parent = nullptr;
    QString text;
    QString caption;
    MessageIcon icon = MessageIcon::None;
    int buttons = mbOk; // a combination of MessageButton values
    MessageButton defaultButton = mbOk;
    // Labels in place of the Chinese ones of the system's boxes (a window speaking another language).
    std::map<MessageButton, QString> buttonTexts;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Shows the request modally and returns the button the user chose.
    virtual MessageButton show(const MessageRequest& r) = 0;
};

// The implementation in use: real message boxes unless a test installed its own.
Dialogs& dialogs();
// Installs d; nullptr restores the real message boxes. The caller keeps ownership of d.
void setDialogs(Dialogs* d);

// The program file's name without its extension: the caption of every plain message and error box.
QString applicationTitle();

// Appends "." when the last character sorts after "." (so "abc" gets one, "abc." and "abc!" do not).
QString withFinalPeriod(const QString& m);

// A plain message box with an OK button, captioned with applicationTitle().
void showMessage(const QString& text);

// The application's error display: error icon, OK button, caption applicationTitle(), the final-period rule.
void showApplicationError(const QString& message);

// Runs a handler and shows an escaping error through showApplicationError. Qt's event loop must never see
// an exception, so every slot that can raise one runs through here.
template <class F> void runGuarded(F&& handler) {
    try {
        std::forward<F>(handler)();
    } catch (const std::exception& e) {
        showApplicationError(QString::fromUtf8(e.what()));
    } catch (...) {
        showApplicationError(QStringLiteral("Unknown error"));
    }
}

} // namespace qarvia
