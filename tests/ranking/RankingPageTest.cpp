// The hero ranking tab driven as a user drives it: TForm1 on the offscreen platform, QTest key and mouse
// events, a loopback ranking service that records every request, dialogs and web pages recorded.

#include "app/Application.h"
#include "app/TForm1.h"
#include "ranking/RankingPage.h"
#include "text/Encoding.h"

#include "DialogRecorder.h"
#include "ModalWindowCloser.h"
#include "RankDemo.h"
#include "ScriptedServer.h"
#include "WebViewRecorder.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using qarvia::DialogRecorder;
using qarvia::MessageIcon;
using qarvia::RankingPage;
using qarvia::test::ScriptedServer;
using Step = ScriptedServer::Step;

const char* const kJsonUtf8 = "application/json; charset=utf-8";
const std::string kUserAgent = "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.4 (KHTML, like Gecko) "
                               "Chrome/22.0.1229.94 Safari/537.4";

std::string httpAnswer(const std::string& body, const std::string& contentType = kJsonUtf8,
                       const std::string& extraHeaders = {}) {
    return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n" + extraHeaders + "\r\n" + body;
}

// n roles "<prefix>0", "<prefix>1", ... with ids "<prefix>-id0", ...; numbers where the service sends numbers.
std::string rolesJson(const std::string& prefix, int n) {
    std::string json = "[";
    for (int i = 0; i < n; ++i) {
        std::string k = std::to_string(i);
        json += (i ? "," : "") + std::string("{\"id\":\"") + prefix + "-id" + k + "\",\"name\":\"" + prefix + k +
                "\",\"sector\":\"电信一区\",\"server\":\"青龙\",\"level\":" + std::to_string(100 + i) +
                ",\"school\":\"天罡\",\"clan\":\"正派\",\"xiuwei\":" + k + "1,\"equ_xiuwei\":" + k +
                "2,\"total_xiuwei\":" + k + "3}";
    }
    return json + "]";
}

std::string answerJson(const std::string& total, const std::string& roles) {
    return "{\"result\":{\"total_count\":" + total + ",\"roles\":" + roles + "}}";
}

std::string searchAnswer(const std::string& total, const std::string& prefix, int n) {
    return httpAnswer(answerJson(total, rolesJson(prefix, n)));
}

class RankingTab : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<qarvia::TForm1>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        tabs = form->findChild<QTabWidget*>("PageControl1");
        ASSERT_NE(tabs, nullptr);
        tabs->setCurrentIndex(4); // the page's controls are made as it first shows
        page = form->findChild<RankingPage*>();
        ASSERT_NE(page, nullptr);
        edit = form->findChild<QLineEdit*>("herorankEdit");
        searchBtn = form->findChild<QPushButton*>("herorankSoBtn");
        prevBtn = form->findChild<QPushButton*>("herorank_pu");
        nextBtn = form->findChild<QPushButton*>("herorank_pd");
        grid = form->findChild<QTableWidget*>("herolist");
        countLabel = form->findChild<QLabel*>("heronum_lbe");
        pageLabel = form->findChild<QLabel*>("pagenum_lbe");
        ASSERT_TRUE(edit && searchBtn && prevBtn && nextBtn && grid && countLabel && pageLabel);
    }

    void TearDown() override {
        form->close();
        form.reset();
        EXPECT_TRUE(qarvia::visibleTopLevelWindows().isEmpty());
    }

    void use(const ScriptedServer& server) { page->setServiceUrl(QString::fromStdString(server.url(""))); }

    void searchFor(const QString& name) {
        edit->setText(name);
        QTest::mouseClick(searchBtn, Qt::LeftButton);
    }

    // Rows of the grid as text, hidden id column included; every row, the trailing empty one too.
    std::vector<QStringList> rows() const {
        std::vector<QStringList> out;
        for (int r = 0; r < grid->rowCount(); ++r) {
            QStringList cells;
            for (int col = 0; col < grid->columnCount(); ++col)
                cells << (grid->item(r, col) ? grid->item(r, col)->text() : QString());
            out.push_back(cells);
        }
        return out;
    }

    // Everything a failed request must leave as it was.
    struct Snapshot {
        std::vector<QStringList> rows;
        QString count, page;
        int heropage, heropagecount;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const {
        return {rows(), countLabel->text(), pageLabel->text(), page->currentPage(), page->pageCount()};
    }

    qarvia::WebViewRecorder web; // before the window: no browser engine starts in a test
    DialogRecorder dialogs;
    std::unique_ptr<qarvia::TForm1> form;
    RankingPage* page = nullptr;
    QTabWidget* tabs = nullptr;
    QLineEdit* edit = nullptr;
    QPushButton *searchBtn = nullptr, *prevBtn = nullptr, *nextBtn = nullptr;
    QTableWidget* grid = nullptr;
    QLabel *countLabel = nullptr, *pageLabel = nullptr;
};

