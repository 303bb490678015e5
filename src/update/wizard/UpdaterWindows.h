#pragma once

// What the update windows share: table texts as the screen shows them, the message boxes of the update,
// and the one place where the update's own modal windows are run, which tests can answer instead.

#include "ui/Dialogs.h"
#include "update/wizard/UpdaterStrings.h"

#include <QString>
#include <Qt>

#include <functional>
#include <string>

class QDialog;
class QPixmap;
class QWidget;

namespace qarvia::update {

// A table text for the screen: UTF-8 to QString, each "\r" a line break.
QString displayText(std::string_view text);
// The text at `offset` of the current language block, for the screen.
QString tableText(int offset);
// The text at `offset` with its fields filled in, for the screen.
template <typename... Args> QString tableText(int offset, const Args&... args) {
    return displayText(formatUpdaterText(updaterText(offset), args...));
}

// Runs a modal update window and returns its result (QDialog::Accepted or Rejected). A test installs an
// answerer that receives the window, filled in and laid out, and returns the result in place of the user.
using ModalAnswerer = std::function<int(QDialog& window)>;
void setModalAnswerer(ModalAnswerer answerer);
int execModal(QDialog& window);

// A message box captioned with the wizard title (offset 0).
void showUpdateMessage(const QString& text, MessageIcon icon, QWidget* parent = nullptr);
// The lost-file question: offset 28 with the file name, caption offset 21 + " #" + status, Yes/No.
bool askSkipLostFile(const std::string& fileName, int status, QWidget* parent = nullptr);
// Closing the wizard: offset 27, question icon, captioned with the application title, Yes/No.
bool askAbortUpgrade(QWidget* parent = nullptr);

// The frame of every update window: a title and a close box, nothing to maximise or minimise (their size is
// fixed), declared so that any window manager sees it.
Qt::WindowFlags updateWindowFlags();

// The side picture and window icons carried with the windows.
QPixmap defaultSidePicture();
// The icon comes from `window`'s style, so a skin's icons show in the windows it draws.
QPixmap updateWindowIcon(MessageIcon icon, const QWidget* window);

} // namespace qarvia::update
