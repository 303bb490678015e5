#include "ui/TXuanxiuForm.h"

#include "ui/WebView.h"
#include "ui_TXuanxiuForm.h"

#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>

namespace qarvia {

TXuanxiuForm::TXuanxiuForm(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TXuanxiuForm>()) {
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    ui->WebBrowser1->setPlacement(0, 0, ui->WebBrowser1->width(), ui->WebBrowser1->height());
    connect(ui->WebBrowser1, &WebView::NavigateComplete2, this, &TXuanxiuForm::WebBrowser1NavigateComplete2);
}

TXuanxiuForm::~TXuanxiuForm() = default;

WebView* TXuanxiuForm::WebBrowser1() const {
    return ui->WebBrowser1;
}

void TXuanxiuForm::showPage(const QString& url) {
    TXuanxiuForm form;
    form.ui->WebBrowser1->Navigate(url);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = form.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        form.move(frame.topLeft());
    }
    form.exec();
}

void TXuanxiuForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TXuanxiuForm::FormResize() {
    // The view is sized from the outer size, title bar and border included, as the window always did.
    const QRect outer = frameGeometry();
    ui->WebBrowser1->resize(outer.width() - 5, outer.height() - 5);
}

void TXuanxiuForm::WebBrowser1NavigateComplete2() {
    setWindowTitle(QStringLiteral("new:") + ui->WebBrowser1->documentTitle());
}

} // namespace qarvia
