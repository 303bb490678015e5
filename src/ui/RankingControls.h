#pragma once

// The controls of the main window's hero-ranking tab, handed to the page that drives them, so that page
// needs neither the main window's class nor its generated form header.

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QWidget;

namespace qarvia {

struct RankingControls {
    QWidget* TabSheet5 = nullptr;
    QLabel* Label30 = nullptr;
    QLineEdit* herorankEdit = nullptr;
    QPushButton* herorankSoBtn = nullptr;
    QLabel* heronum_lbe = nullptr;
    QTableWidget* herolist = nullptr;
    QLabel* Label31 = nullptr;
    QLabel* pagenum_lbe = nullptr;
    QPushButton* herorank_pu = nullptr;
    QPushButton* herorank_pd = nullptr;
};

} // namespace qarvia
