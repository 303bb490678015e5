#pragma once

// The toolbox's skin: a style sheet held in the main window's form (TForm1.ui, its styleSheet property;
// the build takes it out of the form, see CMakeLists.txt) with its pictures compiled in from
// src/app/skin/skin.qrc. It is set once, application-wide, before the first window is created, so every
// window the program opens (the main window, About, the web-page window, the update windows, message
// boxes) is drawn by it without knowing. `--no-skin` or QARVIA_SKIN=off leave the platform's look and frame.
//     applySkin(on);                 // before any window
//     TForm1 window(settings);
//     if (on) dressMainWindow(window);

#include <QIcon>
#include <QString>

class QWidget;

namespace qarvia {

class TForm1;

// Whether the environment lets the skin on: QARVIA_SKIN is not "off".
bool skinAllowedByEnvironment();

// The program's icon (vector, sharp at every size), for every window.
QIcon applicationIcon();

// The skin's style sheet, as the form holds it.
QString skinStyleSheet();

// Makes the window's own fonts known to the program, once: "Qarvia Sans" and "Qarvia Serif", the characters of
// the program's texts cut out of Noto Sans and Noto Serif CJK SC at build time. False where the build had
// no fonts to cut them from; text then falls back to the desktop's fonts.
bool loadWindowFonts();

// Sets the skin application-wide (on: its style sheet, and Qarvia Sans for every window's text) or leaves
// the platform's look and font (off).
void applySkin(bool on);

// The main window's part of the skin: its own title bar in place of the window system's frame (the client
// area keeps its size), and the skin's artwork in the banner while the banner page cannot be loaded.
void dressMainWindow(TForm1& window);

// The skin's artwork for the banner area: the toolbox's name on the skin's background.
QWidget* makeBannerArtwork(QWidget* parent);

} // namespace qarvia
