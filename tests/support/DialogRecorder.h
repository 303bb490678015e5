#pragma once

// Records every message box the program asks for and answers it without showing anything.
//     qarvia::DialogRecorder dialogs;          // installed until it goes out of scope
//     dialogs.enqueue(qarvia::mbYes);          // answers in order; an empty queue answers the default button
//     ... drive the window ...
//     EXPECT_EQ(dialogs.texts(), QStringList{"只能输入数字"});

#include "ui/Dialogs.h"

#include <QStringList>

#include <deque>
#include <vector>

namespace qarvia {

class DialogRecorder final : public Dialogs {
public:
    DialogRecorder();
    ~DialogRecorder() override;

    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    MessageButton show(const MessageRequest& r) override;

    void enqueue(MessageButton answer) { answers_.push_back(answer); }
    const std::vector<MessageRequest>& requests() const { return requests_; }
    QStringList texts() const;
    void clear() { requests_.clear(); }

private:
    Dialogs* previous_;
    std::vector<MessageRequest> requests_;
    std::deque<MessageButton> answers_;
};

} // namespace qarvia
