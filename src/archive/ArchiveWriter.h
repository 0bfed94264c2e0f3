#pragma once
// The archive's one writer: a thread that owns the write connection and takes
// live frames from a bounded queue, interleaved with slices of the start-up
// catch-up. Whoever posts (the window's thread) only copies a frame into the
// queue: it never waits for the disk. What the writer has to say (errors,
// catch-up progress and its summary) comes back as values from TakeNews().
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/Archive.h"

namespace tavrik {

struct ArchiveNews {
    enum class Kind {
        Error,           // a write failed (text says why); those frames wait for the next catch-up
        CatchUpProgress, // a catch-up step: position/size of all files
        CatchUpDone,     // the catch-up's summary line
    };
    Kind kind = Kind::Error;
    std::string text;
    WriteResult::Failure failure = WriteResult::Failure::None;
    std::uint64_t done = 0;  // catch-up: bytes read of all files
    std::uint64_t total = 0; // catch-up: bytes to read in all files
};

struct ArchiveWriterCounts {
    std::int64_t archived = 0;   // live frames added
    std::int64_t duplicates = 0; // live frames already there
    std::int64_t dropped = 0;    // live frames not archived (queue full, write failed)
    std::int64_t caughtUp = 0;   // frames added by the catch-up
    std::size_t queued = 0;
};

// The KISS logs of a station folder (*.kss), in name order, each named as
// folder + "/" + file name (as the program names its own log).
std::vector<std::string> KissLogsIn(const std::string& folder);

class ArchiveWriter {
  public:
    struct Options {
        std::size_t queueCapacity =
            20000; // live frames waiting; more are dropped (and caught up later)
        std::size_t sliceFrames = 2000; // catch-up frames per transaction
    };

    ArchiveWriter();
    explicit ArchiveWriter(Options options);
    ~ArchiveWriter(); // finishes the queue, then stops
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Opens (creating or updating) the archive on the calling thread, so a bad
    // file is reported at once, then starts the thread. Returns an empty text
    // or why the archive cannot be used (then nothing runs and Post refuses).
    std::string Start(const std::string& path);
    bool Running() const { return thread_.joinable(); }
    // After Start: the version the archive was brought up from (0: it was current).
    int MigratedFrom() const { return migratedFrom_; }

    // Queues a frame. False when the writer is not running or the queue is full.
    bool Post(ArchiveFrame frame);
    // Catches the archive up with these KISS logs (each from its mark), in
    // slices between live frames. The log this run writes is read too: after
    // a kill and a restart within the same minute the run appends to the log
    // of the run before, whose last frames may never have been archived. Its
    // own frames are found there already (or soon) and count as duplicates.
    void CatchUp(std::vector<std::string> kissLogs);
    // Reads KISS files the window imports, whole, the same way: an import
    // reads frames far faster than they could be queued one by one.
    void Import(std::vector<std::string> kissFiles);
    // Called on the writer's thread whenever news is waiting; keep it short
    // (post an event to the owner's thread).
    void SetNotify(std::function<void()> notify);
    std::vector<ArchiveNews> TakeNews();
    ArchiveWriterCounts Counts() const;
    // Waits until the queue and the catch-up are done (tests, shutdown).
    void Flush();
    void Stop();

  private:
    void Run();
    void Report(ArchiveNews news);
    bool CatchUpSlice();

    Options options_;
    Archive archive_;
    int migratedFrom_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<ArchiveFrame> queue_;
    struct FileRequest {
        std::string path;
        bool whole = false; // from the start (an import), else from its mark (a catch-up)
    };
    std::vector<FileRequest> catchUpFiles_;
    std::vector<ArchiveNews> news_;
    std::function<void()> notify_;
    ArchiveWriterCounts counts_;
    bool stop_ = false;
    bool busy_ = false;
    struct CatchUpState;
    std::unique_ptr<CatchUpState> catchUp_; // the writer thread's catch-up (under mutex_)
};

} // namespace tavrik
