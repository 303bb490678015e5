#include "RankDemo.h"

#include <httplib.h>
#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unordered_map>

namespace qarvia::rankdemo {

namespace {

// A tiny generator of our own: the same numbers on every platform and standard library.
class Xorshift {
public:
    explicit Xorshift(std::uint32_t seed) : state(seed ? seed : 0x9e3779b9u) {}
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
    template <typename T, std::size_t N> const T& pick(const T (&items)[N]) { return items[below(int(N))]; }

private:
    std::uint32_t state;
};

const char* const surnames[] = {"张", "王", "李", "赵", "刘", "陈", "杨",   "黄",   "周",   "吴",
                                "徐", "孙", "马", "朱", "胡", "林", "郭",   "何",   "高",   "罗",
                                "郑", "梁", "谢", "宋", "唐", "韩", "冯",   "邓",   "曹",   "彭",
                                "萧", "叶", "苏", "沈", "陆", "顾", "欧阳", "慕容", "上官", "司徒"};
const char* const givenChars[] = {"三", "丰", "云", "天", "龙", "凤", "霜", "雪", "逍", "遥", "无", "忌", "子",
                                  "轩", "浩", "然", "梦", "瑶", "清", "风", "明", "月", "飞", "扬", "剑", "心",
                                  "若", "水", "星", "辰", "傲", "寒", "紫", "烟", "墨", "影", "青", "衣", "冷",
                                  "锋", "静", "怡", "雨", "萱", "笑", "苍", "穹", "灵", "儿", "尘"};
const char* const decorations[] = {"丶", "灬", "の", "小", "老"};
const char* const sectors[] = {"电信一区", "电信二区", "网通一区", "网通二区", "双线区"};
const char* const servers[] = {"龙腾四海", "凤鸣九天", "天涯海角", "剑指苍穹", "云海仙踪",
                               "青龙",     "白虎",     "朱雀",     "玄武"};
const char* const schools[] = {"天罡", "玄冥", "青霞", "紫薇", "烈焰", "寒冰"};
const char* const clans[] = {"正派", "邪派", "中立"};

// Names a visitor of the demo will want to try first; "张三" is the example everyone types.
const char* const fixedNames[] = {"张三", "张三丰", "李四", "王五", "赵六"};

std::string makeName(Xorshift& rnd) {
    std::string name;
    if (rnd.below(10) == 0)
        name += rnd.pick(decorations);
    name += rnd.pick(surnames);
    name += rnd.pick(givenChars);
    if (rnd.below(3) != 0)
        name += rnd.pick(givenChars);
    return name;
}

int parseInt(const std::string& text, int fallback) {
    if (text.empty() || text.size() > 9)
        return fallback;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return fallback;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The byte written as two hexadecimal digits at text[at], or -1.
int hexByte(std::string_view text, std::size_t at) {
    unsigned value = 0;
    const char* end = text.data() + at + 2;
    if (at + 2 > text.size())
        return -1;
    auto [stop, error] = std::from_chars(text.data() + at, end, value, 16);
    return error == std::errc() && stop == end ? int(value) : -1;
}

// application/x-www-form-urlencoded: "+" is a blank, "%XX" a byte; a broken escape stays as it is.
std::string formDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (int byte = c == '%' ? hexByte(text, i + 1) : -1; byte >= 0) {
            out += static_cast<char>(byte);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// The first value of each field; the tab's bodies end with "&", which gives an empty piece we skip.
std::unordered_map<std::string, std::string> parseForm(std::string_view body) {
    std::unordered_map<std::string, std::string> fields;
    while (!body.empty()) {
        std::size_t amp = body.find('&');
        std::string_view piece = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view{} : body.substr(amp + 1);
        if (piece.empty())
            continue;
        std::size_t eq = piece.find('=');
        std::string key = formDecode(piece.substr(0, eq));
        std::string value = eq == std::string_view::npos ? std::string{} : formDecode(piece.substr(eq + 1));
        fields.emplace(std::move(key), std::move(value));
    }
    return fields;
}

// Decodes one UTF-8 sequence at `i`; an invalid byte reads as U+FFFD and advances by one.
char32_t nextCodePoint(const std::string& s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xe ? 2 : (b >> 3) == 0x1e ? 3 : -1;
    if (extra == 0) {
        ++i;
        return b;
    }
    if (extra < 0 || i + extra >= s.size()) {
        ++i;
        return 0xfffd;
    }
    char32_t cp = b & (0x3f >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            ++i;
            return 0xfffd;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3f);
    }
    i += extra + 1;
    return cp;
}

void appendU16Escape(std::string& out, unsigned unit) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", unit & 0xffffu);
    out += buf;
}

std::string sessionId() {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::lock_guard lock(mutex);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(engine()),
                  static_cast<unsigned long long>(engine()));
    return buf;
}

bool hasSessionCookie(const std::string& cookieHeader) {
    // "a=1; QSESSID=..." - look for the name at the start of a pair.
    std::size_t pos = 0;
    while ((pos = cookieHeader.find("QSESSID=", pos)) != std::string::npos) {
        if (pos == 0 || cookieHeader[pos - 1] == ' ' || cookieHeader[pos - 1] == ';')
            return true;
        pos += 8;
    }
    return false;
}

} // namespace

