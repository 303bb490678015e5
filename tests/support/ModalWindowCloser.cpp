#include "ModalWindowCloser.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

namespace qarvia {

ModalWindowCloser::ModalWindowCloser(Inspector inspect, int intervalMs) : inspect_(std::move(inspect)) {
    connect(&timer_, &QTimer::timeout, this, &ModalWindowCloser::poll);
    timer_.start(intervalMs);
}

void ModalWindowCloser::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (inspect_)
        inspect_(modal);
    ++closed_;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

QList<QWidget*> visibleTopLevelWindows() {
    QList<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->isWindow())
            out << w;
    }
    return out;
}

} // namespace qarvia