TEST_F(RankingTab, ControlsSitWhereTheFormPutsThemWithTheirCaptionsAndTabOrder) {
    struct Expect {
        const char* name;
        QRect geometry;
        const char* text; // null: not checked
    } expected[] = {
        {"Label30", {16, 16, 60, 13}, "角色名称："},
        {"herorankEdit", {88, 8, 305, 21}, ""},
        {"herorankSoBtn", {400, 8, 75, 25}, "搜索"},
        {"herolist", {0, 40, 609, 265}, nullptr},
        {"Label31", {0, 312, 193, 13}, "点击角色名称查看详细信息"},
        {"herorank_pu", {448, 312, 75, 25}, "<<<上一页"},
        {"herorank_pd", {528, 312, 75, 25}, "下一页>>>"},
    };
    QWidget* tab = form->findChild<QWidget*>("TabSheet5");
    ASSERT_EQ(tabs->indexOf(tab), 4);
    EXPECT_EQ(tabs->tabText(4), "Qarvia英雄榜");
    for (const Expect& e : expected) {
        QWidget* w = tab->findChild<QWidget*>(e.name);
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->geometry(), e.geometry) << e.name;
        QString text = qobject_cast<QLabel*>(w)            ? qobject_cast<QLabel*>(w)->text()
                       : qobject_cast<QAbstractButton*>(w) ? qobject_cast<QAbstractButton*>(w)->text()
                                                           : QString();
        if (e.text) {
            EXPECT_EQ(text, QString::fromUtf8(e.text)) << e.name;
        }
    }
    EXPECT_EQ(countLabel->text(), "");
    EXPECT_EQ(pageLabel->text(), "");
    EXPECT_EQ(countLabel->pos(), QPoint(480, 16));
    EXPECT_EQ(pageLabel->pos(), QPoint(400, 320));

    // Nine visible columns under their headers, the id column hidden, one empty row.
    const char* headers[] = {"角色名", "大区", "服务器", "等级", "门派", "势力", "人物修为", "装备修为", "总修为"};
    ASSERT_EQ(grid->columnCount(), 10);
    for (int col = 0; col < 9; ++col) {
        EXPECT_FALSE(grid->isColumnHidden(col));
        EXPECT_EQ(grid->horizontalHeaderItem(col)->text(), QString::fromUtf8(headers[col]));
    }
    EXPECT_TRUE(grid->isColumnHidden(9));
    EXPECT_EQ(grid->rowCount(), 1);

    // Tab order within the page: edit, search, grid, next page, previous page.
    std::vector<QWidget*> order{edit, searchBtn, grid, nextBtn, prevBtn};
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        for (int guard = 0; guard < 500 && (next->focusPolicy() == Qt::NoFocus || !tab->isAncestorOf(next)); ++guard)
            next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << order[i]->objectName().toStdString();
    }
    EXPECT_TRUE(searchBtn->isDefault());
    EXPECT_EQ(page->httpClient().ReadTimeout, RankingPage::readTimeoutMs);
    EXPECT_EQ(page->httpClient().ConnectTimeout, RankingPage::connectTimeoutMs);
    EXPECT_TRUE(page->httpClient().AllowCookies);
    EXPECT_FALSE(page->httpClient().HandleRedirects);
}

