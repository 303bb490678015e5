#include "ui/DigitKeyFilter.h"

#include "ui/Dialogs.h"

#include <QAbstractItemView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>

namespace qarvia {
namespace {

const QString& onlyDigitsMessage() {
    static const QString m = QString::fromUtf8("只能输入数字");
    return m;
}

// Gives every cell editor of a grid the same filter as the grid itself. The filter runs inside the delegate's
// own watch over the editor, ahead of it: a refused Enter must not reach the delegate, which would commit the
// cell and close the editor, and the message box taking the focus for a moment is no reason to leave the cell
// either. After the message the cell is still in editing with its text as it was.
class FilteredEditorDelegate final : public QStyledItemDelegate {
public:
    FilteredEditorDelegate(DigitKeyFilter* filter, QObject* parent) : QStyledItemDelegate(parent), filter_(filter) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (editor)
            editor->setAttribute(Qt::WA_InputMethodEnabled, false);
        return editor;
    }

protected:
    bool eventFilter(QObject* editor, QEvent* event) override {
        if (messageShowing_ && (event->type() == QEvent::FocusOut || event->type() == QEvent::Hide))
            return false; // the editor notes the focus change; the delegate neither commits nor closes
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::InputMethod) {
            messageShowing_ = true;
            const bool refused = filter_->refuses(event);
            messageShowing_ = false;
            if (refused)
                return true;
        }
        return QStyledItemDelegate::eventFilter(editor, event);
    }

private:
    DigitKeyFilter* filter_;
    bool messageShowing_ = false;
};

bool allAccepted(const QString& text) {
    for (QChar c : text) {
        if (!DigitKeyFilter::accepts(c))
            return false;
    }
    return true;
}

} // namespace

DigitKeyFilter::DigitKeyFilter(QObject* parent) : QObject(parent) {}

void DigitKeyFilter::attach(QLineEdit* edit) {
    edit->installEventFilter(this);
    // A composing input method would bypass the key events; digits need none.
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
}

void DigitKeyFilter::attach(QAbstractItemView* grid) {
    grid->installEventFilter(this);
    grid->setAttribute(Qt::WA_InputMethodEnabled, false);
    grid->setItemDelegate(new FilteredEditorDelegate(this, grid));
}

bool DigitKeyFilter::accepts(QChar c) {
    return c == QChar(8) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

bool DigitKeyFilter::refuses(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
        case Qt::Key_Escape:
            return false;
        default:
            break;
        }
        QString text = key->text();
        // Ctrl+letter types a control character (Ctrl+C is code 3) even where the platform reports the letter.
        if ((key->modifiers() & Qt::ControlModifier) && key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z)
            text = QString(QChar(key->key() - Qt::Key_A + 1));
        if (text.isEmpty() || allAccepted(text))
            return false;
        showMessage(onlyDigitsMessage());
        return true;
    }
    if (event->type() == QEvent::InputMethod) {
        auto* im = static_cast<QInputMethodEvent*>(event);
        if (im->commitString().isEmpty() || allAccepted(im->commitString()))
            return false;
        showMessage(onlyDigitsMessage());
        return true;
    }
    return false;
}

bool DigitKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    return refuses(event) || QObject::eventFilter(watched, event);
}

} // namespace qarvia
