#include "ui/WebView.h"

#include <QResizeEvent>
#include <QUrl>
#include <QWebEngineView>

namespace qarvia {
namespace {

class EngineBackend final : public WebViewBackend {
public:
    explicit EngineBackend(QWidget* parent) : view_(new QWebEngineView(parent)) {
        QObject::connect(view_, &QWebEngineView::loadFinished, view_, [this](bool ok) {
            if (completed)
                completed(ok);
        });
    }

    QWidget* widget() override { return view_; }
    void navigate(const QString& url) override { view_->setUrl(QUrl(url, QUrl::TolerantMode)); }
    QString title() const override { return view_->title(); }

private:
    QWebEngineView* view_; // owned by its parent widget
};

WebViewBackendFactory& installedFactory() {
    static WebViewBackendFactory factory;
    return factory;
}

} // namespace

void setWebViewBackendFactory(WebViewBackendFactory factory) {
    installedFactory() = std::move(factory);
}

WebView::WebView(QWidget* parent) : QWidget(parent) {
    const WebViewBackendFactory& factory = installedFactory();
    backend_ = factory ? factory(this) : std::make_unique<EngineBackend>(this);
    backend_->completed = [this](bool ok) { navigationCompleted(ok); };
    if (QWidget* w = backend_->widget())
        w->setGeometry(rect());
}

WebView::~WebView() {
    // The page widget goes before its backend, so no late notification reaches a half-destroyed view.
    backend_->completed = nullptr;
    delete backend_->widget();
}

void WebView::Navigate(const QString& url) {
    backend_->navigate(url);
}

QString WebView::documentTitle() const {
    return backend_->title();
}

void WebView::setFailureCover(std::function<QWidget*(QWidget* parent)> make) {
    makeCover_ = std::move(make);
}

void WebView::navigationCompleted(bool ok) {
    if (!ok && !cover_ && makeCover_) {
        cover_ = makeCover_(this);
        cover_->setGeometry(rect());
    }
    if (cover_) {
        cover_->setVisible(!ok);
        if (!ok)
            cover_->raise();
    }
    emit NavigateComplete2();
}

void WebView::setPlacement(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
}

void WebView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (QWidget* w = backend_->widget())
        w->setGeometry(0, 0, event->size().width(), event->size().height());
    if (cover_)
        cover_->setGeometry(rect());
}

} // namespace qarvia
