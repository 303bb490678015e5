#include "ranking/RankingPage.h"

#include "json/JsonParser.h"
#include "json/JsonValue.h"
#include "text/Encoding.h"
#include "ui/Dialogs.h"
#include "ui/TXuanxiuForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

#include <stdexcept>
#include <vector>

namespace qarvia {

namespace {

const char* const kNotFound = "没有找到相关角色信息";
const char* const kEnterName = "请输入角色名称";

constexpr int kRolesPerPage = 10;
constexpr int kColumnCount = 10; // nine visible columns and the hidden role id
constexpr int kIdColumn = 9;

// The members that fill columns 0 to 9, in column order.
const char16_t* const kRoleMembers[kColumnCount] = {u"name", u"sector", u"server",     u"level",        u"school",
                                                    u"clan", u"xiuwei", u"equ_xiuwei", u"total_xiuwei", u"id"};

QString withoutTrailingSlash(QString url) {
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

// Whether trimming would leave nothing: trimming removes blanks and control characters (everything up to
// U+0020) only, so other white space such as U+3000 counts as text.
bool isBlankText(const QString& text) {
    for (QChar ch : text) {
        if (ch.unicode() > 0x20)
            return false;
    }
    return true;
}

// A signed 32-bit decimal number, nothing else: an optional sign and at least one digit.
int toInt32(const std::u16string& text) {
    auto fail = [&]() -> int {
        throw std::runtime_error("'" + text::utf16ToUtf8(text) + "' is not a valid integer value");
    };
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    if (i == text.size())
        return fail();
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return fail();
        value = value * 10 + (text[i] - u'0');
        if (value > 2147483648LL)
            return fail();
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return fail();
    return static_cast<int>(value);
}

// The service states its charset in the Content-Type ("application/json; charset=utf-8"); without
// one the answer is GBK, as the original service wrote it.
bool namesUtf8(const std::string& contentType) {
    std::string lower;
    lower.reserve(contentType.size());
    for (char ch : contentType)
        lower += (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
    std::size_t at = lower.find("charset=");
    if (at == std::string::npos)
        return false;
    std::string value = lower.substr(at + 8);
    if (!value.empty() && value.front() == '"')
        value.erase(0, 1);
    return value.rfind("utf-8", 0) == 0 || value.rfind("utf8", 0) == 0;
}

QString toQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), qsizetype(text.size()));
}

// Disables the button for the life of the returned guard, which enables it again on every way out.
auto keepDisabled(QPushButton* button) {
    button->setEnabled(false);
    button->repaint(); // no event loop runs during the request: show the disabled state now
    return qScopeGuard([button] { button->setEnabled(true); });
}

} // namespace

struct RankingPage::Answer {
    json::IJsonValue document;
    QString totalText;
    int total = 0;
};

RankingPage::RankingPage(const RankingControls& controls, const QString& serviceUrl, QObject* parent)
    : QObject(parent), c(controls), serviceUrl_(withoutTrailingSlash(serviceUrl)) {
    // The settings of heroRankHttp. The time limits keep a service that accepts the connection and then
    // stays silent, or answers a byte now and then, from freezing the window for ever.
    heroRankHttp.HTTPOptions = {http::hoForceEncodeParams};
    heroRankHttp.AllowCookies = true;
    heroRankHttp.HandleRedirects = false;
    heroRankHttp.ReadTimeout = readTimeoutMs;
    heroRankHttp.ConnectTimeout = connectTimeoutMs;
    heroRankHttp.ExchangeTimeout = exchangeTimeoutMs;

    QTableWidget* grid = c.herolist;
    if (grid->columnCount() < kColumnCount)
        grid->setColumnCount(kColumnCount);
    grid->setColumnHidden(kIdColumn, true);
    grid->viewport()->installEventFilter(this);

    // Enter presses the search button while the tab shows, as the window's default button; a focused
    // paging button takes Enter itself.
    c.herorankSoBtn->setDefault(true);
    c.herorank_pu->setAutoDefault(true);
    c.herorank_pd->setAutoDefault(true);
    c.TabSheet5->window()->installEventFilter(this);

    connect(c.herorankSoBtn, &QPushButton::clicked, this, &RankingPage::herorankSoBtnClick);
    connect(c.herorank_pu, &QPushButton::clicked, this, &RankingPage::herorank_puClick);
    connect(c.herorank_pd, &QPushButton::clicked, this, &RankingPage::herorank_pdClick);
}

