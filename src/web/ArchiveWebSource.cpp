#include "web/ArchiveWebSource.h"

#include <QMetaObject>
#include <limits>
#include <memory>
#include <sys/stat.h>

namespace tavrik {

namespace {
// The archive's ranges leave their end out; the API's include it.
TimeRange Inclusive(std::int64_t fromMs, std::int64_t toMs) {
    return {fromMs, toMs == std::numeric_limits<std::int64_t>::max() ? toMs : toMs + 1};
}

std::uint64_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_ino) : 0;
}
} // namespace

ArchiveWebSource::ArchiveWebSource(std::function<std::string()> path)
    : path_(std::move(path)), thread_([this] { Run(); }) {}

ArchiveWebSource::~ArchiveWebSource() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        jobs_.clear();
    }
    wake_.notify_one();
    thread_.join();
    // home_ goes with this object: answers queued to it are never delivered.
}

void ArchiveWebSource::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (stop_) break;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
    archive_.Close();
}

Archive* ArchiveWebSource::Ready(const std::string& path) {
    // A damaged archive renamed aside and a new one in its place: the
    // connection follows the name, not the old file.
    if (archive_.IsOpen() && (path != archive_.Path() || InodeOf(path) != inode_)) archive_.Close();
    if (archive_.IsOpen()) return &archive_;
    if (path.empty() || !archive_.Open(path, Archive::Access::Read).empty()) return nullptr;
    inode_ = InodeOf(path);
    return &archive_;
}

template <class T>
void ArchiveWebSource::Ask(std::function<std::optional<T>(Archive*)> read, Done<T> done) {
    {
        std::lock_guard lock(mutex_);
        if (jobs_.size() < kMaxWaiting) {
            jobs_.push_back([this, path = path_(), read = std::move(read), done = std::move(done)] {
                auto result = std::make_shared<std::optional<T>>(read(Ready(path)));
                // A damaged file is noticed by the writer; here it is only let go.
                if (!*result) archive_.Close();
                QMetaObject::invokeMethod(
                    &home_, [done, result] { done(std::move(*result)); }, Qt::QueuedConnection);
            });
            wake_.notify_one();
            return;
        }
    }
    done(std::nullopt);
}

void ArchiveWebSource::Series(int field, std::int64_t fromMs, std::int64_t toMs, int points,
                              Done<tavrik::Series> done) {
    Ask<tavrik::Series>(
        [=](Archive* a) -> std::optional<tavrik::Series> {
            // Buckets over the frames' own extent, as for this run's records:
            // a short pass in a long range still gets all its points.
            ArchiveExtent extent;
            if (!a || !a->Extent(Inclusive(fromMs, toMs), extent).empty()) return std::nullopt;
            tavrik::Series s;
            if (extent.count == 0) return s;
            if (!a->QuerySeries(field, Inclusive(extent.firstMs, extent.lastMs), points, s).empty())
                return std::nullopt;
            return s;
        },
        std::move(done));
}

void ArchiveWebSource::Passes(std::int64_t fromMs, std::int64_t toMs, std::size_t max,
                              Done<std::vector<PassView>> done) {
    Ask<std::vector<PassView>>(
        [=](Archive* a) -> std::optional<std::vector<PassView>> {
            std::vector<Summary> passes;
            if (!a || !a->QueryNewestPasses(Inclusive(fromMs, toMs), max, passes).empty())
                return std::nullopt;
            std::vector<PassView> out;
            for (const Summary& p : passes)
                out.push_back({p.startMs,
                               p.endMs,
                               static_cast<std::uint64_t>(p.count),
                               {},
                               static_cast<int>(p.Worst())});
            return out;
        },
        std::move(done));
}

void ArchiveWebSource::Rows(Done<std::uint64_t> done) {
    Ask<std::uint64_t>(
        [](Archive* a) -> std::optional<std::uint64_t> {
            ArchiveExtent e;
            if (!a || !a->Extent({}, e).empty()) return std::nullopt;
            return static_cast<std::uint64_t>(e.count);
        },
        std::move(done));
}

} // namespace tavrik
