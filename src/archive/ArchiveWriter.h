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
        Notice,          // a line about the archive file itself (set aside, locked, disk full)
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
    std::int64_t notLogged = 0;  // of the dropped: not in any KISS log, so lost to the archive
    std::int64_t setAside = 0;   // damaged archives renamed aside and started anew
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
        // How long the first look at a file may take (PRAGMA quick_check, on
        // the writer's thread before its first write); 0 for none.
        int quickCheckMs = 20000;
        // Another program's lock at start-up: tried again this often.
        int lockRetryMs = 5000;
        // Free space below which the archive stops growing and leaves the
        // rest of the disk to the KISS log (at most 1/16 of the disk).
        std::uint64_t diskFloorBytes = 16u << 20;
    };

    ArchiveWriter();
    explicit ArchiveWriter(Options options);
    ~ArchiveWriter(); // finishes the queue, then stops
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Opens (creating or updating) the archive on the calling thread, so a bad
    // file is reported at once, then starts the thread. Returns an empty text
    // or why the archive cannot be used (then nothing runs and Post refuses).
    // A file another program has locked is tried again on the thread until
    // it opens; a damaged one is renamed aside and a new one started (both
    // said in a Notice). The thread first runs a time-bounded quick check
    // and treats damage it finds, or that any later write meets, the same way:
    // the new archive is filled again from the KISS logs of the catch-up and
    // the files imported.
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
    // How frames that come without levels (imports, the catch-up) are judged
    // from now on; an empty judge leaves them unchecked. Any thread.
    void SetJudge(LevelJudge judge);
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
    // Opens the archive, setting a damaged file aside; "" when it is open.
    std::string OpenOrReplace(int busyMs);
    // The writer thread's first step: waits out a lock, then the quick check.
    bool OpenOnThread();
    // Sets the open (damaged) archive aside, starts a new one and asks for
    // every KISS log and imported file again. False when that failed.
    bool Replace(const std::string& why);
    // Whether the disk leaves room for the archive to grow; says when that changes.
    bool RoomOnDisk();
    std::string DamageText(const std::string& error) const;
    void Requeue();
    void WriteBatch(std::vector<ArchiveFrame>& batch);

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
    LevelJudge judge_;          // waiting for the writer's thread to take it
    bool judgeChanged_ = false; // (both under mutex_)
    ArchiveWriterCounts counts_;
    bool stop_ = false;
    bool busy_ = false;
    std::string path_;
    bool checked_ = false;              // the quick check ran (the writer's thread only)
    bool dead_ = false;                 // a damaged file could not be replaced: nothing is written
    bool lowOnDisk_ = false;            // writing stopped for the KISS log's sake
    bool tightOnDisk_ = false;          // getting there: the WAL is emptied after every write
    std::string damage_;                // found by a catch-up slice, handled by Run
    std::vector<std::string> logs_;     // every KISS log asked for, to fill a new archive again
    std::vector<std::string> imported_; // every file imported, the same
    std::int64_t heldBack_ = 0;         // frames not written while the disk was nearly full
    std::int64_t heldNotLogged_ = 0;    // of them, those that are in no KISS log
    struct CatchUpState;
    std::unique_ptr<CatchUpState> catchUp_; // the writer thread's catch-up (under mutex_)
};

} // namespace tavrik
