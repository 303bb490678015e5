#pragma once

// The program's embedded web view: Navigate, the NavigateComplete2 notification, the current document's
// title and placement, over a replaceable backend (Qt WebEngine by default).
//
// Tests never start a browser engine: they install a recording backend before creating any window,
//     qarvia::WebViewRecorder web;           // tests/support/WebViewRecorder.h: installs, restores on exit
//     ... create TForm1 / open a page ...
//     EXPECT_EQ(web.navigations(), QStringList{"http://host/bang/role/7#dList2"});
//     web.last()->complete("Title");         // raise NavigateComplete2 with that document title
// or call setWebViewBackendFactory() with a factory of their own. Every WebView created while a factory
// is installed asks it for its backend.

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace qarvia {

class WebViewBackend {
public:
    virtual ~WebViewBackend() = default;
    // The widget that shows the page, a child of the view's parent given to the factory; may be null.
    virtual QWidget* widget() = 0;
    // Starts loading the address and returns at once.
    virtual void navigate(const QString& url) = 0;
    // The title of the current top-level document.
    virtual QString title() const = 0;

    // Set by WebView; the backend calls it after every completed navigation, with whether the page loaded.
    std::function<void(bool ok)> completed;
};

using WebViewBackendFactory = std::function<std::unique_ptr<WebViewBackend>(QWidget* parent)>;

// Installs the factory every new WebView gets its backend from; an empty one restores Qt WebEngine.
void setWebViewBackendFactory(WebViewBackendFactory factory);

class WebView : public QWidget {
    Q_OBJECT

public:
    explicit WebView(QWidget* parent = nullptr);
    ~WebView() override;

    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // Starts loading the page at url; returns before it has loaded.
    void Navigate(const QString& url);
    // The HTML title of the current top-level document.
    QString documentTitle() const;
    // Puts the view at (left, top) within its parent and sizes it.
    void setPlacement(int left, int top, int width, int height);

    WebViewBackend* backend() const { return backend_.get(); }

    // What the view shows in place of the engine's error page while its page cannot be loaded: made by
    // `make` on the first failure (so nothing of it exists while pages load), shown over the page after
    // every failed navigation and hidden by the next one that loads.
    void setFailureCover(std::function<QWidget*(QWidget* parent)> make);
    // The cover, once a failure made it; null before.
    QWidget* failureCover() const { return cover_; }

signals:
    // A navigation completed.
    void NavigateComplete2();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void navigationCompleted(bool ok);

    std::unique_ptr<WebViewBackend> backend_;
    std::function<QWidget*(QWidget* parent)> makeCover_;
    QWidget* cover_ = nullptr;
};

} // namespace qarvia
