#include "archive/ArchiveWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/statvfs.h>
#include <system_error>
#include <utility>

#include "archive/ArchiveImport.h"
#include "archive/ThreadPriority.h"

namespace tavrik {

namespace {

// Live frames taken per transaction: a burst after a stall goes in one commit.
constexpr std::size_t kLiveBatch = 1000;
constexpr auto kProgressEvery = std::chrono::milliseconds(500);
// The window's thread opens the archive at start-up: it waits no longer than
// this for another program's lock before leaving it to the writer's thread.
constexpr int kStartBusyMs = 300;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Kilobytes(std::uint64_t bytes) {
    return std::to_string(bytes / 1024) + " kB";
}

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
    path_ = path;
    checked_ = dead_ = lowOnDisk_ = false;
    std::string why = OpenOrReplace(kStartBusyMs);
    if (!why.empty() && archive_.LastFailure() != Archive::OpenFailure::Busy) return why;
    if (!why.empty())
        Report({ArchiveNews::Kind::Notice,
                "archive: " + why + "; tried again every " +
                    std::to_string(options_.lockRetryMs / 1000) +
                    " s, the frames meanwhile wait in the KISS log",
                WriteResult::Failure::Busy});
    migratedFrom_ = why.empty() ? archive_.MigratedFrom() : 0;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return {};
}

std::string ArchiveWriter::OpenOrReplace(int busyMs) {
    std::string why = archive_.Open(path_, Archive::Access::Write, busyMs);
    if (why.empty() || archive_.LastFailure() != Archive::OpenFailure::Damaged) return why;
    // Said for the tools; here the file is set aside instead.
    constexpr std::string_view kLeftAlone = "; the file is left as it is";
    if (why.ends_with(kLeftAlone)) why.resize(why.size() - kLeftAlone.size());
    return Replace(why) ? std::string() : "the damaged archive cannot be replaced";
}

bool ArchiveWriter::Replace(const std::string& why) {
    archive_.CloseWithoutWriting();
    std::string movedTo;
    std::string failed = SetArchiveAside(path_, NowMs(), movedTo);
    if (failed.empty()) failed = archive_.Open(path_, Archive::Access::Write);
    if (!failed.empty()) {
        dead_ = true;
        Report({ArchiveNews::Kind::Notice,
                "archive: " + why + "; no new archive could be started (" + failed +
                    "); the station goes on without it",
                WriteResult::Failure::Damaged});
        return false;
    }
    checked_ = true; // a new file
    bool imports = false;
    {
        std::lock_guard lock(mutex_);
        ++counts_.setAside;
        imports = !imported_.empty();
    }
    Report({ArchiveNews::Kind::Notice,
            "archive: " + why + "; it was renamed to " + movedTo +
                " and is never written again; a new archive is started and filled again from "
                "the KISS logs" +
                (imports ? " and the files imported in this run" : ""),
            WriteResult::Failure::Damaged});
    Requeue();
    return true;
}

// Every log and imported file from the start, into the new archive (called
// on the writer's thread; a catch-up under way is planned anew).
void ArchiveWriter::Requeue() {
    std::lock_guard lock(mutex_);
    catchUp_.reset();
    catchUpFiles_.clear();
    for (const std::string& log : logs_)
        catchUpFiles_.push_back({log, false});
    for (const std::string& file : imported_)
        catchUpFiles_.push_back({file, true});
}

bool ArchiveWriter::OpenOnThread() {
    while (!archive_.IsOpen() && !dead_) {
        std::string why = OpenOrReplace(Archive::kDefaultBusyMs);
        if (why.empty()) {
            Report({ArchiveNews::Kind::Notice, "archive: " + path_ + " is free again and in use",
                    WriteResult::Failure::None});
            break;
        }
        if (archive_.LastFailure() != Archive::OpenFailure::Busy) {
            dead_ = true;
            Report({ArchiveNews::Kind::Notice, "archive not used: " + why,
                    WriteResult::Failure::Other});
            return false;
        }
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(options_.lockRetryMs),
                           [&] { return stop_; }))
            return false;
    }
    if (dead_) return false;
    if (!checked_ && options_.quickCheckMs > 0) {
        checked_ = true;
        bool finished = true;
        const std::string found = archive_.Check(false, options_.quickCheckMs, &finished);
        if (!found.empty()) return Replace(path_ + " is damaged (quick check: " + found + ")");
        if (!finished)
            Report({ArchiveNews::Kind::Notice,
                    "archive: the quick check of " + path_ + " stopped after " +
                        std::to_string(options_.quickCheckMs / 1000) +
                        " s with nothing found (a large file; tavrik-archive check looks at all "
                        "of it)",
                    WriteResult::Failure::None});
    }
    return true;
}

// A write's error as the damage line says it: "<path> is damaged (<what>)".
std::string ArchiveWriter::DamageText(const std::string& error) const {
    const std::string prefix = path_ + ": ";
    return path_ + " is damaged (" +
           (error.starts_with(prefix) ? error.substr(prefix.size()) : error) + ")";
}

