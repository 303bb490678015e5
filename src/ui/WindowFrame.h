#pragma once

// The frame the window system draws around a top-level window, and placing a window by it. Under a window
// manager that frame is learnt only once the window is on screen (until then it reads as no frame), so a
// window centred or sized from it before it shows comes out half a title bar low or a title bar short. These
// helpers follow the frame as it becomes known.

#include <QMargins>
#include <QRect>

#include <functional>

class QWidget;

namespace qarvia {

// The frame around a top-level window as far as the window system has told it; none before it was shown.
QMargins frameMargins(const QWidget* window);
// The window's outer rectangle: its client rectangle with the frame around it.
QRect outerGeometry(const QWidget* window);

// Tests stand in for the window system's answer to frameMargins(); an empty function restores it.
using FrameMarginsSource = std::function<QMargins(const QWidget*)>;
void setFrameMarginsSource(FrameMarginsSource source);

// The primary screen's area for windows (empty when there is no screen).
QRect desktopArea();

// The client rectangle of a window of the given client size and frame whose outer rectangle is centred on area.
QRect centredClientRect(const QSize& client, const QMargins& frame, const QRect& area);

// Calls changed(frame) each time the frame reported around window differs from the one last seen, starting
// from no frame; looked at whenever the window is shown, moved, resized, exposed or activated.
void watchFrame(QWidget* window, std::function<void(const QMargins&)> changed);

// Centres window on area() as it is shown: with its own frame where that is known already, else with the frame
// of another visible top-level window (same window system, most likely the same decoration); and once more on
// the frame the window system reports for it, if that differs. Call before the window is shown.
void centreWhenShown(QWidget* window, std::function<QRect()> area);

} // namespace qarvia
