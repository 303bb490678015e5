#include "ui/Dialogs.h"
#include "ui/ShellOpen.h"

#include "DialogRecorder.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qarvia {
namespace {

TEST(FinalPeriod, AppendedWhenTheLastCharacterSortsAfterThePoint) {
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "abc."},      {"abc.", "abc."},    {"abc!", "abc!"}, {"", ""},          {"value)", "value)"},
        {"a-", "a-"},         {"path/", "path/."}, {"9", "9."},      {"错误", "错误."}, {"'' is not", "'' is not."},
        {"quote'", "quote'"}, {"x ", "x "},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(withFinalPeriod(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(ErrorDisplay, ErrorBoxCaptionedWithTheProgramName) {
    DialogRecorder recorder;
    showApplicationError(QStringLiteral("Connection refused"));
    showMessage(QString::fromUtf8("最高80级"));
    ASSERT_EQ(recorder.requests().size(), 2u);
    const MessageRequest& error = recorder.requests()[0];
    EXPECT_EQ(error.text, QStringLiteral("Connection refused."));
    EXPECT_EQ(error.caption, QStringLiteral("ui_tests"));
    EXPECT_EQ(error.icon, MessageIcon::Error);
    EXPECT_EQ(error.buttons, int(mbOk));
    const MessageRequest& plain = recorder.requests()[1];
    EXPECT_EQ(plain.text, QString::fromUtf8("最高80级")); // plain messages get no period
    EXPECT_EQ(plain.caption, applicationTitle());
    EXPECT_EQ(plain.icon, MessageIcon::None);
}

TEST(ErrorDisplay, GuardedHandlersReportWhatTheyRaise) {
    DialogRecorder recorder;
    bool after = false;
    runGuarded([] { throw std::runtime_error("'' is not a valid integer value"); });
    runGuarded([] { throw std::runtime_error("无法连接"); });
    runGuarded([] { throw 42; });
    runGuarded([&after] { after = true; });
    EXPECT_TRUE(after);
    EXPECT_EQ(recorder.texts(), (QStringList{QStringLiteral("'' is not a valid integer value."),
                                             QString::fromUtf8("无法连接."), QStringLiteral("Unknown error.")}));
}

TEST(DialogRecorder, AnswersInOrderThenWithTheDefault) {
    DialogRecorder recorder;
    recorder.enqueue(mbNo);
    MessageRequest question;
    question.buttons = mbYes | mbNo;
    question.defaultButton = mbYes;
    EXPECT_EQ(dialogs().show(question), mbNo);
    EXPECT_EQ(dialogs().show(question), mbYes);
}

class ThrowingOpener : public ShellOpener {
public:
    bool open(const QString& target) override {
        targets << target;
        throw std::runtime_error("no handler for mailto");
    }
    QStringList targets;
};

TEST(ShellOpen, FailuresAreSilent) {
    DialogRecorder recorder;
    ThrowingOpener opener;
    setShellOpener(&opener);
    shellOpen(QStringLiteral("mailto:someone@example.org"));
    setShellOpener(nullptr);
    EXPECT_EQ(opener.targets, QStringList{QStringLiteral("mailto:someone@example.org")});
    EXPECT_TRUE(recorder.requests().empty());
}

} // namespace
} // namespace qarvia
