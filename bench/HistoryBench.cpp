// The upload history with 10,000 rows, each with a thumbnail of a usual
// size: opening the database and listing every row, and the same with a
// filter as typed in the History window, against the sqlite3 tool running
// the same query on the same file (a whole process, as a script would).
#include "HistoryStore.h"

#include "RatioReporter.h"
#include "RunTool.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int Rows = 10000;
// A 256 x 144 JPEG thumbnail of a screen is about this large.
constexpr int ThumbnailBytes = 9000;

std::string Path() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/brwk_bench_history.sqlite";
}

// The schema is the store's own; the rows go in through one transaction of
// a plain connection, since a row per commit would take minutes.
bool Fill() {
    std::remove(Path().c_str());
    try {
        THistoryStore store(Path());
    } catch (const EHistory& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fill");
        db.setDatabaseName(QString::fromStdString(Path()));
        ok = db.open() && db.transaction();
        QSqlQuery q(db);
        q.prepare("INSERT INTO uploads (time, method, host, port, user, directory, name, url, "
                  "size, thumbnail) VALUES (?, 'ftp', 'ftp.example.com', 21, 'johndoe', "
                  "'public_html/Brindlewick', ?, ?, 250000, ?)");
        const QByteArray thumbnail(ThumbnailBytes, '\x5A');
        for (int i = 0; ok && i < Rows; ++i) {
            const QString name = QString(i % 100 == 0 ? "holiday%1.jpg" : "screencap%1.jpg").arg(i);
            q.addBindValue(qlonglong(1700000000) + i * 600);
            q.addBindValue(name);
            q.addBindValue("http://www.example.com/~johndoe/Brindlewick/" + name);
            q.addBindValue(thumbnail);
            ok = q.exec();
        }
        ok = ok && db.commit();
        if (!ok) std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase("fill");
    return ok;
}

void BM_OpenAndListAll(benchmark::State& state) {
    for (auto _ : state) {
        THistoryStore store(Path());
        benchmark::DoNotOptimize(store.List().size());
    }
}
BENCHMARK(BM_OpenAndListAll)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the History window and --history read: everything but the thumbnails.
void BM_OpenAndListWithoutThumbnails(benchmark::State& state) {
    for (auto _ : state) {
        THistoryStore store(Path());
        benchmark::DoNotOptimize(store.List({}, false).size());
    }
}
BENCHMARK(BM_OpenAndListWithoutThumbnails)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenAndFilter(benchmark::State& state) {
    for (auto _ : state) {
        THistoryStore store(Path());
        if (store.List("HOLIDAY", false).size() != Rows / 100) state.SkipWithError("wrong rows");
    }
}
BENCHMARK(BM_OpenAndFilter)->Unit(benchmark::kMillisecond)->UseRealTime();

void Sqlite3(benchmark::State& state, const char* where) {
    const std::string sql =
        std::string("SELECT * FROM uploads ") + where + " ORDER BY time DESC, id DESC";
    for (auto _ : state)
        if (!RunTool({"sh", "-c", "sqlite3 '" + Path() + "' \"" + sql + "\" >/dev/null"})) {
            state.SkipWithError("sqlite3 failed (package sqlite3)");
            return;
        }
}

void BM_Sqlite3ListAll(benchmark::State& state) {
    Sqlite3(state, "");
}
BENCHMARK(BM_Sqlite3ListAll)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sqlite3Filter(benchmark::State& state) {
    Sqlite3(state, "WHERE instr(lower(name), 'holiday') > 0 OR instr(lower(url), 'holiday') > 0");
}
BENCHMARK(BM_Sqlite3Filter)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!Fill()) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios, ours / sqlite3 (lower is faster):\n");
    for (auto [ours, theirs] : {std::pair{"BM_OpenAndListAll", "BM_Sqlite3ListAll"},
                                std::pair{"BM_OpenAndListWithoutThumbnails", "BM_Sqlite3ListAll"},
                                std::pair{"BM_OpenAndFilter", "BM_Sqlite3Filter"}})
        if (reporter.TimeOf(theirs) > 0)
            std::printf("%-34s %.2f\n", ours, reporter.TimeOf(ours) / reporter.TimeOf(theirs));
    std::remove(Path().c_str());
    benchmark::Shutdown();
    return 0;
}
