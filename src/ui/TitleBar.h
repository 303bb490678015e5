#pragma once

// A title bar the program draws itself, for a fixed-size top-level window that gives up the window system's
// frame: the application icon, the window's caption, minimise and close. Dragging it moves the window
// through the window system (QWindow::startSystemMove, which works on X11 and Wayland alike). The window
// keeps its caption, so task bars and window lists still name it.
//     TitleBar::install(&window);   // before the window is shown

#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;
class QWindow;

namespace qarvia {

class TitleBar : public QWidget {
    Q_OBJECT

public:
    // Asks the window system to move `window` with the pointer; false where it cannot.
    using SystemMove = std::function<bool(QWindow* window)>;

    // Drops the frame of `window`, puts a title bar across its top and an edge of `edge` pixels round the
    // rest, and grows the window by both, so its client area keeps its size and its centre stays put.
    static TitleBar* install(QWidget* window, int edge = 2);

    explicit TitleBar(QWidget* window);

    // The text shown: always the window's caption.
    QString caption() const;
    // Replaces the request to the window system (tests record it instead).
    void setSystemMove(SystemMove move) { systemMove_ = std::move(move); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* window_;
    QLabel* icon_;
    QLabel* caption_;
    QToolButton* minimize_;
    QToolButton* close_;
    SystemMove systemMove_;
    // Where the window system cannot move windows, the bar drags the window itself from this offset.
    QPoint dragOffset_;
    bool dragging_ = false;
};

} // namespace qarvia
