// The yardstick of the start-up benchmark: one QWebEngineView in a window of the toolbox's size, navigated to
// the same banner address, shown, and closed once the window has painted and the event loop has run once more,
// as `qarvia-toolbox --smoke` does (it leaves after the step that follows its first paint).
// With --widgets, the window also carries what any window of text carries: a menu bar and a tab control of five
// pages with a label each, in the desktop's own style and fonts. Its figures tell how much of the toolbox's time
// and memory a plain Qt window with text costs before anything of the toolbox's own.

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

#include <cstdlib>
#include <cstring>
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
    const bool widgets = argc > 1 && std::strcmp(argv[1], "--widgets") == 0;
    const char* address = argc > 1 + int(widgets) ? argv[1 + int(widgets)] : nullptr;
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
