#pragma once

// The three calculator pages of the main window. Each drives controls that the main window's form holds;
// the handlers bear the names of the controls they serve.

#include <QObject>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTextEdit;
class QWidget;

namespace qarvia {

struct ExperienceControls {
    QLineEdit* role1 = nullptr;
    QLineEdit* role2 = nullptr;
    QLineEdit* pet1 = nullptr;
    QLineEdit* pet2 = nullptr;
    QLineEdit* soul1 = nullptr;
    QLineEdit* soul2 = nullptr;
    QComboBox* star = nullptr;
    QComboBox* level = nullptr;
    QLineEdit* dannum = nullptr;
    QPushButton* btnCalculate = nullptr;
    QPushButton* Button2 = nullptr;
    QTextEdit* calResult = nullptr;
};

class ExperiencePage : public QObject {
    Q_OBJECT

public:
    ExperiencePage(const ExperienceControls& controls, QObject* parent);

public slots:
    void btnCalculateClick();
    void Button2Click();

private:
    void writeLine(const QString& text, const QString& amount);

    ExperienceControls c;
};

struct FusionControls {
    QLineEdit* Edit1 = nullptr;  // A initial level
    QLineEdit* Edit2 = nullptr;  // A final level
    QLineEdit* Edit3 = nullptr;  // A growth
    QLineEdit* Edit13 = nullptr; // A accumulated points
    QLineEdit* Edit4 = nullptr;  // B initial level
    QLineEdit* Edit5 = nullptr;  // B final level
    QLineEdit* Edit6 = nullptr;  // B growth
    QLineEdit* Edit14 = nullptr; // B accumulated points
    QLineEdit* Edit7 = nullptr;  // A experience
    QLineEdit* Edit8 = nullptr;  // A energy
    QLineEdit* Edit9 = nullptr;  // A energy-pill groups
    QLineEdit* Edit10 = nullptr; // B experience
    QLineEdit* Edit11 = nullptr; // B energy
    QLineEdit* Edit12 = nullptr; // B energy-pill groups
    QLabel* ronghedian = nullptr;
    QPushButton* yuanhunBtn = nullptr;
};

class FusionPage : public QObject {
    Q_OBJECT

public:
    FusionPage(const FusionControls& controls, QObject* parent);

public slots:
    void yuanhunBtnClick();

private:
    FusionControls c;
};

struct HuaxueControls {
    QWidget* TabSheet3 = nullptr;
    QTableWidget* HuaXueStringGrid = nullptr;
    QLabel* Huaxuedantot = nullptr;
    QLabel* huaxuedansumlb = nullptr;
    QLineEdit* HuaXueDanPrice = nullptr;
    QLabel* PriceSum = nullptr;
    QPushButton* CalHuaxueBtn = nullptr;
    QPushButton* ResetHuaxueBtn = nullptr;
};

// The grid's header is its fixed first row; data row r of the pill list is table row r - 1.
class HuaxuePage : public QObject {
    Q_OBJECT

public:
    HuaxuePage(const HuaxueControls& controls, QObject* parent);

    bool filled() const { return filled_; }

public slots:
    void TabSheet3Show();
    void CalHuaxueBtnClick();
    void ResetHuaxueBtnClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    HuaxueControls c;
    bool filled_ = false;
};

} // namespace qarvia
