// The yardstick of the start-up benchmark: one QWebEngineView in a window of the toolbox's size, navigated to
// the same banner address, shown, and closed once the window has painted and the event loop has run once more,
// as `qarvia-toolbox --smoke` does (it leaves after the step that follows its first paint).

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

#include <cstdlib>
#include <unistd.h>

namespace {

// Ends the program at the next turn of the event loop after the watched window's first paint.
class QuitAfterFirstPaint : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !armed_) {
            armed_ = true;
            QTimer::singleShot(0, qApp, [] { QApplication::exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool armed_ = false;
};

} // namespace

int main(int argc, char** argv) {
    if (geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QWidget window;
    window.resize(630, 470);
    QWebEngineView view(&window);
    view.setGeometry(15, 2, 600, 80);
    view.setUrl(QUrl(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("about:blank")));
    QuitAfterFirstPaint quit;
    window.installEventFilter(&quit);
    window.show();
    return QApplication::exec();
}