std::vector<DemoRole> generateRoles(int count, std::uint32_t seed) {
    std::vector<DemoRole> roles;
    if (count <= 0)
        return roles;
    roles.reserve(static_cast<std::size_t>(count));
    Xorshift rnd(seed);
    std::set<std::string> used;
    std::size_t fixed = 0;
    // Generating a name that is already taken is retried; the attempt budget keeps a request for more
    // roles than there are names from spinning for ever (numbered names take over then).
    long attempts = 0;
    while (static_cast<int>(roles.size()) < count) {
        DemoRole role;
        role.id = 1000001 + static_cast<std::int64_t>(roles.size()) * 7 + rnd.below(7);
        if (fixed < std::size(fixedNames))
            role.name = fixedNames[fixed++];
        else if (++attempts < 50L * count)
            role.name = makeName(rnd);
        else
            role.name = makeName(rnd) + std::to_string(roles.size());
        if (!used.insert(role.name).second)
            continue;
        role.sector = rnd.pick(sectors);
        role.server = rnd.pick(servers);
        role.level = 30 + rnd.below(131);
        role.school = rnd.pick(schools);
        role.clan = rnd.pick(clans);
        role.xiuwei = role.level * 120 + rnd.below(5000);
        role.equXiuwei = 1000 + rnd.below(40000);
        role.totalXiuwei = role.xiuwei + role.equXiuwei;
        roles.push_back(std::move(role));
    }
    std::stable_sort(roles.begin(), roles.end(), [](const DemoRole& a, const DemoRole& b) {
        return a.totalXiuwei != b.totalXiuwei ? a.totalXiuwei > b.totalXiuwei : a.id < b.id;
    });
    return roles;
}

SearchResult search(const std::vector<DemoRole>& roles, const SearchQuery& query, int pageSize) {
    SearchResult result;
    std::vector<const DemoRole*> matches;
    for (const DemoRole& role : roles) {
        if (role.name.find(query.name) != std::string::npos)
            matches.push_back(&role);
    }
    result.total = static_cast<int>(matches.size());
    int count = pageSize > 0 ? pageSize : std::clamp(query.count, 1, maxCount);
    long page = std::max(query.page, 1);
    long first = (page - 1) * count;
    if (first < result.total) {
        long last = std::min<long>(first + count, result.total);
        result.roles.assign(matches.begin() + first, matches.begin() + last);
    }
    return result;
}

bool parseCharset(const std::string& text, Charset& out) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "utf-8" || lower == "utf8")
        out = Charset::Utf8;
    else if (lower == "gbk" || lower == "cp936")
        out = Charset::Gbk;
    else if (lower == "escaped" || lower == "ascii")
        out = Charset::Escaped;
    else
        return false;
    return true;
}