RankingPage::~RankingPage() = default;

bool RankingPage::isServiceUrl(const QString& url) {
    QUrl parsed(url, QUrl::StrictMode);
    return parsed.isValid() && parsed.scheme() == QLatin1String("http") && !parsed.host().isEmpty() &&
           !parsed.hasQuery() && !parsed.hasFragment() && parsed.userInfo().isEmpty();
}

void RankingPage::setServiceUrl(const QString& url) {
    serviceUrl_ = withoutTrailingSlash(url);
}

void RankingPage::searchFor(const QString& name) {
    c.herorankEdit->setText(name);
    c.herorankSoBtn->click();
}

void RankingPage::herorankSoBtnClick() {
    runGuarded([this] { search(); });
}

void RankingPage::herorank_puClick() {
    runGuarded([this] {
        if (heropage < 2)
            return;
        turnPage(-1, c.herorank_pu);
    });
}

void RankingPage::herorank_pdClick() {
    runGuarded([this] {
        if (heropagecount < heropage + 1)
            return;
        turnPage(+1, c.herorank_pd);
    });
}

void RankingPage::search() {
    if (isBlankText(c.herorankEdit->text())) {
        showMessage(QString::fromUtf8(kEnterName));
        return;
    }
    auto busy = keepDisabled(c.herorankSoBtn);
    std::optional<Answer> answer = exchange(std::nullopt);
    if (!answer)
        return;
    // The search request asks for no page, so the service answers page 1: say so.
    heropage = 1;
    heropagecount = answer->total / kRolesPerPage + (answer->total % kRolesPerPage != 0 ? 1 : 0);
    c.heronum_lbe->setText(answer->totalText + QStringLiteral(" 个角色， ") + QString::number(heropagecount) +
                           QStringLiteral("页"));
    c.heronum_lbe->adjustSize();
    showPageNumber();
    fillGrid(*answer);
}

void RankingPage::turnPage(int step, QPushButton* button) {
    // The page moves before the request; after a failure it stays there while the grid keeps the rows
    // it showed.
    heropage += step;
    showPageNumber();
    auto busy = keepDisabled(button);
    std::optional<Answer> answer = exchange(heropage);
    if (answer)
        fillGrid(*answer);
}

void RankingPage::showPageNumber() {
    c.pagenum_lbe->setText(QStringLiteral("第 ") + QString::number(heropage) + QStringLiteral(" 页"));
    // The two result labels grow with their text, as the form's auto-sized labels did.
    c.pagenum_lbe->adjustSize();
}

void RankingPage::prepareClient() {
    http::THttpRequest& request = heroRankHttp.Request;
    request.Referer = (serviceUrl_ + QLatin1Char('/')).toStdString();
    request.UserAgent = "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.4 (KHTML, like Gecko) "
                        "Chrome/22.0.1229.94 Safari/537.4";
    request.Accept = "application/json, text/javascript, */*; q=0.01";
    request.CustomHeaders.clear();
    request.CustomHeaders.addLine("X-Requested-With:XMLHttpRequest");
}

