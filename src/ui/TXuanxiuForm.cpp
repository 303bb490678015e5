#include "ui/TXuanxiuForm.h"

#include "ui/WebView.h"
#include "ui/WindowFrame.h"
#include "ui_TXuanxiuForm.h"

#include <QResizeEvent>
#include <QTimer>

namespace qarvia {

TXuanxiuForm::TXuanxiuForm(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TXuanxiuForm>()) {
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    ui->WebBrowser1->setPlacement(0, 0, ui->WebBrowser1->width(), ui->WebBrowser1->height());
    connect(ui->WebBrowser1, &WebView::NavigateComplete2, this, &TXuanxiuForm::WebBrowser1NavigateComplete2);
    // The outer size changes also when the window manager draws its frame, after the window showed.
    watchFrame(this, [this](const QMargins&) { FormResize(); });
    normalSize_ = size();
    setMinimumSize(normalSize_);
}

TXuanxiuForm::~TXuanxiuForm() = default;

WebView* TXuanxiuForm::WebBrowser1() const {
    return ui->WebBrowser1;
}

void TXuanxiuForm::showPage(const QString& url) {
    TXuanxiuForm form;
    form.ui->WebBrowser1->Navigate(url);
    centreWhenShown(&form, desktopArea);
    form.exec();
}

void TXuanxiuForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Its single border does not resize the window: only maximising and minimising change its size, so a size
    // dragged in the normal state is put back. The check waits for the window system's news of a state change
    // that may come just after the new size.
    if (isVisible() && size() != normalSize_)
        QTimer::singleShot(0, this, &TXuanxiuForm::keepNormalSize);
    FormResize();
}

void TXuanxiuForm::keepNormalSize() {
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) && size() != normalSize_)
        resize(normalSize_);
}

void TXuanxiuForm::FormResize() {
    // The view is sized from the outer size, title bar and border included, as the window always did.
    const QRect outer = outerGeometry(this);
    ui->WebBrowser1->resize(outer.width() - 5, outer.height() - 5);
}

void TXuanxiuForm::WebBrowser1NavigateComplete2() {
    setWindowTitle(QStringLiteral("new:") + ui->WebBrowser1->documentTitle());
}

} // namespace qarvia
