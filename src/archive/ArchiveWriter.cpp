#include "archive/ArchiveWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "archive/ArchiveImport.h"
#include "archive/ThreadPriority.h"

namespace tavrik {

namespace {

// Live frames taken per transaction: a burst after a stall goes in one commit.
constexpr std::size_t kLiveBatch = 1000;
constexpr auto kProgressEvery = std::chrono::milliseconds(500);

struct LogToDo {
    std::string path;
    std::uint64_t from = 0;
    std::uint64_t size = 0;
};

} // namespace

struct ArchiveWriter::CatchUpState {
    std::vector<LogToDo> logs;
    std::size_t next = 0;
    ArchiveImport import;
    bool open = false;
    std::uint64_t total = 0;     // bytes to read in all logs
    std::uint64_t doneBytes = 0; // of the logs finished
    ImportCounts counts;         // of the logs finished
    std::size_t logsRead = 0;
    bool imports = false; // files the window imports, not the start-up catch-up
    std::chrono::steady_clock::time_point started, lastProgress;
};

std::vector<std::string> KissLogsIn(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const auto& p = entry.path();
        // Named as the program names its log (folder + "/" + name), so a log's
        // live frames and its catch-up share one file entry.
        if (entry.is_regular_file(ec) && p.extension() == ".kss")
            out.push_back(folder + "/" + p.filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

ArchiveWriter::ArchiveWriter() : ArchiveWriter(Options{}) {}
ArchiveWriter::ArchiveWriter(Options options) : options_(options) {}

ArchiveWriter::~ArchiveWriter() {
    Stop();
}

std::string ArchiveWriter::Start(const std::string& path) {
    if (Running()) return {};
    if (std::string why = archive_.Open(path, Archive::Access::Write); !why.empty()) return why;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return {};
}

bool ArchiveWriter::Post(ArchiveFrame frame) {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || stop_) return false;
        if (queue_.size() >= options_.queueCapacity) {
            const bool first = counts_.dropped == 0;
            ++counts_.dropped;
            if (first)
                news_.push_back({ArchiveNews::Kind::Error,
                                 "archive: frames arrive faster than they can be written; those "
                                 "not written are taken from the KISS log at the next start",
                                 WriteResult::Failure::Other});
            return false;
        }
        queue_.push_back(std::move(frame));
    }
    wake_.notify_one();
    return true;
}

void ArchiveWriter::CatchUp(std::vector<std::string> kissLogs) {
    {
        std::lock_guard lock(mutex_);
        for (std::string& log : kissLogs)
            catchUpFiles_.push_back({std::move(log), false});
    }
    wake_.notify_one();
}

void ArchiveWriter::Import(std::vector<std::string> kissFiles) {
    {
        std::lock_guard lock(mutex_);
        for (std::string& file : kissFiles)
            catchUpFiles_.push_back({std::move(file), true});
    }
    wake_.notify_one();
}

void ArchiveWriter::SetNotify(std::function<void()> notify) {
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
}

std::vector<ArchiveNews> ArchiveWriter::TakeNews() {
    std::lock_guard lock(mutex_);
    return std::exchange(news_, {});
}

ArchiveWriterCounts ArchiveWriter::Counts() const {
    std::lock_guard lock(mutex_);
    ArchiveWriterCounts c = counts_;
    c.queued = queue_.size();
    return c;
}

void ArchiveWriter::Flush() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] {
        return !thread_.joinable() ||
               (queue_.empty() && !busy_ && catchUpFiles_.empty() && catchUp_ == nullptr);
    });
}

void ArchiveWriter::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    catchUp_.reset();
    archive_.Close();
    idle_.notify_all();
}

void ArchiveWriter::Report(ArchiveNews news) {
    std::function<void()> notify;
    {
        std::lock_guard lock(mutex_);
        news_.push_back(std::move(news));
        notify = notify_;
    }
    if (notify) notify();
}

void ArchiveWriter::Run() {
    // A catch-up keeps this thread busy for minutes; live frames only wait in the queue.
    LowerThreadPriority();
    std::vector<ArchiveFrame> batch;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            busy_ = false;
            idle_.notify_all();
            wake_.wait(lock, [&] {
                return stop_ || !queue_.empty() || !catchUpFiles_.empty() || catchUp_ != nullptr;
            });
            // Stopping finishes the live frames; a catch-up left halfway goes
            // on at the next start from its marks.
            if (stop_ && queue_.empty()) return;
            batch.clear();
            while (!queue_.empty() && batch.size() < kLiveBatch) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
            busy_ = true;
        }
        if (!batch.empty()) {
            const WriteResult r = archive_.Insert(batch);
            {
                std::lock_guard lock(mutex_);
                if (r.Ok()) {
                    counts_.archived += r.added;
                    counts_.duplicates += r.duplicates;
                } else {
                    counts_.dropped += static_cast<std::int64_t>(batch.size());
                }
            }
            if (!r.Ok())
                Report({ArchiveNews::Kind::Error,
                        "archive: " + std::to_string(batch.size()) + " frame(s) not archived: " +
                            r.error + "; they are taken from the KISS log at the next start",
                        r.failure});
        } else if (!stop_) {
            CatchUpSlice();
        }
    }
}

