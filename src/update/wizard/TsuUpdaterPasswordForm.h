#pragma once

// The login window for a password-protected download.

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class TsuUpdaterPasswordForm;
}

namespace qarvia::update {

class TsuUpdaterPasswordForm : public QDialog {
    Q_OBJECT
public:
    explicit TsuUpdaterPasswordForm(QWidget* parent = nullptr);
    ~TsuUpdaterPasswordForm() override;

    // Asks for a login for `fileName` (the last segment of the URL's path). On OK stores the two fields in
    // `user` and `password` and returns true; on Cancel leaves them as they were.
    static bool AskLogin(const std::string& fileName, std::string& user, std::string& password,
                         QWidget* parent = nullptr);

    void prepare(const std::string& fileName, const std::string& user);

private:
    std::unique_ptr<Ui::TsuUpdaterPasswordForm> ui;
};

} // namespace qarvia::update