bool ArchiveWriter::RoomOnDisk() {
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    struct statvfs fs {};
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &fs) != 0) return true;
    const std::uint64_t size = static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize;
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    const std::uint64_t floor = std::min(options_.diskFloorBytes, size / 16);
    tightOnDisk_ = free < 8 * floor;
    if (!lowOnDisk_ && free < floor) {
        lowOnDisk_ = true;
        // The WAL gives back what it holds beyond the frames it still has to move.
        archive_.CheckpointTruncate();
        Report({ArchiveNews::Kind::Notice,
                "archive: the disk is nearly full (" + Kilobytes(free) +
                    " free); the archive stops growing and leaves the room to the KISS log; "
                    "frames logged meanwhile are archived from it once there is room again",
                WriteResult::Failure::Full});
    } else if (lowOnDisk_ && free >= 2 * floor) {
        lowOnDisk_ = false;
        const std::int64_t held = std::exchange(heldBack_, 0);
        const std::int64_t notLogged = std::exchange(heldNotLogged_, 0);
        Report({ArchiveNews::Kind::Notice,
                "archive: room on the disk again (" + Kilobytes(free) + " free); of the " +
                    std::to_string(held) + " frame(s) held back meanwhile, " +
                    std::to_string(held - notLogged) + " are taken from the KISS logs now" +
                    (notLogged > 0 ? ", " + std::to_string(notLogged) +
                                         " never reached the KISS log and are not archived"
                                   : ""),
                WriteResult::Failure::None});
        std::lock_guard lock(mutex_);
        for (const std::string& log : logs_)
            catchUpFiles_.push_back({log, false});
    }
    return !lowOnDisk_;
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
                                 "not written are taken from the KISS log at the next start "
                                 "(those that reached it)",
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
        for (std::string& log : kissLogs) {
            if (std::find(logs_.begin(), logs_.end(), log) == logs_.end()) logs_.push_back(log);
            catchUpFiles_.push_back({std::move(log), false});
        }
    }
    wake_.notify_one();
}

void ArchiveWriter::Import(std::vector<std::string> kissFiles) {
    {
        std::lock_guard lock(mutex_);
        for (std::string& file : kissFiles) {
            if (std::find(imported_.begin(), imported_.end(), file) == imported_.end())
                imported_.push_back(file);
            catchUpFiles_.push_back({std::move(file), true});
        }
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
    if (!OpenOnThread()) dead_ = true;
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
            if (judgeChanged_) {
                archive_.SetJudge(std::move(judge_));
                judge_ = {};
                judgeChanged_ = false;
            }
            batch.clear();
            while (!queue_.empty() && batch.size() < kLiveBatch) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
            if (dead_) {
                // Nothing to write to: the frames stay in the KISS logs only.
                counts_.dropped += static_cast<std::int64_t>(batch.size());
                catchUpFiles_.clear();
                catchUp_.reset();
                continue;
            }
            busy_ = true;
        }
        if (!batch.empty()) {
            WriteBatch(batch);
        } else if (!stop_ && RoomOnDisk()) {
            CatchUpSlice();
            if (!damage_.empty()) Replace(std::exchange(damage_, {}));
        } else if (!stop_) {
            // Nearly full: the catch-up waits for room, looking again now and then.
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::seconds(1), [&] { return stop_ || !queue_.empty(); });
        }
    }
}

void ArchiveWriter::SetJudge(LevelJudge judge) {
    std::lock_guard lock(mutex_);
    judge_ = std::move(judge);
    judgeChanged_ = true;
}

void ArchiveWriter::WriteBatch(std::vector<ArchiveFrame>& batch) {
    const auto notLogged = static_cast<std::int64_t>(
        std::count_if(batch.begin(), batch.end(), [](const ArchiveFrame& f) {
            return f.kissFile.empty() || f.kissOffset < 0;
        }));
    if (!RoomOnDisk()) {
        std::lock_guard lock(mutex_);
        counts_.dropped += static_cast<std::int64_t>(batch.size());
        counts_.notLogged += notLogged;
        heldBack_ += static_cast<std::int64_t>(batch.size());
        heldNotLogged_ += notLogged;
        return;
    }
    WriteResult r = archive_.Insert(batch);
    // Damage met by a write: the batch goes into the new archive instead.
    if (r.failure == WriteResult::Failure::Damaged && Replace(DamageText(r.error)))
        r = archive_.Insert(batch);
    // On a disk getting full the WAL is moved into the file after every
    // write, while that still fits: it never holds the last megabytes.
    if (r.failure == WriteResult::Failure::Full || tightOnDisk_) archive_.CheckpointTruncate();
    {
        std::lock_guard lock(mutex_);
        if (r.Ok()) {
            counts_.archived += r.added;
            counts_.duplicates += r.duplicates;
        } else {
            counts_.dropped += static_cast<std::int64_t>(batch.size());
            counts_.notLogged += notLogged;
        }
    }
    if (r.Ok()) return;
    const auto logged = static_cast<std::int64_t>(batch.size()) - notLogged;
    std::string what;
    if (logged > 0)
        what = (notLogged > 0 ? std::to_string(logged) + " of them are" : "they are") +
               std::string(" taken from the KISS log at the next start");
    if (notLogged > 0)
        what += (what.empty() ? "" : ", ") +
                (logged > 0 ? std::to_string(notLogged) : std::string("they")) +
                " never reached the KISS log and are lost to the archive";
    Report({ArchiveNews::Kind::Error,
            "archive: " + std::to_string(batch.size()) + " frame(s) not archived: " + r.error +
                "; " + what,
            r.failure});
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
    if (r.failure == WriteResult::Failure::Damaged) {
        damage_ = DamageText(r.error);
        return false;
    }
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
