#include "ui/TitleBar.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QToolButton>
#include <QWindow>

namespace qarvia {
namespace {

constexpr int kBarHeight = 30;
constexpr int kIconSize = 20;
constexpr int kIconLeft = 8;

QToolButton* barButton(QWidget* parent, const char* name, const char* tip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(QString::fromUtf8(tip));
    button->setAccessibleName(QString::fromUtf8(tip));
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(true);
    button->setFixedSize(24, 22);
    return button;
}

} // namespace

TitleBar* TitleBar::install(QWidget* window, int edge) {
    const QPoint centre = window->frameGeometry().center();
    auto* bar = new TitleBar(window);
    // Before the window exists on screen its flags can simply be changed; setWindowFlag() would re-parent it,
    // which costs the web views inside it a costly round of re-attaching.
    if (window->testAttribute(Qt::WA_WState_Created))
        window->setWindowFlag(Qt::FramelessWindowHint, true);
    else
        window->overrideWindowFlags(window->windowFlags() | Qt::FramelessWindowHint);
    window->setContentsMargins(window->contentsMargins() + QMargins(edge, kBarHeight, edge, edge));
    const QSize outer = window->size() + QSize(2 * edge, kBarHeight + edge);
    window->setFixedSize(outer);
    bar->setGeometry(0, 0, outer.width(), kBarHeight);
    window->move(centre - QPoint(outer.width() / 2, outer.height() / 2));
    return bar;
}

TitleBar::TitleBar(QWidget* window)
    : QWidget(window), window_(window), caption_(new QLabel(this)),
      minimize_(barButton(this, "TitleMinimize", "最小化")), close_(barButton(this, "TitleClose", "关闭")),
      systemMove_([](QWindow* w) { return w->startSystemMove(); }) {
    setObjectName(QStringLiteral("TitleBar"));
    setFixedHeight(kBarHeight);
    caption_->setObjectName(QStringLiteral("TitleCaption"));
    caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
    caption_->setTextFormat(Qt::PlainText); // a caption is never markup
    caption_->setText(window->windowTitle());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kIconLeft + kIconSize + 8, 0, 6, 0);
    row->setSpacing(4);
    row->addWidget(caption_, 1);
    row->addWidget(minimize_);
    row->addWidget(close_);

    connect(minimize_, &QToolButton::clicked, window, &QWidget::showMinimized);
    connect(close_, &QToolButton::clicked, window, &QWidget::close);
    window->installEventFilter(this);
}

QString TitleBar::caption() const {
    return caption_->text();
}

bool TitleBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
        case QEvent::WindowTitleChange:
            caption_->setText(window_->windowTitle());
            break;
        case QEvent::WindowIconChange:
            update();
            break;
        case QEvent::Resize:
            setGeometry(0, 0, window_->width(), kBarHeight);
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TitleBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    QWindow* handle = window_->windowHandle();
    if (handle && systemMove_ && systemMove_(handle))
        return;
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - window_->pos();
}

void TitleBar::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton))
        window_->move(event->globalPosition().toPoint() - dragOffset_);
    else
        QWidget::mouseMoveEvent(event);
}

void TitleBar::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void TitleBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The skin's background for this widget, then the icon, drawn from its vector source at the screen's scale.
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QIcon icon = window_->windowIcon();
    if (icon.isNull())
        icon = QApplication::windowIcon();
    icon.paint(&painter, QRect(kIconLeft, (height() - kIconSize) / 2, kIconSize, kIconSize));
}

} // namespace qarvia
