// rank_bench: the ranking tab's search from click to filled grid, against the demo ranking service on
// loopback.
//
//   Search/qarvia/10, Search/qarvia/1000   the tab itself: PostForm, ParseText, the grid
//   Search/qt/1000                         the peer: the same request through the same client, the answer
//                                          parsed with QJsonDocument and written into the same grid
//   Read/qarvia/1000, Read/qt/1000         the answer bytes to cell texts alone, no socket, no grid
//
// The figure that matters is Search/qarvia/1000 against Search/qt/1000 (target: within 1.5x).

#include "ranking/HttpClient.h"
#include "ranking/RankingPage.h"
#include "json/JsonParser.h"
#include "json/JsonValue.h"
#include "ui/Dialogs.h"
#include "ui/RankingControls.h"

#include "RankDemo.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using qarvia::rankdemo::DemoRole;
using qarvia::rankdemo::RankDemoServer;
using qarvia::rankdemo::ServerOptions;

const char* const kColumns[] = {"name", "sector", "server",     "level",        "school",
                                "clan", "xiuwei", "equ_xiuwei", "total_xiuwei", "id"};
const char16_t* const kColumns16[] = {u"name", u"sector", u"server",     u"level",        u"school",
                                      u"clan", u"xiuwei", u"equ_xiuwei", u"total_xiuwei", u"id"};

// A message box would wait for a user; count them instead (any one means the run is wrong).
class CountingDialogs final : public qarvia::Dialogs {
public:
    qarvia::MessageButton show(const qarvia::MessageRequest& r) override {
        std::fprintf(stderr, "rank_bench: unexpected message: %s\n", r.text.toUtf8().constData());
        ++count;
        return qarvia::mbOk;
    }
    int count = 0;
};

// The ranking tab's controls, laid out as on the main window.
struct Tab {
    Tab() {
        auto make = [&](auto* w, int x, int y, int width, int height) {
            w->setGeometry(x, y, width, height);
            return w;
        };
        controls.TabSheet5 = &sheet;
        controls.Label30 = make(new QLabel(QStringLiteral("角色名称："), &sheet), 16, 16, 60, 13);
        controls.herorankEdit = make(new QLineEdit(&sheet), 88, 8, 305, 21);
        controls.herorankSoBtn = make(new QPushButton(QStringLiteral("搜索"), &sheet), 400, 8, 75, 25);
        controls.heronum_lbe = make(new QLabel(&sheet), 480, 16, 3, 13);
        controls.herolist = make(new QTableWidget(1, 10, &sheet), 0, 40, 609, 265);
        controls.Label31 = make(new QLabel(&sheet), 0, 312, 193, 13);
        controls.pagenum_lbe = make(new QLabel(&sheet), 400, 320, 3, 13);
        controls.herorank_pu = make(new QPushButton(&sheet), 448, 312, 75, 25);
        controls.herorank_pd = make(new QPushButton(&sheet), 528, 312, 75, 25);
        page = std::make_unique<qarvia::RankingPage>(controls, QString());
        sheet.resize(609, 340);
        sheet.show();
    }

    QWidget sheet;
    qarvia::RankingControls controls;
    std::unique_ptr<qarvia::RankingPage> page;
};

QString qtCellText(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::String:
        return v.toString();
    case QJsonValue::Double: {
        double d = v.toDouble();
        qint64 i = v.toInteger();
        return double(i) == d ? QString::number(i) : QString::number(d, 'g', 15);
    }
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    default:
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    }
}

// The peer: the same exchange as the tab's, the answer read with Qt's JSON classes.
void qtSearch(Tab& tab, const std::string& base, const QString& name) {
    qarvia::http::THttpClient& http = tab.page->httpClient();
    http.Request.Referer = base + "/";
    http.Request.UserAgent = "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.4 (KHTML, like Gecko) "
                             "Chrome/22.0.1229.94 Safari/537.4";
    http.Request.Accept = "application/json, text/javascript, */*; q=0.01";
    http.Request.CustomHeaders.clear();
    http.Request.CustomHeaders.addLine("X-Requested-With:XMLHttpRequest");
    std::vector<std::string> fields{"name=" + name.toStdString(), "count=10"};
    std::string bytes;
    http.PostForm(base + "/bang/search4role", fields, bytes);

    QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(bytes)).object()["result"].toObject();
    QString totalText = qtCellText(result["total_count"]);
    int total = totalText.toInt();
    int pages = total / 10 + (total % 10 ? 1 : 0);
    tab.controls.heronum_lbe->setText(totalText + QStringLiteral(" 个角色， ") + QString::number(pages) +
                                      QStringLiteral("页"));
    tab.controls.heronum_lbe->adjustSize();
    QJsonArray roles = result["roles"].toArray();
    QTableWidget* grid = tab.controls.herolist;
    grid->setUpdatesEnabled(false);
    grid->clearContents();
    grid->setRowCount(1);
    grid->setRowCount(int(roles.size()) + 1);
    for (int i = 0; i < roles.size(); ++i) {
        QJsonObject role = roles[i].toObject();
        for (int col = 0; col < 10; ++col) {
            QJsonValue v = role.value(QLatin1String(kColumns[col]));
            grid->setItem(i, col, new QTableWidgetItem(v.isUndefined() ? QString() : qtCellText(v)));
        }
    }
    grid->setUpdatesEnabled(true);
}