std::string utf8ToGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return utf8;
    std::string out;
    out.resize(utf8.size() * 2 + 4);
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1))
            break;
        // A character GBK cannot hold (or a broken sequence): write '?' for it and go on after it.
        std::size_t at = static_cast<std::size_t>(in - utf8.data());
        std::size_t next = at;
        nextCodePoint(utf8, next);
        in += next - at;
        inLeft -= next - at;
        if (outLeft > 0) {
            *dst++ = '?';
            --outLeft;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string jsonEscape(const std::string& utf8, bool asciiOnly) {
    std::string out;
    out.reserve(utf8.size() + 2);
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            ++i;
            switch (b) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (b < 0x20)
                    appendU16Escape(out, b);
                else
                    out += static_cast<char>(b);
            }
            continue;
        }
        std::size_t start = i;
        char32_t cp = nextCodePoint(utf8, i);
        if (!asciiOnly) {
            out.append(utf8, start, i - start);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            appendU16Escape(out, 0xd800 + (cp >> 10));
            appendU16Escape(out, 0xdc00 + (cp & 0x3ff));
        } else {
            appendU16Escape(out, cp);
        }
    }
    return out;
}

std::string htmlEscape(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string searchAnswer(const SearchResult& result, Charset charset) {
    bool ascii = charset == Charset::Escaped;
    auto text = [&](const std::string& s) { return "\"" + jsonEscape(s, ascii) + "\""; };
    std::string json = "{\"status\":0,\"result\":{\"total_count\":";
    json += result.total % 2 ? "\"" + std::to_string(result.total) + "\"" : std::to_string(result.total);
    json += ",\"roles\":[";
    for (std::size_t i = 0; i < result.roles.size(); ++i) {
        const DemoRole& r = *result.roles[i];
        if (i)
            json += ',';
        json += "{\"id\":" + std::to_string(r.id);
        json += ",\"name\":" + text(r.name);
        json += ",\"sector\":" + text(r.sector);
        json += ",\"server\":" + text(r.server);
        json += ",\"level\":" + std::to_string(r.level);
        json += ",\"school\":" + text(r.school);
        json += ",\"clan\":" + text(r.clan);
        json += ",\"xiuwei\":" + std::to_string(r.xiuwei);
        json += ",\"equ_xiuwei\":" + std::to_string(r.equXiuwei);
        json += ",\"total_xiuwei\":" + std::to_string(r.totalXiuwei) + "}";
    }
    json += "]}}";
    return charset == Charset::Gbk ? utf8ToGbk(json) : json;
}

std::string contentTypeFor(Charset charset, const char* mediaType) {
    std::string type = mediaType;
    if (charset == Charset::Utf8)
        type += "; charset=utf-8";
    return type;
}

std::string rolePage(const DemoRole* role) {
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
    if (!role)
        return html + "没有这个角色 - Qarvia英雄榜</title></head><body><p>没有这个角色。</p></body></html>\n";
    std::string name = htmlEscape(role->name);
    html += name +
            " - Qarvia英雄榜</title>\n"
            "<style>body{font-family:sans-serif;margin:2em}td,th{padding:4px 12px;text-align:left}"
            "th{background:#eef}</style></head>\n<body>\n<h1>" +
            name + "</h1>\n<div id=\"dList2\"><table>\n";
    auto row = [&](const char* label, const std::string& value) {
        html += std::string("<tr><th>") + label + "</th><td>" + htmlEscape(value) + "</td></tr>\n";
    };
    row("角色ID", std::to_string(role->id));
    row("大区", role->sector);
    row("服务器", role->server);
    row("等级", std::to_string(role->level));
    row("门派", role->school);
    row("势力", role->clan);
    row("人物修为", std::to_string(role->xiuwei));
    row("装备修为", std::to_string(role->equXiuwei));
    row("总修为", std::to_string(role->totalXiuwei));
    html += "</table></div>\n</body></html>\n";
    return html;
}

struct RankDemoServer::Impl {
    ServerOptions options;
    std::vector<DemoRole> roles;
    std::unordered_map<std::int64_t, const DemoRole*> byId;
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> listenEnded{false};
    std::atomic<int> sessions{0};
    int boundPort = 0;

    void route() {
        for (const DemoRole& role : roles)
            byId.emplace(role.id, &role);
        server.Post("/bang/search4role", [this](const httplib::Request& req, httplib::Response& res) {
            auto fields = parseForm(req.body);
            SearchQuery query;
            query.name = fields["name"];
            query.page = parseInt(fields["page"], 1);
            query.count = parseInt(fields["count"], 10);
            if (!hasSessionCookie(req.get_header_value("Cookie"))) {
                res.set_header("Set-Cookie", "QSESSID=" + sessionId() + "; Path=/");
                ++sessions;
            }
            res.set_content(searchAnswer(search(roles, query, options.pageSize), options.charset),
                            contentTypeFor(options.charset, "application/json").c_str());
        });
        server.Get(R"(/bang/role/(\d{1,15}))", [this](const httplib::Request& req, httplib::Response& res) {
            auto it = byId.find(std::stoll(req.matches[1].str()));
            const DemoRole* role = it == byId.end() ? nullptr : it->second;
            if (!role)
                res.status = 404;
            res.set_content(rolePage(role), "text/html; charset=utf-8");
        });
        server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
            std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Qarvia英雄榜 演示服务"
                               "</title></head><body><h1>Qarvia英雄榜 演示服务</h1><p>" +
                               std::to_string(roles.size()) +
                               " 个角色。POST /bang/search4role (name, page, count)；GET /bang/role/ID。</p>"
                               "<ul>";
            for (std::size_t i = 0; i < roles.size() && i < 20; ++i)
                html += "<li><a href=\"/bang/role/" + std::to_string(roles[i].id) + "\">" + htmlEscape(roles[i].name) +
                        "</a></li>";
            res.set_content(html + "</ul></body></html>\n", "text/html; charset=utf-8");
        });
    }
};