TEST_F(RankingTab, SearchAndPagingRequestsGoOutByteForByteAndCarryTheCookie) {
    ScriptedServer server({Step::answer(
        httpAnswer(answerJson("23", rolesJson("甲", 10)), kJsonUtf8, "Set-Cookie: QSESSID=s1; Path=/\r\n"))});
    server.addStep(Step::answer(searchAnswer("23", "乙", 10)));
    server.addStep(Step::answer(searchAnswer("23", "丙", 3)));
    use(server);
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    auto request = [&](const std::string& body, const std::string& cookie) {
        return "POST /bang/search4role HTTP/1.0\r\n"
               "Connection: keep-alive\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\n"
               "Content-Length: " +
               std::to_string(body.size()) +
               "\r\n"
               "X-Requested-With:XMLHttpRequest\r\n"
               "Host: " +
               host +
               "\r\n"
               "Accept: application/json, text/javascript, */*; q=0.01\r\n"
               "Referer: http://" +
               host +
               "/\r\n"
               "User-Agent: " +
               kUserAgent + "\r\n" + cookie + "\r\n" + body;
    };

    searchFor("张三");
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    ASSERT_TRUE(server.waitForFinished(3));
    EXPECT_EQ(server.request(0), request("name=%E5%BC%A0%E4%B8%89&count=10&", ""));
    EXPECT_EQ(server.request(1), request("name=%E5%BC%A0%E4%B8%89&page=2&count=10&", "Cookie: QSESSID=s1\r\n"));
    // However many requests went before, one X-Requested-With line.
    EXPECT_EQ(server.request(2), request("name=%E5%BC%A0%E4%B8%89&page=3&count=10&", "Cookie: QSESSID=s1\r\n"));
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join("|").toStdString();
}

TEST_F(RankingTab, NameFieldIsSentAsTypedAndBlankNamesAreRefused) {
    struct Case {
        QString typed;
        std::string body; // empty: refused, nothing sent
    } cases[] = {
        {" 张三 ", "name=+%E5%BC%A0%E4%B8%89+&count=10&"},
        {"a-b_c", "name=a%2Db%5Fc&count=10&"},
        {QString::fromUtf8("\xf0\xa0\x80\x80x"), "name=%F0%A0%80%80x&count=10&"}, // beyond GBK, kept whole
        {"   ", ""},
        {"", ""},
        {" \t ", ""},
    };
    for (const Case& c : cases) {
        ScriptedServer server({Step::answer(searchAnswer("1", "x", 1))});
        use(server);
        dialogs.clear();
        searchFor(c.typed);
        if (c.body.empty()) {
            EXPECT_EQ(dialogs.texts(), QStringList{"请输入角色名称"}) << c.typed.toStdString();
            EXPECT_EQ(server.connectionCount(), 0u);
            EXPECT_EQ(dialogs.requests().at(0).icon, MessageIcon::None);
        } else {
            ASSERT_TRUE(server.waitForFinished(1));
            std::string req = server.request(0);
            EXPECT_EQ(req.substr(req.find("\r\n\r\n") + 4), c.body);
        }
        EXPECT_TRUE(searchBtn->isEnabled());
    }
}

TEST_F(RankingTab, PagingAfterTheNameWasClearedSendsAnEmptyName) {
    ScriptedServer server({Step::answer(searchAnswer("23", "a", 10)), Step::answer(searchAnswer("23", "b", 10))});
    use(server);
    searchFor("张三");
    edit->clear();
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    ASSERT_TRUE(server.waitForFinished(2));
    std::string req = server.request(1);
    EXPECT_EQ(req.substr(req.find("\r\n\r\n") + 4), "name=&page=2&count=10&");
}