bool filled(const Tab& tab, int roles) {
    QTableWidget* grid = tab.controls.herolist;
    return grid->rowCount() == roles + 1 && grid->item(roles - 1, 0) && !grid->item(roles - 1, 0)->text().isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    CountingDialogs dialogs;
    qarvia::setDialogs(&dialogs);

    // The demo service as a user starts it, and one that answers 1,000 roles a page from 1,000 roles that
    // all match the searched text.
    ServerOptions small;
    small.port = 0;
    RankDemoServer smallService(small);
    std::vector<DemoRole> many = qarvia::rankdemo::generateRoles(1000);
    for (DemoRole& role : many)
        role.name = "百战" + role.name;
    ServerOptions large;
    large.port = 0;
    large.pageSize = 1000;
    RankDemoServer largeService(large, many);
    if (!smallService.start() || !largeService.start()) {
        std::fprintf(stderr, "rank_bench: cannot start the demo service\n");
        return 1;
    }
    const QString manyName = QStringLiteral("百战");

    Tab tab;
    auto tabSearch = [&](benchmark::State& state, const RankDemoServer* service, QString name, int roles) {
        tab.page->setServiceUrl(QString::fromStdString(service->baseUrl()));
        tab.controls.herorankEdit->setText(name);
        for (auto _ : state)
            tab.controls.herorankSoBtn->click();
        if (!filled(tab, roles) || dialogs.count)
            state.SkipWithError("the grid was not filled");
        state.SetItemsProcessed(state.iterations() * roles);
    };
    benchmark::RegisterBenchmark("Search/qarvia/10", tabSearch, &smallService, QStringLiteral("三"), 10)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Search/qarvia/1000", tabSearch, &largeService, manyName, 1000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Search/qt/1000", [&](benchmark::State& state) {
        std::string base = largeService.baseUrl();
        for (auto _ : state)
            qtSearch(tab, base, manyName);
        if (!filled(tab, 1000))
            state.SkipWithError("the grid was not filled");
        state.SetItemsProcessed(state.iterations() * 1000);
    })->Unit(benchmark::kMicrosecond);

    // The answer alone: bytes to the texts of every cell.
    qarvia::rankdemo::SearchResult all = qarvia::rankdemo::search(many, {"百战", 1, 10}, 1000);
    const std::string answer = qarvia::rankdemo::searchAnswer(all, qarvia::rankdemo::Charset::Utf8);
    benchmark::RegisterBenchmark("Read/qarvia/1000", [&](benchmark::State& state) {
        for (auto _ : state) {
            // As the tab reads it.
            QString text = qarvia::RankingPage::answerText(answer, "application/json; charset=utf-8");
            qarvia::json::IJsonValue doc = qarvia::json::ParseText(
                std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())));
            qarvia::json::TJsonArray* roles = doc.ArrayAt(u"result.roles");
            std::size_t chars = 0;
            for (int i = 0; roles && i < roles->ItemCount(); ++i) {
                qarvia::json::IJsonValue role = roles->ItemAt(i);
                for (const char16_t* column : kColumns16)
                    chars += qarvia::RankingPage::roleText(role, column).size();
            }
            benchmark::DoNotOptimize(chars);
        }
        state.SetBytesProcessed(state.iterations() * std::int64_t(answer.size()));
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Read/qt/1000", [&](benchmark::State& state) {
        for (auto _ : state) {
            QJsonObject result =
                QJsonDocument::fromJson(QByteArray::fromStdString(answer)).object()["result"].toObject();
            QJsonArray roles = result["roles"].toArray();
            std::size_t chars = 0;
            for (int i = 0; i < roles.size(); ++i) {
                QJsonObject role = roles[i].toObject();
                for (const char* column : kColumns)
                    chars += qtCellText(role.value(QLatin1String(column))).size();
            }
            benchmark::DoNotOptimize(chars);
        }
        state.SetBytesProcessed(state.iterations() * std::int64_t(answer.size()));
    })->Unit(benchmark::kMicrosecond);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qarvia::setDialogs(nullptr);
    return 0;
}
