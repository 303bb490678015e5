// The yardstick of the start-up benchmark: one QWebEngineView in a window of the toolbox's size, navigated to
// the same banner address, shown, and closed once the window has painted and the event loop has run once more,
// as `qarvia-toolbox --smoke` does (it leaves after the step that follows its first paint).
//   startup-minimal-webview [--widgets] [--http-library] [ADDRESS]
// --widgets: the window also carries what any window of text carries: a menu bar and a tab control of five pages
// with a label each, in the desktop's own style and fonts.
// --http-library: at the turn after the first paint, a thread opens the system's HTTP library and sets it up, as
// the toolbox's update check does then; the program's end waits for it, as the toolbox's does.
// Together they measure what a window of text that checks for updates costs before any work of the toolbox's own.

#include "update/SharedLibrary.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

bool openHttpLibrary = false;
std::thread httpLibraryLoader;

void loadHttpLibrary() {
    // Opened as the transfer component opens it.
    qarvia::update::SharedLibrary library(QARVIA_CURL_LIBRARY);
    decltype(&curl_global_init) init = nullptr;
    if (!library.bind(init, "curl_global_init") || init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "The HTTP library could not be set up: %s\n",
                     library.error().empty() ? "curl_global_init failed" : library.error().c_str());
        std::_Exit(1);
    }
}

// Ends the program at the next turn of the event loop after the watched window's first paint.
class QuitAfterFirstPaint : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !armed_) {
            armed_ = true;
            QTimer::singleShot(0, qApp, [] {
                if (openHttpLibrary)
                    httpLibraryLoader = std::thread(loadHttpLibrary);
                QApplication::exit(0);
            });
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
    bool widgets = false;
    const char* address = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--widgets") == 0)
            widgets = true;
        else if (std::strcmp(argv[i], "--http-library") == 0)
            openHttpLibrary = true;
        else
            address = argv[i];
    }
    // Added before the web view exists, so it runs after the web engine's own shutdown, as the toolbox's wait does.
    qAddPostRoutine([] {
        if (httpLibraryLoader.joinable())
            httpLibraryLoader.join();
    });
    QWidget window;
    window.resize(630, 470);
    if (widgets) {
        auto* menu = new QMenuBar(&window);
        menu->addMenu(QString::fromUtf8("文件"))->addAction(QString::fromUtf8("退出"));
        menu->addMenu(QString::fromUtf8("帮助"))->addAction(QString::fromUtf8("关于"));
        auto* pages = new QTabWidget(&window);
        pages->setGeometry(0, 110, 630, 360);
        for (const char* name : {"经验计算", "灵珠合成", "化血丹", "模拟器", "英雄榜"})
            pages->addTab(new QLabel(QString::fromUtf8(name)), QString::fromUtf8(name));
    }
    QWebEngineView view(&window);
    view.setGeometry(15, widgets ? 26 : 2, 600, 80);
    view.setUrl(QUrl(address ? QString::fromLocal8Bit(address) : QStringLiteral("about:blank")));
    QuitAfterFirstPaint quit;
    window.installEventFilter(&quit);
    window.show();
    return QApplication::exec();
}