TEST_F(RankingTab, AShorterListingReplacesEveryCellOfTheLongerOne) {
    ScriptedServer server({Step::answer(searchAnswer("13", "长", 10)), Step::answer(searchAnswer("13", "短", 3))});
    use(server);
    searchFor("x");
    ASSERT_EQ(grid->rowCount(), 11);
    EXPECT_EQ(rows()[9], (QStringList{"长9", "电信一区", "青龙", "109", "天罡", "正派", "91", "92", "93", "长-id9"}));
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    std::vector<QStringList> after = rows();
    ASSERT_EQ(after.size(), 4u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(after[i].at(0), "短" + QString::number(i));
    EXPECT_EQ(after[2].at(9), "短-id2");
    EXPECT_EQ(after[3], QStringList(10, QString()));
    EXPECT_EQ(pageLabel->text(), "第 2 页");
    EXPECT_EQ(countLabel->text(), "13 个角色， 2页");
}

TEST_F(RankingTab, CountLabelAndPageCountFollowTheTotal) {
    struct Case {
        std::string total;
        int roles;
        QString label;
        int pages;
    } cases[] = {
        {"10", 10, "10 个角色， 1页", 1}, {"11", 10, "11 个角色， 2页", 2}, {"\"23\"", 10, "23 个角色， 3页", 3},
        {"5", 0, "5 个角色， 1页", 1}, // a count with an empty roles array: labels set, grid empty
        {"1", 1, "1 个角色， 1页", 1},
    };
    for (const Case& c : cases) {
        ScriptedServer server({Step::answer(searchAnswer(c.total, "r", c.roles))});
        use(server);
        searchFor("r");
        EXPECT_EQ(countLabel->text(), c.label);
        EXPECT_GE(countLabel->width(), countLabel->sizeHint().width()) << "label cut short";
        EXPECT_EQ(pageLabel->text(), "第 1 页");
        EXPECT_EQ(page->pageCount(), c.pages);
        EXPECT_EQ(grid->rowCount(), c.roles + 1);
        EXPECT_EQ(rows().back(), QStringList(10, QString()));
    }
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join("|").toStdString();
}

TEST_F(RankingTab, PagingStaysWithinThePagesOfTheLastSearch) {
    ScriptedServer server;
    use(server);
    // Before any search: neither button asks anything.
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    QTest::mouseClick(prevBtn, Qt::LeftButton);
    EXPECT_EQ(server.connectionCount(), 0u);
    EXPECT_EQ(page->currentPage(), 1);
    EXPECT_EQ(pageLabel->text(), "");

    for (int i = 0; i < 4; ++i)
        server.addStep(Step::answer(searchAnswer("23", "p" + std::to_string(i), 10)));
    searchFor("p");
    QTest::mouseClick(prevBtn, Qt::LeftButton); // page 1: nothing
    EXPECT_EQ(server.connectionCount(), 1u);
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    EXPECT_EQ(page->currentPage(), 3);
    QTest::mouseClick(nextBtn, Qt::LeftButton); // page 3 of 3: nothing
    EXPECT_EQ(server.connectionCount(), 3u);
    QTest::mouseClick(prevBtn, Qt::LeftButton);
    EXPECT_EQ(server.connectionCount(), 4u);
    EXPECT_EQ(page->currentPage(), 2);
    EXPECT_EQ(pageLabel->text(), "第 2 页");
    EXPECT_EQ(grid->item(0, 0)->text(), "p30");
    EXPECT_EQ(countLabel->text(), "23 个角色， 3页"); // paging leaves the count alone
}

TEST_F(RankingTab, ANewSearchStartsAgainAtPageOne) {
    ScriptedServer server({Step::answer(searchAnswer("23", "a", 10)), Step::answer(searchAnswer("23", "b", 10)),
                           Step::answer(searchAnswer("12", "c", 10))});
    use(server);
    searchFor("a");
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    EXPECT_EQ(pageLabel->text(), "第 2 页");
    searchFor("c");
    EXPECT_EQ(page->currentPage(), 1);
    EXPECT_EQ(pageLabel->text(), "第 1 页");
    EXPECT_EQ(page->pageCount(), 2);
}

// Every row of the failure table, for the search and for a paging button: what the user sees, and that
// nothing but the paging position moved.
TEST_F(RankingTab, FailuresLeaveTheListingAndBringTheButtonBack) {
    const std::string notFound = "没有找到相关角色信息";
    struct Case {
        const char* what;
        Step step;
        std::string message;
        MessageIcon icon;
    } cases[] = {
        {"empty body", Step::answer(httpAnswer("")), notFound, MessageIcon::None},
        {"blank body", Step::answer(httpAnswer(" \r\n\t ")), notFound, MessageIcon::None},
        {"count 0", Step::answer(searchAnswer("0", "z", 0)), notFound, MessageIcon::None},
        {"count \"0\"", Step::answer(searchAnswer("\"0\"", "z", 0)), notFound, MessageIcon::None},
        {"negative count", Step::answer(searchAnswer("-3", "z", 0)), notFound, MessageIcon::None},
        {"error page", Step::answer(httpAnswer("<html><body>busy</body></html>", "text/html")), notFound,
         MessageIcon::None},
        {"empty object", Step::answer(httpAnswer("{}")), notFound, MessageIcon::None},
        {"no count", Step::answer(httpAnswer("{\"result\":{\"roles\":[]}}")), notFound, MessageIcon::None},
        {"broken json", Step::answer(httpAnswer("{\"result\":")), notFound, MessageIcon::None},
        {"count not a number", Step::answer(searchAnswer("\"12a\"", "z", 1)), "'12a' is not a valid integer value.",
         MessageIcon::Error},
        {"count too large", Step::answer(searchAnswer("4294967296", "z", 1)),
         "'4294967296' is not a valid integer value.", MessageIcon::Error},
        {"count null", Step::answer(searchAnswer("null", "z", 1)), "'null' is not a valid integer value.",
         MessageIcon::Error},
        {"404", Step::answer("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnop"), "HTTP/1.1 404 Not Found.",
         MessageIcon::Error},
        {"500", Step::answer("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"),
         "HTTP/1.1 500 Internal Server Error.", MessageIcon::Error},
        {"redirect", Step::answer("HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n"),
         "HTTP/1.1 302 Found.", MessageIcon::Error},
        {"closed before answering", Step::closeEarly(), "Connection Closed Gracefully.", MessageIcon::Error},
        {"silent service", Step::stall(), "Read Timeout.", MessageIcon::Error},
        // Mended: a byte every 100 ms used to keep one search going for as long as the service liked.
        {"trickling service", Step::slowDrip(searchAnswer("25", "ok", 10), 1, std::chrono::milliseconds(100)),
         "Read Timeout.", MessageIcon::Error},
    };
    for (const Case& c : cases) {
        for (QPushButton* button : {searchBtn, nextBtn}) {
            SCOPED_TRACE(std::string(c.what) + " / " + button->objectName().toStdString());
            ScriptedServer server({Step::answer(searchAnswer("25", "ok", 10)), c.step});
            use(server);
            page->httpClient().ReadTimeout = 300;      // the silent service, quickly
            page->httpClient().ExchangeTimeout = 1500; // the trickling one too
            searchFor("ok");
            ASSERT_EQ(page->currentPage(), 1);
            Snapshot before = snapshot();
            dialogs.clear();
            bool enabledDuringRequest = true;
            bool waitCursorDuringRequest = false;
            auto watch = QObject::connect(page, &RankingPage::requestStarted, [&] {
                enabledDuringRequest = button->isEnabled();
                waitCursorDuringRequest =
                    QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
            });
            QTest::mouseClick(button, Qt::LeftButton);
            QObject::disconnect(watch);

            EXPECT_FALSE(enabledDuringRequest);
            EXPECT_TRUE(button->isEnabled());
            EXPECT_TRUE(waitCursorDuringRequest);
            EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
            ASSERT_EQ(dialogs.requests().size(), 1u);
            EXPECT_EQ(dialogs.requests()[0].text.toStdString(), c.message);
            EXPECT_EQ(dialogs.requests()[0].icon, c.icon);
            EXPECT_EQ(dialogs.requests()[0].caption, qarvia::applicationTitle());
            Snapshot after = snapshot();
            if (button == nextBtn) {
                // The page moved before the request and stays moved.
                EXPECT_EQ(after.heropage, 2);
                EXPECT_EQ(after.page, "第 2 页");
                after.heropage = before.heropage;
                after.page = before.page;
            }
            EXPECT_TRUE(after == before);
        }
    }
}

TEST_F(RankingTab, TransportFailuresReachTheErrorBox) {
    std::uint16_t freePort;
    {
        ScriptedServer closed;
        freePort = closed.port();
    }
    page->setServiceUrl(QString("http://127.0.0.1:%1").arg(freePort));
    searchFor("x");
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.texts().at(0), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(dialogs.requests()[0].icon, MessageIcon::Error);
    EXPECT_TRUE(searchBtn->isEnabled());
    EXPECT_EQ(countLabel->text(), "");
}

TEST_F(RankingTab, AnswersAreReadAsUtf8OnlyWhenTheyNameIt) {
    const std::string body = answerJson("1", "[{\"id\":7,\"name\":\"张三\",\"level\":12.5,\"clan\":true}]");
    struct Case {
        const char* what;
        std::string bytes;
        std::string contentType;
    } cases[] = {
        {"utf-8", body, "application/json; charset=utf-8"},
        {"UTF-8 upper case", body, "application/json; Charset=UTF-8"},
        {"quoted", body, "application/json; charset=\"utf-8\""},
        {"gbk", qarvia::text::utf8ToGbk(body), "application/json"},
        {"gbk named", qarvia::text::utf8ToGbk(body), "application/json; charset=gbk"},
        {"escaped", answerJson("1", "[{\"id\":7,\"name\":\"\\u5f20\\u4e09\",\"level\":12.5,\"clan\":true}]"),
         "application/json"},
    };
    for (const Case& c : cases) {
        ScriptedServer server({Step::answer(httpAnswer(c.bytes, c.contentType))});
        use(server);
        grid->clearContents();
        searchFor("张三");
        EXPECT_EQ(grid->item(0, 0) ? grid->item(0, 0)->text() : QString(), "张三") << c.what;
        EXPECT_EQ(grid->item(0, 3)->text(), "12.5") << c.what;
        EXPECT_EQ(grid->item(0, 5)->text(), "true") << c.what;
        EXPECT_EQ(grid->item(0, 9)->text(), "7") << c.what;
        EXPECT_EQ(grid->item(0, 1)->text(), "") << c.what; // a member the role lacks
    }
}

TEST_F(RankingTab, EnterSearchesWhileTheTabShows) {
    ScriptedServer server({Step::answer(searchAnswer("1", "e", 1))});
    use(server);
    edit->setText("e");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(server.connectionCount(), 1u);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Enter);
    EXPECT_EQ(server.connectionCount(), 2u);

    // A focused paging button takes Enter itself (at page 1 of 1 that asks nothing).
    prevBtn->setFocus();
    QTest::keyClick(prevBtn, Qt::Key_Return);
    EXPECT_EQ(server.connectionCount(), 2u);

    tabs->setCurrentIndex(0);
    QWidget* other = form->findChild<QWidget*>("role1");
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Return);
    EXPECT_EQ(server.connectionCount(), 2u);
}

