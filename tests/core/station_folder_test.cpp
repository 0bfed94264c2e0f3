#include "files/StationConfig.h"
#include "files/StationFolder.h"

#include <gtest/gtest.h>

#include "core_test_support.h"

namespace tavrik {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

TEST(StationFolder, PerUserFolderFollowsXdgDataHomeOnlyWhenAbsolute) {
    EXPECT_EQ(PerUserStationFolder("/data", "/home/u"), "/data/tavrik-decoder");
    EXPECT_EQ(PerUserStationFolder("", "/home/u"), "/home/u/.local/share/tavrik-decoder");
    EXPECT_EQ(PerUserStationFolder("rel", "/home/u"), "/home/u/.local/share/tavrik-decoder");
}

TEST(StationFolder, WritableBuildFolderStaysTheStationAndGetsNothingWritten) {
    TempDir dir;
    const StationFolder s = ChooseStationFolder(dir.Path().string(), dir.File("peruser"));
    EXPECT_EQ(s.path, dir.Path().string());
    EXPECT_FALSE(s.perUser);
    EXPECT_TRUE(fs::is_empty(dir.Path())); // a missing online_conf.ini stays missing
}

TEST(StationFolder, InstalledProgramGetsAPerUserFolderWithAWorkingDefaultOnce) {
    TempDir dir;
    fs::create_directories(dir.Path() / "usr/bin");
    fs::create_directories(dir.Path() / "usr/share/tavrik-decoder");
    const std::string station = dir.File("home/.local/share/tavrik-decoder");
    const StationFolder first = ChooseStationFolder(dir.File("usr/bin"), station);
    EXPECT_TRUE(first.perUser);
    EXPECT_EQ(first.path, station);
    EXPECT_EQ(first.notes.size(), 2u); // the folder taken, the default written
    const ConfigReadResult read = ReadStationConfigFile(station + "/online_conf.ini");
    EXPECT_FALSE(read.error);
    EXPECT_TRUE(read.config.agwReconnect && read.config.uploadRetry);

    test::WriteAll(station + "/online_conf.ini", "PORT=host:1\r\n"); // the user's own edit
    EXPECT_EQ(ChooseStationFolder(dir.File("usr/bin"), station).notes.size(), 1u);
    EXPECT_EQ(test::ReadAll(station + "/online_conf.ini").size(), 13u);
}

TEST(StationFolder, NamedFolderIsCreatedWithADefaultAndKeepsTheUsersSettings) {
    TempDir dir;
    const StationFolder fresh = NamedStationFolder(dir.File("a/vhf/")); // trailing slash, nested
    EXPECT_EQ(fresh.path, dir.File("a/vhf"));
    EXPECT_EQ(fresh.notes.size(), 2u); // created, default written
    EXPECT_FALSE(ReadStationConfigFile(fresh.path + "/online_conf.ini").error);
    test::WriteAll(fresh.path + "/online_conf.ini", "PORT=host:1\r\n");
    const StationFolder again = NamedStationFolder(fresh.path);
    EXPECT_EQ(again.notes.size(), 1u);
    EXPECT_EQ(test::ReadAll(fresh.path + "/online_conf.ini").size(), 13u);
}

} // namespace
} // namespace tavrik
