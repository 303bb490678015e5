#pragma once

// Replaces the browser engine of every web view created while it lives by a recording one, so tests see
// which pages were opened and can finish a navigation with a chosen document title.
//     qarvia::WebViewRecorder web;
//     ... open the window ...
//     EXPECT_EQ(web.navigations().last(), "http://host/page");
//     web.last()->complete("T");               // raises NavigateComplete2; documentTitle() is then "T"

#include "ui/WebView.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace qarvia {

class RecordingWebBackend final : public WebViewBackend {
public:
    explicit RecordingWebBackend(QStringList* log) : log_(log), alive_(std::make_shared<RecordingWebBackend*>(this)) {}

    QWidget* widget() override { return nullptr; }
    void navigate(const QString& url) override;
    QString title() const override { return title_; }

    // Completes a navigation of this view with the given document title.
    void complete(const QString& title);
    // Completes a navigation of this view with a page that could not be loaded.
    void fail();
    const QStringList& urls() const { return urls_; }
    // Detaches from the recorder's log (the recorder ended before this view).
    void detach() { log_ = nullptr; }
    std::weak_ptr<RecordingWebBackend*> token() const { return alive_; }

private:
    QStringList* log_;
    std::shared_ptr<RecordingWebBackend*> alive_;
    QStringList urls_;
    QString title_;
};

class WebViewRecorder {
public:
    WebViewRecorder();
    ~WebViewRecorder();

    WebViewRecorder(const WebViewRecorder&) = delete;
    WebViewRecorder& operator=(const WebViewRecorder&) = delete;

    // Every address any recorded view was navigated to, in order.
    const QStringList& navigations() const { return log_; }
    // Views created so far (backends stay valid while their WebView lives).
    int viewCount() const { return int(backends_.size()); }
    // The backend of the most recently created view still alive, or null.
    RecordingWebBackend* last() const;

private:
    QStringList log_;
    std::vector<std::weak_ptr<RecordingWebBackend*>> backends_;
};

} // namespace qarvia
