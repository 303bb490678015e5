#include "ui/TXuanxiuForm.h"
#include "ui/WebView.h"

#include "ModalWindowCloser.h"
#include "QtPrinters.h"
#include "WebViewRecorder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace qarvia {
namespace {

TEST(WebPageWindow, CaptionFollowsEveryCompletedNavigation) {
    WebViewRecorder web;
    TXuanxiuForm form;
    EXPECT_TRUE(form.windowTitle().isEmpty());
    form.WebBrowser1()->Navigate(QStringLiteral("http://127.0.0.1:1/a.htm"));
    ASSERT_NE(web.last(), nullptr);
    web.last()->complete(QString::fromUtf8("玄修模拟器"));
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("new:玄修模拟器"));
    web.last()->complete(QString());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("new:"));
    EXPECT_EQ(web.navigations(), QStringList{QStringLiteral("http://127.0.0.1:1/a.htm")});
}

TEST(WebPageWindow, ViewStaysFivePixelsShortOfTheOuterSize) {
    WebViewRecorder web;
    TXuanxiuForm form;
    EXPECT_EQ(form.WebBrowser1()->pos(), QPoint(0, 0));
    form.show();
    for (QSize size : {QSize(800, 600), QSize(400, 300), QSize(1200, 700)}) {
        form.resize(size);
        QApplication::processEvents();
        EXPECT_EQ(form.WebBrowser1()->size(), form.frameGeometry().size() - QSize(5, 5)) << size.width();
    }
}

TEST(WebPageWindow, ShowPageOpensModallyAndDestroysTheWindow) {
    WebViewRecorder web;
    QString caption;
    bool wasModal = false;
    ModalWindowCloser closer([&](QWidget* w) {
        wasModal = w->isModal();
        if (web.last())
            web.last()->complete(QStringLiteral("T"));
        caption = w->windowTitle();
    });
    TXuanxiuForm::showPage(QStringLiteral("http://127.0.0.1:1/bang/role/7#dList2"));
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(caption, QStringLiteral("new:T"));
    EXPECT_EQ(web.navigations(), QStringList{QStringLiteral("http://127.0.0.1:1/bang/role/7#dList2")});
    EXPECT_EQ(web.last(), nullptr); // the window and its view are gone
    EXPECT_TRUE(visibleTopLevelWindows().isEmpty());
}

// The real browser engine: a local page with a known title.
TEST(WebPageWindow, BrowserEngineReportsTheDocumentTitle) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile page(dir.filePath(QStringLiteral("page.html")));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>\xE5\x8A\xA0\xE7\x82\xB9 Simulator</title>"
               "</head><body>points</body></html>");
    page.close();

    TXuanxiuForm form;
    QSignalSpy completed(form.WebBrowser1(), &WebView::NavigateComplete2);
    form.WebBrowser1()->Navigate(QUrl::fromLocalFile(page.fileName()).toString());
    form.show();
    ASSERT_TRUE(completed.wait(60000));
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("new:加点 Simulator"));
}

} // namespace
} // namespace qarvia
