#pragma once

// The one key filter of every numeric input box: backspace and the digits "0" to "9" pass; any other
// typed character is dropped after the message "只能输入数字". Keys that type nothing (arrows, Delete, Home,
// function keys), Tab (focus moves on) and Escape are not characters and pass untouched. Text an input method
// commits is held to the same rule.

#include <QObject>

class QAbstractItemView;
class QEvent;
class QLineEdit;

namespace qarvia {

class DigitKeyFilter : public QObject {
    Q_OBJECT

public:
    explicit DigitKeyFilter(QObject* parent = nullptr);

    // Filters a single-line edit box.
    void attach(QLineEdit* edit);
    // Filters a grid and every cell editor it opens.
    void attach(QAbstractItemView* grid);

    // True for the characters the filter lets through: backspace and ASCII digits.
    static bool accepts(QChar c);

    // Shows the message for a key press or input-method text that types a refused character and returns true
    // (the event is then to be dropped); false for everything else.
    bool refuses(QEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace qarvia
