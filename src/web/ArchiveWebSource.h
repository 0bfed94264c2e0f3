#pragma once
// The archive as the web page asks it: its own read connection to the
// station's archive file, opened when first needed and used on a thread of
// its own, so that no query (SQLite reads many rows for a long range, and may
// wait for a lock) ever holds up the event loop. The answers are handed back
// on the thread that asked; every query is bounded in SQL.
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "archive/Archive.h"
#include "web/WebSeries.h"

namespace tavrik {

class ArchiveWebSource : public WebArchive {
  public:
    // Queries waiting beyond the one being read; more are answered "cannot
    // answer" at once (the page then shows this run's records).
    static constexpr std::size_t kMaxWaiting = 32;

    // path: the archive file, "" while the station keeps none; asked on the
    // caller's thread with every query.
    explicit ArchiveWebSource(std::function<std::string()> path);
    ~ArchiveWebSource() override; // answers not yet handed back are dropped

    void Series(int field, std::int64_t fromMs, std::int64_t toMs, int points,
                Done<tavrik::Series> done) override;
    void Passes(std::int64_t fromMs, std::int64_t toMs, std::size_t max,
                Done<std::vector<PassView>> done) override;
    // Frames the archive holds; nothing when it cannot be read.
    void Rows(Done<std::uint64_t> done);

  private:
    // Runs `read` on the archive's thread with the connection (nullptr when
    // the archive cannot be opened), then `done` with its result here.
    template <class T> void Ask(std::function<std::optional<T>(Archive*)> read, Done<T> done);
    void Run();
    Archive* Ready(const std::string& path);

    std::function<std::string()> path_;
    QObject home_; // answers are delivered to the thread it lives in
    Archive archive_;
    std::uint64_t inode_ = 0; // of the file opened: a file set aside is noticed
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace tavrik
