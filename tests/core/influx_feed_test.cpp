#include <gtest/gtest.h>

#include "core_test_support.h"
#include "upload/InfluxFeed.h"
#include "upload/ServerAddress.h"

namespace tavrik {
namespace {

using Ms = std::chrono::milliseconds;

struct Fixture {
    test::TempDir dir;
    Ms now{1000};
    std::vector<std::string> log;
    std::unique_ptr<InfluxFeed> Open(bool onDisk, InfluxBatchLimits limits) {
        auto clock = [this] { return now; };
        auto sink = [this](const std::string& t) { log.push_back(t); };
        if (!onDisk) return std::make_unique<InfluxFeed>(limits, clock, sink);
        std::string why;
        auto lane = std::make_unique<UploadLane>(
            "http://i/write", UploadSpool::Open(dir.Path(), {.segmentBytes = 40}, why), clock,
            sink); // a segment for every point or two: batches span segments
        lane->AnnounceLeftovers();
        return std::make_unique<InfluxFeed>(std::move(lane), limits, clock, sink);
    }
    // Sends once with the answer given and returns the body sent ("" when none).
    std::string Send(InfluxFeed& feed, UploadOutcome outcome) {
        now += feed.RetryIn();
        const std::string* body = feed.StartNext();
        if (!body) return "";
        const std::string sent = *body;
        EXPECT_EQ(feed.StartNext(), nullptr); // one request at a time
        feed.Finish(outcome);
        return sent;
    }
};

TEST(InfluxFeed, OnDiskBatchesWhatWaitsRetriesAndIsolatesARefusedPoint) {
    Fixture f;
    const InfluxBatchLimits limits{.points = 3, .bytes = 8, .memoryBytes = 1 << 20};
    {
        auto feed = f.Open(true, limits);
        for (const char* p : {"a\n", "b\n", "c\n", "d\n"})
            feed->Add(p);
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Transient), "a\nb\nc\n");
        EXPECT_GT(feed->RetryIn().count(), 0);
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "a\nb\nc\n"); // the same again
        EXPECT_EQ(feed->Counts().accepted, 3u);
        feed->Add("eeeeee\n"); // beyond the byte bound with d
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "d\n");
        for (const char* p : {"x\n", "bad\n", "y\n"})
            feed->Add(p);
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "eeeeee\n");
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Permanent), "x\nbad\ny\n");
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "x\n");
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Permanent), "bad\n");
        feed->Add("z\n"); // not sent with y: the refused batch still goes one by one
        EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "y\n");
        const InfluxCounts c = feed->Counts();
        EXPECT_EQ(c.accepted, 7u);
        EXPECT_EQ(c.dropped, 1u);
        EXPECT_EQ(c.failed, 3u);
        EXPECT_EQ(c.queued, 1u);
        feed->Add("w\n");
    } // what an early end leaves goes first after a restart
    auto feed = f.Open(true, limits);
    feed->Add("v\n");
    EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "z\nw\nv\n");
    EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "");
    EXPECT_EQ(f.log.back(), "Upload queue for http://i/write drained: 3 queued uploads sent");
}

TEST(InfluxFeed, InMemoryEachPointIsTriedOnceWithinItsBound) {
    Fixture f;
    auto feed = f.Open(false, {.points = 10, .bytes = 100, .memoryBytes = 4});
    for (const char* p : {"a\n", "b\n", "c\n"})
        feed->Add(p);
    EXPECT_EQ(f.log, std::vector<std::string>{
                         "InfluxDB more than 0 MiB waiting in memory: 1 new points dropped"});
    EXPECT_EQ(f.Send(*feed, UploadOutcome::Transient), "a\nb\n");
    EXPECT_EQ(f.Send(*feed, UploadOutcome::Delivered), "");
    EXPECT_EQ(feed->Counts().dropped, 3u);
}

TEST(ServerAddress, ShownResolvedAndMoved) {
    EXPECT_EQ(ShownUrl("https://u:p@h:8/a/b?key=1#f"), "https://h:8/a/b");
    EXPECT_EQ(ShownUrl("http://h/x@y?z"), "http://h/x@y");
    struct Case {
        const char* location;
        const char* shown;
    };
    for (const Case& c :
         {Case{"https://n:1/up?k=2", "https://n:1/up"}, Case{"/v2", "http://h:8/v2"},
          Case{"//m/v", "http://m/v"}, Case{"new", "http://h:8/a/new"}}) {
        EXPECT_EQ(MovedLine(301,
                            "HTTP/1.1 301 Moved\r\nlocation:  " + std::string(c.location) + "\r\n",
                            "http://me:pw@h:8/a/up?key=s", "SERVER"),
                  "HTTP 301 from http://h:8/a/up: the server moved it to " + std::string(c.shown) +
                      "; set SERVER to that");
    }
    EXPECT_EQ(MovedLine(200, "Location: /x\r\n", "http://h/", "SERVER"), std::nullopt);
}

} // namespace
} // namespace tavrik
