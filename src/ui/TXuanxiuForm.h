#pragma once

// The web-page window: a modal window holding one web view, used for the point-allocation simulator and for
// a character's detail page. Its caption follows the loaded document: "new:" and the title.

#include <QDialog>

#include <memory>

namespace Ui {
class TXuanxiuForm;
}

namespace qarvia {

class WebView;

class TXuanxiuForm : public QDialog {
    Q_OBJECT

public:
    explicit TXuanxiuForm(QWidget* parent = nullptr);
    ~TXuanxiuForm() override;

    WebView* WebBrowser1() const;

    // Creates a window with no owner, navigates it to url, shows it modally, centred on the desktop, and
    // destroys it when it closes, also when navigating or showing it raised an error (which then propagates).
    static void showPage(const QString& url);

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void WebBrowser1NavigateComplete2();

private:
    void FormResize();
    void keepNormalSize();

    std::unique_ptr<Ui::TXuanxiuForm> ui;
    QSize normalSize_;
};

} // namespace qarvia