TEST_F(RankingTab, APressOnANameOpensItsDetailPage) {
    const std::string roles =
        "[{\"id\":\"1001\",\"name\":\"甲\"},{\"id\":\"a#b?c/d\",\"name\":\"乙\"},{\"name\":\"丙\"}]";
    ScriptedServer server({Step::answer(httpAnswer(answerJson("3", roles)))});
    use(server);
    searchFor("x");
    ASSERT_EQ(grid->rowCount(), 4);
    const QString base = QString::fromStdString(server.url(""));
    auto cellCentre = [&](int row, int col) { return grid->visualRect(grid->model()->index(row, col)).center(); };

    struct Case {
        const char* what;
        QWidget* target;
        QPoint pos;
        Qt::MouseButton button;
        QString opens; // empty: nothing
    } cases[] = {
        {"left on a name", grid->viewport(), cellCentre(0, 0), Qt::LeftButton, base + "/bang/role/1001#dList2"},
        {"right on a name", grid->viewport(), cellCentre(0, 0), Qt::RightButton, base + "/bang/role/1001#dList2"},
        {"odd id", grid->viewport(), cellCentre(1, 0), Qt::LeftButton, base + "/bang/role/a%23b%3Fc%2Fd#dList2"},
        {"another column", grid->viewport(), cellCentre(0, 1), Qt::LeftButton, ""},
        {"role without id", grid->viewport(), cellCentre(2, 0), Qt::LeftButton, ""},
        {"empty last row", grid->viewport(), cellCentre(3, 0), Qt::LeftButton, ""},
        {"below the rows", grid->viewport(), QPoint(5, grid->viewport()->height() - 2), Qt::LeftButton, ""},
        {"header", grid->horizontalHeader()->viewport(), QPoint(10, 5), Qt::LeftButton, ""},
    };
    for (const Case& c : cases) {
        int before = int(web.navigations().size());
        qarvia::ModalWindowCloser closer;
        QTest::mousePress(c.target, c.button, {}, c.pos);
        QTest::mouseRelease(c.target, c.button, {}, c.pos);
        if (c.opens.isEmpty()) {
            QTest::qWait(50);
            EXPECT_EQ(web.navigations().size(), before) << c.what;
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return web.navigations().size() == before + 1; }, 2000)) << c.what;
            EXPECT_EQ(web.navigations().last(), c.opens) << c.what;
            EXPECT_TRUE(QTest::qWaitFor([&] { return closer.closedCount() == 1; }, 2000)) << c.what;
        }
    }
}

