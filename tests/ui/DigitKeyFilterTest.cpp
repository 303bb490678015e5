#include "ui/DigitKeyFilter.h"

#include "DialogRecorder.h"
#include "ModalWindowCloser.h"
#include "QtPrinters.h"

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace qarvia {
namespace {

const QString kOnlyDigits = QString::fromUtf8("只能输入数字");

struct Key {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QString text;
};

// Characters that are not digits: each is refused with the message.
const Key kRefused[] = {
    {"letter", Qt::Key_A, Qt::NoModifier, QStringLiteral("a")},
    {"space", Qt::Key_Space, Qt::NoModifier, QStringLiteral(" ")},
    {"decimal point", Qt::Key_Period, Qt::NoModifier, QStringLiteral(".")},
    {"minus", Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-")},
    {"enter", Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r")},
    {"copy", Qt::Key_C, Qt::ControlModifier, QString(QChar(3))},
    {"paste", Qt::Key_V, Qt::ControlModifier, QString(QChar(22))},
    {"cut", Qt::Key_X, Qt::ControlModifier, QString(QChar(24))},
    {"paste reported as a letter", Qt::Key_V, Qt::ControlModifier, QStringLiteral("v")},
    {"full-width digit", Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("１")},
};

void press(QWidget* w, const Key& k) {
    QTest::sendKeyEvent(QTest::Press, w, k.key, k.text, k.modifiers);
    QTest::sendKeyEvent(QTest::Release, w, k.key, k.text, k.modifiers);
}

TEST(DigitKeyFilter, RefusesEveryOtherCharacterWithAMessage) {
    DialogRecorder recorder;
    QLineEdit edit(QStringLiteral("12"));
    DigitKeyFilter filter;
    filter.attach(&edit);
    for (const Key& k : kRefused) {
        recorder.clear();
        press(&edit, k);
        EXPECT_EQ(recorder.texts(), QStringList{kOnlyDigits}) << k.name;
        EXPECT_EQ(edit.text(), QStringLiteral("12")) << k.name;
    }
}

TEST(DigitKeyFilter, DigitsBackspaceAndNavigationPassSilently) {
    DialogRecorder recorder;
    QLineEdit edit;
    DigitKeyFilter filter;
    filter.attach(&edit);
    QTest::keyClicks(&edit, QStringLiteral("0123456789"));
    EXPECT_EQ(edit.text(), QStringLiteral("0123456789"));
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Left);
    QTest::keyClick(&edit, Qt::Key_Delete);
    QTest::keyClick(&edit, Qt::Key_Home);
    EXPECT_EQ(edit.text(), QStringLiteral("01234567"));
    EXPECT_TRUE(recorder.requests().empty());
}

TEST(DigitKeyFilter, InputMethodTextIsFilteredToo) {
    DialogRecorder recorder;
    QLineEdit edit;
    DigitKeyFilter filter;
    filter.attach(&edit);
    QInputMethodEvent digits;
    digits.setCommitString(QStringLiteral("42"));
    QApplication::sendEvent(&edit, &digits);
    QInputMethodEvent words;
    words.setCommitString(QString::fromUtf8("四十二"));
    QApplication::sendEvent(&edit, &words);
    EXPECT_EQ(edit.text(), QStringLiteral("42"));
    EXPECT_EQ(recorder.texts(), QStringList{kOnlyDigits});
}

TEST(DigitKeyFilter, GridAndItsCellEditor) {
    DialogRecorder recorder;
    QTableWidget grid(2, 2);
    grid.setItem(0, 0, new QTableWidgetItem);
    DigitKeyFilter filter;
    filter.attach(&grid);
    grid.show();
    grid.setCurrentCell(0, 0);

    press(&grid, kRefused[0]);
    EXPECT_EQ(recorder.texts(), QStringList{kOnlyDigits});

    grid.editItem(grid.item(0, 0));
    auto* editor = grid.viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("7"));
    press(editor, kRefused[4]); // Enter is a refused character in the grid too
    press(editor, kRefused[1]);
    EXPECT_EQ(editor->text(), QStringLiteral("7"));
    EXPECT_EQ(recorder.texts().size(), 3);
}

// Mended: Enter in a cell editor committed the cell and closed the editor after the message, and the message
// box taking the focus closed the editor after any refused key.
TEST(DigitKeyFilter, RefusedKeyLeavesTheCellInEditing) {
    QTableWidget grid(2, 2);
    grid.setItem(0, 0, new QTableWidgetItem);
    DigitKeyFilter filter;
    filter.attach(&grid);
    grid.show();
    grid.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&grid));
    grid.setCurrentCell(0, 0);
    grid.editItem(grid.item(0, 0));
    QPointer<QLineEdit> editor = grid.viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("7"));

    ModalWindowCloser closer; // the real message box, which takes the focus while it is up
    for (const Key& k : {kRefused[4], kRefused[0]}) {
        press(editor, k);
        QApplication::processEvents(); // a queued commit would land here
        ASSERT_TRUE(editor && editor->isVisible()) << k.name;
        EXPECT_EQ(editor->text(), QStringLiteral("7")) << k.name;
        EXPECT_EQ(grid.item(0, 0)->text(), QString()) << k.name;
    }
    EXPECT_EQ(closer.closedCount(), 2);
    QTest::keyClicks(editor, QStringLiteral("8"));
    EXPECT_EQ(editor->text(), QStringLiteral("78")); // the editor still has the keyboard
}

} // namespace
} // namespace qarvia
