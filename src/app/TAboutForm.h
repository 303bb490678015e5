#pragma once

// The About window: publisher, coder and feedback address, with the site and the mailbox as links.

#include <QDialog>

#include <memory>

namespace Ui {
class TAboutForm;
}

namespace qarvia {

class TAboutForm : public QDialog {
    Q_OBJECT

public:
    TAboutForm(const QString& siteUrl, const QString& feedbackMail, QWidget* parent = nullptr);
    ~TAboutForm() override;

public slots:
    void Label4Click();
    void Label5Click();
    void Button1Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TAboutForm> ui;
    QString siteUrl_;
    QString feedbackMail_;
};

} // namespace qarvia