TEST_F(RankingTab, WorksEndToEndAgainstTheDemoService) {
    qarvia::rankdemo::ServerOptions options;
    options.port = 0;
    qarvia::rankdemo::RankDemoServer demo(options);
    ASSERT_TRUE(demo.start());
    page->setServiceUrl(QString::fromStdString(demo.baseUrl()));

    auto expected = qarvia::rankdemo::search(demo.roles(), {"三", 2, 10});
    ASSERT_GT(expected.total, 10);
    searchFor("三");
    QTest::mouseClick(nextBtn, Qt::LeftButton);
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join("|").toStdString();
    EXPECT_EQ(countLabel->text(), QString("%1 个角色， %2页").arg(expected.total).arg((expected.total + 9) / 10));
    ASSERT_EQ(grid->rowCount(), int(expected.roles.size()) + 1);
    for (std::size_t i = 0; i < expected.roles.size(); ++i) {
        EXPECT_EQ(grid->item(int(i), 0)->text().toStdString(), expected.roles[i]->name);
        EXPECT_EQ(grid->item(int(i), 8)->text().toStdString(), std::to_string(expected.roles[i]->totalXiuwei));
    }
    // One session: the cookie of the first answer came back with the second request.
    EXPECT_EQ(demo.sessionsIssued(), 1);
}

TEST(RankingServiceUrl, OnlyPlainHttpAddressesAreTaken) {
    struct Case {
        const char* url;
        bool ok;
    } cases[] = {
        {"http://rank.qarvia-game.net", true},
        {"http://127.0.0.1:8765", true},
        {"http://127.0.0.1:8765/", true},
        {"https://rank.qarvia-game.net", false},
        {"ftp://host", false},
        {"127.0.0.1:8765", false},
        {"http://", false},
        {"http://host/?q=1", false},
        {"http://host/#x", false},
        {"http://user:pw@host", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RankingPage::isServiceUrl(c.url), c.ok) << c.url;
        qarvia::AppOptions options = qarvia::parseOptions({"qarvia-toolbox", "--rank-url", c.url});
        EXPECT_EQ(options.exitNow, !c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(options.settings.rankUrl, c.url);
        } else {
            EXPECT_EQ(options.exitCode, 1) << c.url;
        }
    }
    EXPECT_EQ(qarvia::parseOptions({"qarvia-toolbox", "--rank-search", "张三"}).rankSearch, "张三");
}

} // namespace
