#pragma once

// Closes whatever modal window appears while it lives, so a test that opens one never blocks. An optional
// inspector sees each window just before it is closed.
//     qarvia::ModalWindowCloser closer([&](QWidget* w) { caption = w->windowTitle(); });
//     QTest::mouseClick(button, Qt::LeftButton);   // opens a modal window; returns once it was closed

#include <QObject>
#include <QTimer>

#include <functional>

class QWidget;

namespace qarvia {

class ModalWindowCloser : public QObject {
    Q_OBJECT

public:
    using Inspector = std::function<void(QWidget*)>;
    explicit ModalWindowCloser(Inspector inspect = {}, int intervalMs = 10);

    int closedCount() const { return closed_; }

private:
    void poll();

    Inspector inspect_;
    QTimer timer_;
    int closed_ = 0;
};

// The visible top-level windows; a GUI test ends with none left open.
QList<QWidget*> visibleTopLevelWindows();

} // namespace qarvia