// One slice of the catch-up; plans it on the first call.
bool ArchiveWriter::CatchUpSlice() {
    using Clock = std::chrono::steady_clock;
    if (!catchUp_) {
        std::vector<FileRequest> files;
        {
            std::lock_guard lock(mutex_);
            files.swap(catchUpFiles_);
        }
        auto c = std::make_unique<CatchUpState>();
        c->started = c->lastProgress = Clock::now();
        c->imports = std::all_of(files.begin(), files.end(), [](auto& f) { return f.whole; });
        for (const FileRequest& f : files) {
            std::error_code ec;
            const auto size = std::filesystem::file_size(f.path, ec);
            if (ec) continue;
            std::uint64_t from = f.whole ? 0 : archive_.ArchivedTo(f.path);
            if (from > size) from = 0; // replaced or cut: read again
            if (from < size) {
                c->logs.push_back({f.path, from, size});
                c->total += size - from;
            }
        }
        if (!c->logs.empty() && !c->imports) {
            char mb[32];
            std::snprintf(mb, sizeof mb, "%.1f", static_cast<double>(c->total) / 1e6);
            Report({ArchiveNews::Kind::CatchUpProgress,
                    "archive catch-up: " + std::to_string(c->logs.size()) +
                        " KISS log(s) not fully archived, " + mb + " MB to read",
                    WriteResult::Failure::None, 0, c->total});
        }
        std::lock_guard lock(mutex_);
        catchUp_ = std::move(c);
    }
    CatchUpState& c = *catchUp_;
    auto finish = [&](const std::string& stopped) {
        const double seconds = std::chrono::duration<double>(Clock::now() - c.started).count();
        char took[32];
        std::snprintf(took, sizeof took, "%.1f", seconds);
        std::string line = c.imports ? "archive import " : "archive catch-up ";
        line += stopped.empty() ? "done: "
                : c.imports     ? "stopped (" + stopped + "; import the file again): "
                                : "stopped (" + stopped + "; the next start goes on): ";
        line += std::to_string(c.logsRead) + " of " + std::to_string(c.logs.size()) +
                (c.imports ? " KISS file(s) read, " : " KISS log(s) read, ") +
                std::to_string(c.counts.added) + " frame(s) added, " +
                std::to_string(c.counts.duplicates) + " already there";
        if (c.counts.withoutTime > 0)
            line +=
                ", " + std::to_string(c.counts.withoutTime) + " without a reception time skipped";
        line += ", in " + std::string(took) + " s";
        {
            std::lock_guard lock(mutex_);
            counts_.caughtUp += c.counts.added;
        }
        Report({ArchiveNews::Kind::CatchUpDone, line, WriteResult::Failure::None, c.doneBytes,
                c.total});
        std::lock_guard lock(mutex_);
        catchUp_.reset();
        return false;
    };
    if (!c.open) {
        if (c.next >= c.logs.size()) return finish({});
        const LogToDo& log = c.logs[c.next];
        if (std::string why = c.import.Open(log.path, log.from); !why.empty()) {
            Report(
                {ArchiveNews::Kind::Error,
                 (c.imports ? "archive import: " : "archive catch-up: ") + log.path + ": " + why});
            c.doneBytes += log.size - log.from;
            ++c.next;
            return true;
        }
        c.open = true;
    }
    WriteResult r;
    const bool more = c.import.Slice(archive_, options_.sliceFrames, r);
    const LogToDo& log = c.logs[c.next];
    const std::uint64_t position = c.doneBytes + (c.import.Position() - log.from);
    if (!r.Ok()) return finish(r.error);
    if (!more) {
        const ImportCounts& n = c.import.Counts();
        c.counts.added += n.added;
        c.counts.duplicates += n.duplicates;
        c.counts.withoutTime += n.withoutTime;
        c.doneBytes += log.size - log.from;
        ++c.logsRead;
        ++c.next;
        c.open = false;
    }
    if (Clock::now() - c.lastProgress >= kProgressEvery) {
        c.lastProgress = Clock::now();
        Report({ArchiveNews::Kind::CatchUpProgress,
                {},
                WriteResult::Failure::None,
                more ? position : c.doneBytes,
                c.total});
    }
    return true;
}

} // namespace tavrik