std::optional<RankingPage::Answer> RankingPage::exchange(std::optional<int> page) {
    prepareClient();
    // The name goes out as UTF-8: the same bytes the service always got for names GBK can hold, and
    // intact for the ones it cannot.
    std::vector<std::string> fields;
    fields.push_back("name=" + c.herorankEdit->text().toStdString());
    if (page)
        fields.push_back("page=" + std::to_string(*page));
    fields.push_back("count=" + std::to_string(kRolesPerPage));

    std::string bytes;
    {
        // The window cannot react until the answer is in; say so with the pointer.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        auto restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
        emit requestStarted();
        heroRankHttp.PostForm(serviceUrl_.toStdString() + "/bang/search4role", fields, bytes);
    }

    QString text = answerText(bytes, heroRankHttp.Response.ContentType);
    bytes.clear();
    bytes.shrink_to_fit();
    const QString notFound = QString::fromUtf8(kNotFound);
    if (isBlankText(text)) {
        showMessage(notFound);
        return std::nullopt;
    }
    Answer answer;
    answer.document =
        json::ParseText(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size()));
    // An error page, an empty object, anything without result.total_count: nothing to show.
    json::IJsonValue count = answer.document.ValueAt(u"result.total_count");
    if (count.IsEmpty()) {
        showMessage(notFound);
        return std::nullopt;
    }
    std::u16string countText = count.ToText();
    answer.total = toInt32(countText);
    answer.totalText = toQString(countText);
    // A negative count is as unusable as none.
    if (answer.total <= 0) {
        showMessage(notFound);
        return std::nullopt;
    }
    return answer;
}

QString RankingPage::answerText(const std::string& bytes, const std::string& contentType) {
    if (namesUtf8(contentType))
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    return toQString(text::gbkToUtf16(bytes));
}

QString RankingPage::roleText(const json::IJsonValue& role, std::u16string_view member) {
    // The member's text form, as TextAt(member) gives it for these plain names, without running the path
    // reader once per cell: a 1,000-role answer has 10,000 cells.
    const json::TJsonMemberTable* members = role.ToObject();
    return members ? toQString(members->Lookup(member).ToText()) : QString();
}

void RankingPage::fillGrid(const Answer& answer) {
    QTableWidget* grid = c.herolist;
    grid->setUpdatesEnabled(false);
    // Row 0 of the listing is the grid's header; one empty row always follows the roles.
    grid->clearContents();
    grid->setRowCount(1);
    const json::TJsonArray* roles = answer.document.ArrayAt(u"result.roles");
    int count = roles ? roles->ItemCount() : 0;
    grid->setRowCount(count + 1);
    for (int i = 0; i < count; ++i) {
        json::IJsonValue role = roles->ItemAt(i);
        for (int column = 0; column < kColumnCount; ++column) {
            grid->setItem(i, column, new QTableWidgetItem(roleText(role, kRoleMembers[column])));
        }
    }
    grid->setUpdatesEnabled(true);
}

QString RankingPage::detailUrl(const QString& id) const {
    // The id comes from the service; escaping keeps a "#", "?" or "/" in it from changing the address.
    return serviceUrl_ + QStringLiteral("/bang/role/") + QString::fromLatin1(QUrl::toPercentEncoding(id)) +
           QStringLiteral("#dList2");
}

void RankingPage::herolistMouseDown(Qt::MouseButton, const QPoint& pos) {
    // A second press that was already queued while the first page was opening opens nothing more.
    if (openingDetail)
        return;
    runGuarded([&] {
        QModelIndex index = c.herolist->indexAt(pos);
        if (!index.isValid() || index.column() != 0)
            return;
        QTableWidgetItem* idItem = c.herolist->item(index.row(), kIdColumn);
        if (!idItem || idItem->text().isEmpty())
            return;
        openingDetail = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{openingDetail};
        TXuanxiuForm::showPage(detailUrl(idItem->text()));
    });
}

bool RankingPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == c.herolist->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        Qt::MouseButton button = press->button();
        QPoint pos = press->position().toPoint();
        // The page opens modally; let the grid finish handling the press first.
        QTimer::singleShot(0, this, [this, button, pos] { herolistMouseDown(button, pos); });
        return false;
    }
    if (event->type() == QEvent::KeyPress && watched == c.TabSheet5->window()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && c.TabSheet5->isVisible() &&
            c.herorankSoBtn->isEnabled()) {
            auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
            if (!focused || focused == c.herorankSoBtn) {
                c.herorankSoBtn->click();
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace qarvia
