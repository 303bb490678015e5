#include "WebViewRecorder.h"

namespace qarvia {

void RecordingWebBackend::navigate(const QString& url) {
    urls_ << url;
    if (log_)
        log_->append(url);
}

void RecordingWebBackend::complete(const QString& title) {
    title_ = title;
    if (completed)
        completed(true);
}

void RecordingWebBackend::fail() {
    if (completed)
        completed(false);
}

WebViewRecorder::WebViewRecorder() {
    setWebViewBackendFactory([this](QWidget*) {
        auto backend = std::make_unique<RecordingWebBackend>(&log_);
        backends_.push_back(backend->token());
        return std::unique_ptr<WebViewBackend>(std::move(backend));
    });
}

WebViewRecorder::~WebViewRecorder() {
    setWebViewBackendFactory({});
    for (const auto& weak : backends_) {
        if (auto alive = weak.lock())
            (*alive)->detach();
    }
}

RecordingWebBackend* WebViewRecorder::last() const {
    for (auto it = backends_.rbegin(); it != backends_.rend(); ++it) {
        if (auto alive = it->lock())
            return *alive;
    }
    return nullptr;
}

} // namespace qarvia