RankDemoServer::RankDemoServer(ServerOptions options) : RankDemoServer(options, generateRoles(options.roleCount)) {}

RankDemoServer::RankDemoServer(ServerOptions options, std::vector<DemoRole> roles) : d(std::make_unique<Impl>()) {
    d->options = std::move(options);
    d->roles = std::move(roles);
    d->route();
}

RankDemoServer::~RankDemoServer() {
    stop();
}

bool RankDemoServer::start() {
    if (d->thread.joinable())
        return true;
    if (d->options.port == 0) {
        d->boundPort = d->server.bind_to_any_port(d->options.host.c_str());
        if (d->boundPort <= 0)
            return false;
    } else {
        if (!d->server.bind_to_port(d->options.host.c_str(), d->options.port))
            return false;
        d->boundPort = d->options.port;
    }
    // The socket listens from here on; connections made before the thread accepts wait in the backlog.
    d->listenEnded = false;
    d->thread = std::thread([this] {
        d->server.listen_after_bind();
        d->listenEnded = true;
    });
    return true;
}

void RankDemoServer::stop() {
    if (!d->thread.joinable())
        return;
    // stop() only takes effect once the serving loop has started; wait for it (or for its end).
    while (!d->listenEnded && !d->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->server.stop();
    d->thread.join();
}

int RankDemoServer::port() const {
    return d->boundPort;
}

std::string RankDemoServer::baseUrl() const {
    return "http://" + d->options.host + ":" + std::to_string(d->boundPort);
}

const std::vector<DemoRole>& RankDemoServer::roles() const {
    return d->roles;
}

int RankDemoServer::sessionsIssued() const {
    return d->sessions;
}

} // namespace qarvia::rankdemo
