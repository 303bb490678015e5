#pragma once

// The question window: a newer version is available, update now or later?

#include "update/wizard/UpdaterStrings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TsuUpdaterMessageForm;
}

namespace qarvia::update {

class TsuUpdaterMessageForm : public QDialog {
    Q_OBJECT
public:
    explicit TsuUpdaterMessageForm(QWidget* parent = nullptr);
    ~TsuUpdaterMessageForm() override;

    // Asks about an update with its release notes (may be empty); true when answered Yes. The window is
    // always on top, exists only while it asks, and never more than once at a time. `question` is the table
    // text asked: whether to upgrade, or (usNotifyOnly) whether to open the download page instead.
    static bool AskUpgrade(const QString& message, QWidget* parent = nullptr, UpdaterText question = usAskUpgrade);

    // Fills in the texts and sizes the window to its wrapped text.
    void prepare(const QString& message, UpdaterText question = usAskUpgrade);

private:
    std::unique_ptr<Ui::TsuUpdaterMessageForm> ui;
};

} // namespace qarvia::update
