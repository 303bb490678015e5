#pragma once

// The toolbox's skin: a style sheet carried by the main window's form (TForm1.ui, its styleSheet property)
// with its pictures compiled in from src/app/skin/skin.qrc. It is applied once, application-wide, right
// after the main window is created, so every window the program opens later (About, the web-page window,
// the update windows, message boxes) is drawn by it without knowing. `--no-skin` or QARVIA_SKIN=off leave
// the platform's look and frame.

#include <QIcon>

namespace qarvia {

class TForm1;

// Whether the environment lets the skin on: QARVIA_SKIN is not "off".
bool skinAllowedByEnvironment();

// The program's icon (vector, sharp at every size), for every window.
QIcon applicationIcon();

// Gives the program its look. With `on`: the form's sheet becomes the application's, the main window draws
// its own title bar instead of the window system's frame, and the banner shows the skin's artwork while its
// page cannot be loaded. Without: the platform's look and frame. Either way the client area keeps its size.
void applySkin(TForm1& window, bool on);

// The skin's artwork for the banner area: the toolbox's name on the skin's background.
QWidget* makeBannerArtwork(QWidget* parent);

} // namespace qarvia
