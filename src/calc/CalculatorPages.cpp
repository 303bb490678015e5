#include "calc/CalculatorPages.h"

#include "calc/Calculators.h"
#include "calc/ExpTables.h"
#include "ui/Dialogs.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include <algorithm>
#include <array>

namespace qarvia {
namespace {

// Disables a button for the length of its handler and enables it again on every way out.
class BusyButton {
public:
    explicit BusyButton(QPushButton* b) : button_(b) { button_->setEnabled(false); }
    ~BusyButton() { button_->setEnabled(true); }
    BusyButton(const BusyButton&) = delete;
    BusyButton& operator=(const BusyButton&) = delete;

private:
    QPushButton* button_;
};

std::string text(const QLineEdit* e) {
    return e->text().toStdString();
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Shows the wrong-input message or the conversion error of an outcome, if it has one.
void report(const std::string& message, const std::string& error) {
    if (!message.empty())
        showMessage(q(message));
    if (!error.empty())
        showApplicationError(q(error));
}

const QColor kAmountColour(255, 0, 0);

// The pill levels the experience page lists, in the order of its drop-down list.
constexpr std::array<int, 5> kListedPillLevels{50, 60, 65, 70, 80};

} // namespace

// ---- Experience calculator -------------------------------------------------------------------------------

ExperiencePage::ExperiencePage(const ExperienceControls& controls, QObject* parent) : QObject(parent), c(controls) {
    // The selection stays on the last amount, but the box draws no selection while it lacks the focus, so that
    // amount shows red at once. With no brush for the selected text each character keeps its own colour.
    QPalette palette = c.calResult->palette();
    palette.setBrush(QPalette::Inactive, QPalette::Highlight, Qt::transparent);
    palette.setBrush(QPalette::Inactive, QPalette::HighlightedText, QBrush());
    c.calResult->setPalette(palette);
    connect(c.btnCalculate, &QPushButton::clicked, this, &ExperiencePage::btnCalculateClick);
    connect(c.Button2, &QPushButton::clicked, this, &ExperiencePage::Button2Click);
}

void ExperiencePage::writeLine(const QString& text, const QString& amount) {
    QTextCursor cursor(c.calResult->document());
    cursor.movePosition(QTextCursor::End);
    if (!c.calResult->document()->isEmpty())
        cursor.insertBlock();
    QTextCharFormat plain = cursor.charFormat();
    plain.clearForeground();
    cursor.insertText(text, plain);
    QTextCharFormat red = plain;
    red.setForeground(kAmountColour);
    const int amountStart = cursor.position();
    cursor.insertText(amount, red);
    // The selection is left on the amount just written.
    cursor.setPosition(amountStart);
    cursor.setPosition(amountStart + int(amount.size()), QTextCursor::KeepAnchor);
    c.calResult->setTextCursor(cursor);
}

void ExperiencePage::btnCalculateClick() {
    runGuarded([this] {
        BusyButton busy(c.btnCalculate);
        c.calResult->clear();
        calc::ExperienceInput in;
        in.role = {text(c.role1), text(c.role2)};
        in.pet = {text(c.pet1), text(c.pet2)};
        in.soul = {text(c.soul1), text(c.soul2)};
        in.stars = c.star->currentIndex() + 1;
        in.pillLevel = kListedPillLevels[std::size_t(std::clamp(c.level->currentIndex(), 0, 4))];
        in.count = text(c.dannum);
        const calc::ExperienceOutcome out = calc::calculateExperience(in);
        for (const calc::ResultLine& line : out.lines)
            writeLine(q(line.text), q(line.amount));
        report(out.message, out.error);
    });
}

void ExperiencePage::Button2Click() {
    for (QLineEdit* e : {c.role1, c.role2, c.pet1, c.pet2, c.soul1, c.soul2})
        e->clear();
    c.star->setCurrentIndex(0);
    c.level->setCurrentIndex(0);
    c.dannum->setText(QStringLiteral("0"));
    c.calResult->clear();
}

// ---- Soul-pearl fusion calculator -------------------------------------------------------------------------

FusionPage::FusionPage(const FusionControls& controls, QObject* parent) : QObject(parent), c(controls) {
    connect(c.yuanhunBtn, &QPushButton::clicked, this, &FusionPage::yuanhunBtnClick);
}

void FusionPage::yuanhunBtnClick() {
    runGuarded([this] {
        BusyButton busy(c.yuanhunBtn);
        const calc::FusionOutcome out =
            calc::calculateFusion({text(c.Edit1), text(c.Edit2), text(c.Edit3), text(c.Edit13)},
                                  {text(c.Edit4), text(c.Edit5), text(c.Edit6), text(c.Edit14)});
        if (out.computed()) {
            c.ronghedian->setText(q(out.fusionPoints));
            c.Edit7->setText(q(out.a.experience));
            c.Edit10->setText(q(out.b.experience));
            c.Edit8->setText(q(out.a.energy));
            c.Edit11->setText(q(out.b.energy));
            c.Edit9->setText(q(out.a.pillGroups));
            c.Edit12->setText(q(out.b.pillGroups));
        }
        report(out.message, out.error);
    });
}

// ---- Huaxue pill calculator -------------------------------------------------------------------------------

namespace {

constexpr int kQuantityColumns[2] = {2, 6};

QTableWidgetItem* fixedItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

HuaxuePage::HuaxuePage(const HuaxueControls& controls, QObject* parent) : QObject(parent), c(controls) {
    c.TabSheet3->installEventFilter(this);
    connect(c.CalHuaxueBtn, &QPushButton::clicked, this, &HuaxuePage::CalHuaxueBtnClick);
    connect(c.ResetHuaxueBtn, &QPushButton::clicked, this, &HuaxuePage::ResetHuaxueBtnClick);
    // A page made for a sheet already on screen has missed the sheet's showing.
    if (c.TabSheet3->isVisible())
        TabSheet3Show();
}

bool HuaxuePage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == c.TabSheet3 && event->type() == QEvent::Show)
        TabSheet3Show();
    return QObject::eventFilter(watched, event);
}

void HuaxuePage::TabSheet3Show() {
    if (filled_)
        return;
    filled_ = true;
    QTableWidget* grid = c.HuaXueStringGrid;
    const QStringList header{QString::fromUtf8("类型"), QString::fromUtf8("经验（万）"), QString::fromUtf8("数量"),
                             QString::fromUtf8("小计（万）")};
    grid->setHorizontalHeaderLabels(header + header);
    // The pill rows, then one empty last row, as the grid has always shown.
    grid->setRowCount(int(calc::HuaxueGridRows.size()) + 1);
    for (int r = 0; r < grid->rowCount(); ++r) {
        const bool data = r < int(calc::HuaxueGridRows.size());
        const calc::HuaxueGridRow row = data ? calc::HuaxueGridRows[std::size_t(r)] : calc::HuaxueGridRow{};
        const std::string_view halves[2][2] = {{row.leftType, row.leftExp}, {row.rightType, row.rightExp}};
        for (int h = 0; h < 2; ++h) {
            const int base = h * 4;
            grid->setItem(r, base, fixedItem(QString::fromUtf8(halves[h][0].data(), qsizetype(halves[h][0].size()))));
            grid->setItem(r, base + 1,
                          fixedItem(QString::fromUtf8(halves[h][1].data(), qsizetype(halves[h][1].size()))));
            // The quantity columns are editable in every row; a quantity beside no pill counts in the number
            // of pills only, as the calculation says.
            QTableWidgetItem* quantity = fixedItem(QString());
            quantity->setFlags(quantity->flags() | Qt::ItemIsEditable);
            grid->setItem(r, base + 2, quantity);
            grid->setItem(r, base + 3, fixedItem(QString()));
        }
    }
}

void HuaxuePage::CalHuaxueBtnClick() {
    runGuarded([this] {
        BusyButton busy(c.CalHuaxueBtn);
        QTableWidget* grid = c.HuaXueStringGrid;
        // A quantity still in its cell editor belongs to the calculation (Alt+C does not move the focus).
        QAbstractItemDelegate* delegate = grid->itemDelegate();
        for (QLineEdit* editor : grid->viewport()->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly)) {
            if (!editor->isVisible())
                continue; // closed, waiting to be deleted
            emit delegate->commitData(editor);
            emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
        }

        auto cellText = [grid](int r, int col) {
            const QTableWidgetItem* item = grid->item(r, col);
            return item ? item->text().toStdString() : std::string();
        };
        std::vector<calc::PillCell> cells;
        for (int r = 0; r < grid->rowCount(); ++r) {
            for (int h = 0; h < 2; ++h)
                cells.push_back({cellText(r, kQuantityColumns[h]), cellText(r, kQuantityColumns[h] - 1)});
        }
        const calc::HuaxueOutcome out = calc::calculateHuaxue(cells, text(c.HuaXueDanPrice));
        for (std::size_t i = 0; i < out.subtotals.size(); ++i) {
            if (!out.subtotals[i])
                continue;
            const int r = int(i / 2);
            const int col = kQuantityColumns[i % 2] + 1;
            if (QTableWidgetItem* item = grid->item(r, col))
                item->setText(q(*out.subtotals[i]));
            else
                grid->setItem(r, col, fixedItem(q(*out.subtotals[i])));
        }
        if (out.count)
            c.Huaxuedantot->setText(q(*out.count));
        if (out.total)
            c.huaxuedansumlb->setText(q(*out.total));
        if (out.priceTotal)
            c.PriceSum->setText(q(*out.priceTotal));
        report({}, out.error);
    });
}

void HuaxuePage::ResetHuaxueBtnClick() {
    QTableWidget* grid = c.HuaXueStringGrid;
    for (int r = 0; r < grid->rowCount(); ++r) {
        for (int col : {2, 3, 6, 7}) {
            if (QTableWidgetItem* item = grid->item(r, col))
                item->setText(QString());
        }
    }
    for (QLabel* total : {c.Huaxuedantot, c.huaxuedansumlb, c.PriceSum})
        total->setText(QStringLiteral("0"));
    c.HuaXueDanPrice->setText(QStringLiteral("160"));
}

} // namespace qarvia
