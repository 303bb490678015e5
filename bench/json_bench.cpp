// JSON parse and write throughput: the toolbox's reader against Qt's QJsonDocument, nlohmann::json and
// RapidJSON's UTF-16 document, on the three standard corpora, all in one run.
//
// Throughput is bytes of the UTF-8 file per second for every contender. The toolbox's reader and RapidJSON's
// UTF-16 document get the text already widened to UTF-16 (as the program hands text to its reader); Qt and
// nlohmann read the UTF-8 bytes. Each parse includes freeing the document it built.

#include "json/JsonParser.h"
#include "text/Encoding.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/encodings.h>

#ifdef QARVIA_BENCH_QT
#include <QByteArray>
#include <QJsonDocument>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace qarvia::json;

namespace {

struct Corpus {
    std::string name;
    std::string utf8;
    std::u16string utf16;
};

std::vector<Corpus>& corpora() {
    static std::vector<Corpus> all;
    return all;
}

bool loadCorpora() {
    const char* env = std::getenv("QARVIA_JSON_BENCH_DATA");
    const std::string dir = env && *env ? env : QARVIA_JSON_BENCH_DATA;
    for (const char* name : {"twitter", "citm_catalog", "canada"}) {
        std::ifstream in(dir + "/" + name + ".json", std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "json_bench: cannot read %s/%s.json (set QARVIA_JSON_BENCH_DATA)\n", dir.c_str(),
                         name);
            return false;
        }
        Corpus c{name, std::string(std::istreambuf_iterator<char>(in), {}), {}};
        c.utf16 = qarvia::text::utf8ToUtf16(c.utf8);
        corpora().push_back(std::move(c));
    }
    return true;
}

void parseQarvia(benchmark::State& state, const Corpus* c) {
    for (auto _ : state) {
        IJsonValue doc = ParseText(c->utf16);
        if (!doc)
            state.SkipWithError("no value");
        benchmark::DoNotOptimize(doc.Get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->utf8.size()));
}

#ifdef QARVIA_BENCH_QT
void parseQt(benchmark::State& state, const Corpus* c) {
    const QByteArray bytes = QByteArray::fromRawData(c->utf8.data(), qsizetype(c->utf8.size()));
    for (auto _ : state) {
        QJsonParseError error;
        QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
        if (doc.isNull())
            state.SkipWithError("no document");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->utf8.size()));
}
#endif

void parseNlohmann(benchmark::State& state, const Corpus* c) {
    for (auto _ : state) {
        nlohmann::json doc = nlohmann::json::parse(c->utf8);
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->utf8.size()));
}

void parseRapidJson16(benchmark::State& state, const Corpus* c) {
    using Document = rapidjson::GenericDocument<rapidjson::UTF16<char16_t>>;
    for (auto _ : state) {
        Document doc;
        doc.Parse(c->utf16.c_str());
        if (doc.HasParseError())
            state.SkipWithError("parse error");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->utf8.size()));
}

void writeQarvia(benchmark::State& state, const Corpus* c) {
    const IJsonValue doc = ParseText(c->utf16);
    int64_t written = 0;
    for (auto _ : state) {
        const std::u16string text = doc.ToJson(false, false);
        written += int64_t(text.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->utf8.size()));
    state.counters["units"] = benchmark::Counter(double(written) / double(state.iterations()));
}

void writeNlohmann(benchmark::State& state, const Corpus* c) {
    const nlohmann::json doc = nlohmann::json::parse(c->utf8);
    int64_t written = 0;
    for (auto _ : state) {
        const std::string text = doc.dump();
        written += int64_t(text.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c->utf8.size()));
    state.counters["units"] = benchmark::Counter(double(written) / double(state.iterations()));
}

// A small ranking answer as the service sends it; the tab reads its count this way.
void pathTotalCount(benchmark::State& state) {
    std::u16string answer = u"{\"code\":0,\"result\":{\"total_count\":23,\"roles\":[";
    for (int i = 0; i < 10; ++i) {
        if (i)
            answer += u",";
        answer += u"{\"id\":" + qarvia::text::utf8ToUtf16(std::to_string(1000 + i)) +
                  u",\"name\":\"\u82F1\u96C4\",\"level\":120,\"school\":\"\u5929\u5E9C\"}";
    }
    answer += u"]}}";
    const IJsonValue doc = ParseText(answer);
    for (auto _ : state) {
        IJsonValue v = doc.ValueAt(u"result.total_count");
        benchmark::DoNotOptimize(v.Get());
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!loadCorpora())
        return 2;
    for (const Corpus& c : corpora()) {
        benchmark::RegisterBenchmark(("Parse/qarvia/" + c.name).c_str(), parseQarvia, &c)
            ->Unit(benchmark::kMillisecond);
#ifdef QARVIA_BENCH_QT
        benchmark::RegisterBenchmark(("Parse/qt/" + c.name).c_str(), parseQt, &c)->Unit(benchmark::kMillisecond);
#endif
        benchmark::RegisterBenchmark(("Parse/nlohmann/" + c.name).c_str(), parseNlohmann, &c)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Parse/rapidjson16/" + c.name).c_str(), parseRapidJson16, &c)
            ->Unit(benchmark::kMillisecond);
    }
    for (const Corpus& c : corpora()) {
        benchmark::RegisterBenchmark(("Write/qarvia/" + c.name).c_str(), writeQarvia, &c)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Write/nlohmann/" + c.name).c_str(), writeNlohmann, &c)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Path/qarvia/total_count", pathTotalCount);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
