// The archive file on a bad day, on real SQLite files: damage found at the
// start or by a write (set aside untouched, a new archive filled again from
// the KISS logs), a lock another process holds at start-up, a read-only
// folder (in a mount namespace of the test's own, see CMakeLists.txt).
#include <cstdio>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>

#include "archive/ArchiveWriter.h"
#include "archive_support.h"

namespace tavrik {
namespace {

using testing::MakeLog;
using testing::TempDir;
using testing::Times;

std::string Pragma(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    else
        out = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

// Flips the bytes of the frame table's root page, as a bad sector would:
// SQLite's own checks then fail.
void Damage(const std::string& path) {
    // The WAL into the file; the file stays in WAL mode, as the program keeps it.
    ASSERT_EQ(Pragma(path, "PRAGMA journal_mode = DELETE"), "delete");
    ASSERT_EQ(Pragma(path, "PRAGMA journal_mode = WAL"), "wal");
    const long pageSize = std::stol(Pragma(path, "PRAGMA page_size"));
    const long root =
        std::stol(Pragma(path, "SELECT rootpage FROM sqlite_schema WHERE name = 'frame'"));
    std::string bytes = testing::ReadAll(path);
    ASSERT_GT(bytes.size(), static_cast<std::size_t>(root * pageSize));
    for (long i = 0; i < 64; ++i)
        bytes[static_cast<std::size_t>((root - 1) * pageSize + i)] ^= 0x5a;
    testing::WriteAll(path, bytes);
    ASSERT_NE(Pragma(path, "PRAGMA integrity_check"), "ok");
    ASSERT_NE(Pragma(path, "PRAGMA quick_check"), "ok");
}

std::vector<std::string> SetAside(const TempDir& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir.path))
        if (e.path().filename().string().starts_with("tavrik-archive.sqlite.damaged-") &&
            !e.path().string().ends_with("-wal") && !e.path().string().ends_with("-shm"))
            out.push_back(e.path().string());
    return out;
}

std::string AllNews(ArchiveWriter& w) {
    std::string all;
    for (const ArchiveNews& n : w.TakeNews())
        all += n.text + "\n";
    return all;
}

TEST(ArchiveDamage, ADamagedArchiveIsSetAsideUntouchedAndANewOneFilledFromTheLogs) {
    struct Case {
        const char* name;
        int quickCheckMs; // 0: the damage is met by the first write instead
    };
    for (const Case c : {Case{"found at the start", 20000}, Case{"met by a write", 0}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::mt19937_64 rng(11);
        const testing::Log log = MakeLog(rng, 400, 1'700'000'000'000);
        testing::WriteAll(dir.File("A_01.kss"), log.bytes);
        const std::string path = dir.File("tavrik-archive.sqlite");
        {
            ArchiveWriter w;
            ASSERT_EQ(w.Start(path), "");
            w.CatchUp(KissLogsIn(dir.path));
            w.Flush();
        }
        Damage(path);
        const std::string damaged = testing::ReadAll(path);

        ArchiveWriter w(ArchiveWriter::Options{.quickCheckMs = c.quickCheckMs});
        ASSERT_EQ(w.Start(path), "");
        // A live frame in no log: it still reaches the new archive.
        const ArchiveFrame live = testing::RandomFrame(rng, 1'800'000'000'000);
        ASSERT_TRUE(w.Post(live));
        w.CatchUp(KissLogsIn(dir.path));
        w.Flush();
        const std::string news = AllNews(w);
        EXPECT_NE(news.find("is damaged"), std::string::npos) << news;
        EXPECT_NE(news.find("is never written again; a new archive is started and filled again "
                            "from the KISS logs"),
                  std::string::npos)
            << news;
        EXPECT_EQ(w.Counts().setAside, 1);
        w.Stop();

        const std::vector<std::string> aside = SetAside(dir);
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_TRUE(testing::ReadAll(aside[0]) == damaged); // never written
        EXPECT_EQ(Pragma(path, "PRAGMA integrity_check"), "ok");
        Archive a;
        ASSERT_EQ(a.Open(path, Archive::Access::Read), "");
        std::vector<std::int64_t> want = Times(log.frames);
        want.push_back(live.timeMs);
        EXPECT_EQ(Times(a), want);
    }
}

// Another process (the sqlite3 shell) holds the archive exclusively.
class ShellLock {
  public:
    explicit ShellLock(const std::string& path) {
        shell_ = ::popen(("sqlite3 '" + path + "' > /dev/null").c_str(), "w");
        if (!shell_) return;
        // The probes of Held() read meanwhile: the shell waits them out
        // instead of failing its BEGIN at once (and never taking the lock).
        std::fputs(".timeout 5000\nPRAGMA locking_mode = EXCLUSIVE;\nBEGIN EXCLUSIVE;\nCOMMIT;\n",
                   shell_);
        std::fflush(shell_);
    }
    ~ShellLock() { Release(); }
    void Release() {
        if (shell_) ::pclose(shell_);
        shell_ = nullptr;
    }
    // Whether a reader is kept out (it is, once the shell has read its input).
    static bool Held(const std::string& path) {
        return Pragma(path, "SELECT count(*) FROM sqlite_schema").find("locked") !=
               std::string::npos;
    }

  private:
    FILE* shell_ = nullptr;
};

TEST(ArchiveLock, ALockHeldAtStartUpIsWaitedOutInTheBackgroundThenTheArchiveIsUsed) {
    TempDir dir;
    const std::string path = dir.File("tavrik-archive.sqlite");
    {
        ArchiveWriter w;
        ASSERT_EQ(w.Start(path), "");
    }
    ShellLock lock(path);
    for (int i = 0; i < 100 && !ShellLock::Held(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(ShellLock::Held(path));

    ArchiveWriter w(ArchiveWriter::Options{.lockRetryMs = 200});
    ASSERT_EQ(w.Start(path), "");
    std::mt19937_64 rng(12);
    std::vector<ArchiveFrame> frames;
    for (int i = 0; i < 10; ++i) {
        frames.push_back(testing::RandomFrame(rng, 1'700'000'000'000 + i * 1000));
        ASSERT_TRUE(w.Post(frames.back()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // a few tries, all locked
    EXPECT_EQ(w.Counts().archived, 0);
    lock.Release();
    w.Flush();
    EXPECT_EQ(w.Counts().archived, 10);
    const std::string news = AllNews(w);
    EXPECT_NE(news.find("is locked by another program"), std::string::npos) << news;
    EXPECT_NE(news.find("is free again and in use"), std::string::npos) << news;
    EXPECT_EQ(news.find("not a tavrik archive"), std::string::npos) << news;
    w.Stop();
    Archive a;
    ASSERT_EQ(a.Open(path, Archive::Access::Read), "");
    EXPECT_EQ(Times(a), Times(frames));
}

// Runs in a mount namespace with a tmpfs (see CMakeLists.txt): root is not
// kept out by file modes, only by a read-only mount.
TEST(ReadOnly, AReadOnlyFolderIsNamedInOneLineAndNothingIsWritten) {
    const char* folder = std::getenv("ARCHIVE_READ_ONLY_DIR");
    if (!folder) GTEST_SKIP() << "needs ARCHIVE_READ_ONLY_DIR (ctest runs it in a namespace)";
    std::mt19937_64 rng(13);
    for (const bool withArchive : {false, true}) {
        SCOPED_TRACE(withArchive ? "an archive there" : "no archive yet");
        const std::string dir = std::string(folder) + (withArchive ? "/with" : "/without");
        std::filesystem::create_directories(dir);
        const std::string path = dir + "/tavrik-archive.sqlite";
        if (withArchive) {
            ArchiveWriter w;
            ASSERT_EQ(w.Start(path), "");
            ASSERT_TRUE(w.Post(testing::RandomFrame(rng, 5)));
        }
        ASSERT_EQ(::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr), 0);
        ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
                  0);
        const auto before = std::distance(std::filesystem::directory_iterator(dir), {});
        ArchiveWriter w;
        const std::string why = w.Start(path);
        EXPECT_NE(why.find("cannot be " + std::string(withArchive ? "written" : "created")),
                  std::string::npos)
            << why;
        EXPECT_NE(why.find("(Read-only file system)"), std::string::npos) << why;
        EXPECT_FALSE(w.Running());
        EXPECT_FALSE(w.Post(testing::RandomFrame(rng, 6)));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), before);
    }
}

} // namespace
} // namespace tavrik
