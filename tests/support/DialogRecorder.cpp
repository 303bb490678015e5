#include "DialogRecorder.h"

namespace qarvia {

DialogRecorder::DialogRecorder() : previous_(&dialogs()) {
    setDialogs(this);
}

DialogRecorder::~DialogRecorder() {
    setDialogs(nullptr);
}

MessageButton DialogRecorder::show(const MessageRequest& r) {
    requests_.push_back(r);
    if (answers_.empty())
        return r.defaultButton;
    const MessageButton answer = answers_.front();
    answers_.pop_front();
    return answer;
}

QStringList DialogRecorder::texts() const {
    QStringList out;
    for (const MessageRequest& r : requests_)
        out << r.text;
    return out;
}

} // namespace qarvia
