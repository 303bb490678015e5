// The yardstick of the start-up benchmark: one QWebEngineView in a window of the toolbox's size, navigated to
// the same banner address, shown, and closed once the event loop has run, as `qarvia-toolbox --smoke` does.

#include <QApplication>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

#include <cstdlib>
#include <unistd.h>

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
    window.show();
    QTimer::singleShot(0, &app, [] { QApplication::exit(0); });
    return QApplication::exec();
}
