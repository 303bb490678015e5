#pragma once

// The hero ranking tab: looks characters up by name on the game operator's ranking service, shows the
// matches ten to a page in `herolist`, pages through them, and opens a character's detail page when the
// user presses on a name.
//
// Every exchange is one blocking form POST through `heroRankHttp` on the user-interface thread; the
// pressed button is disabled while it runs. Failures reach the user through the dialogs seam
// (ui/Dialogs.h): fixed Chinese texts for unusable answers, the application's error box for transport,
// protocol and number-conversion errors.

#include "json/JsonValue.h"
#include "ranking/HttpClient.h"
#include "ui/RankingControls.h"

#include <QObject>
#include <QPoint>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QPushButton;

namespace qarvia {

class RankingPage : public QObject {
    Q_OBJECT

public:
    // Takes over the tab's controls (they stay owned by the main window) and sets up `heroRankHttp`.
    // serviceUrl is the ranking service's base URL, "http://host[:port]" (a trailing "/" is dropped).
    RankingPage(const RankingControls& controls, const QString& serviceUrl, QObject* parent = nullptr);
    ~RankingPage() override;

    RankingPage(const RankingPage&) = delete;
    RankingPage& operator=(const RankingPage&) = delete;

    // Whether url can serve as a base URL: an absolute http URL with a host and no query or fragment.
    static bool isServiceUrl(const QString& url);

    QString serviceUrl() const { return serviceUrl_; }
    void setServiceUrl(const QString& url);

    // The state the tab keeps for the whole run.
    int currentPage() const { return heropage; }
    int pageCount() const { return heropagecount; }
    http::THttpClient& httpClient() { return heroRankHttp; }

    // How long a connect and each wait for answer data may take before the request fails, and how long the
    // whole exchange may take from its connect to the last byte of the answer (a service that trickles its
    // answer a byte at a time would otherwise keep the window frozen for ever). Running out of either
    // shows "Read Timeout."; a test may shorten them through httpClient().
    static constexpr int connectTimeoutMs = 15000;
    static constexpr int readTimeoutMs = 30000;
    static constexpr int exchangeTimeoutMs = 60000;

    // The answer bytes as text: UTF-8 when the Content-Type names charset=utf-8 (any case), GBK otherwise.
    static QString answerText(const std::string& bytes, const std::string& contentType);
    // The text form of member `member` of a role object; empty when role is no object or lacks it.
    static QString roleText(const json::IJsonValue& role, std::u16string_view member);

    // Types name into the name box and presses the search button.
    void searchFor(const QString& name);

public slots:
    void herorankSoBtnClick();
    void herorank_puClick();
    void herorank_pdClick();
    // A press of any mouse button at pos, in the coordinates of the grid's viewport.
    void herolistMouseDown(Qt::MouseButton button, const QPoint& pos);

signals:
    // Emitted right before each request is sent, while the button that started it is disabled.
    void requestStarted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Answer;

    void search();
    void turnPage(int step, QPushButton* button);
    // Sends the form (with a page field when page is set) and reads the answer; nullopt when the answer
    // holds nothing usable, after telling the user so.
    std::optional<Answer> exchange(std::optional<int> page);
    void prepareClient();
    void fillGrid(const Answer& answer);
    void showPageNumber();
    QString detailUrl(const QString& id) const;

    RankingControls c;
    QString serviceUrl_;
    int heropage = 1;
    int heropagecount = 0;
    bool openingDetail = false;
    http::THttpClient heroRankHttp;
};

} // namespace qarvia
