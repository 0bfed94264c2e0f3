#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "intake/Agw.h"

using namespace tavrik;
using tavrik::test::Bytes;

namespace {

struct Sent {
    char kind;
    Bytes data;
    std::uint8_t port;
};

Bytes Stream(const std::vector<Sent>& frames) {
    Bytes s;
    for (const Sent& f : frames) {
        const Bytes e = EncodeAgwFrame(f.kind, f.data, f.port);
        s.insert(s.end(), e.begin(), e.end());
    }
    return s;
}

void ExpectSame(const std::vector<AgwFrame>& got, const std::vector<Sent>& sent) {
    ASSERT_EQ(got.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[i].Kind(), sent[i].kind) << i;
        EXPECT_EQ(got[i].data, sent[i].data) << i;
        EXPECT_EQ(got[i].header[0], sent[i].port) << i;
        EXPECT_EQ(got[i].DataLength(), sent[i].data.size()) << i;
    }
}

std::vector<Sent> SomeFrames(std::mt19937& rng, int count) {
    std::vector<Sent> frames;
    const char kinds[] = {'K', 'G', 'X', 'k', 'R'};
    for (int i = 0; i < count; ++i) {
        Sent s{kinds[rng() % 5], Bytes(rng() % 3 == 0 ? 0 : rng() % 700),
               static_cast<std::uint8_t>(rng() % 4)};
        for (auto& b : s.data)
            b = static_cast<std::uint8_t>(rng());
        frames.push_back(std::move(s));
    }
    return frames;
}

AgwFrame Reply(char kind, std::uint8_t lengthByte, const std::string& data) {
    AgwFrame f;
    f.header = MakeAgwHeader(kind);
    f.header[28] = lengthByte;
    f.data.assign(data.begin(), data.end());
    return f;
}

} // namespace

TEST(AgwHeader, RequestsAreZerosExceptTheKind) {
    for (char kind : {'G', 'k'}) {
        const AgwHeader h = MakeAgwHeader(kind);
        ASSERT_EQ(h.size(), 36u);
        for (std::size_t i = 0; i < h.size(); ++i)
            EXPECT_EQ(h[i], i == 4 ? static_cast<std::uint8_t>(kind) : 0) << kind << " byte " << i;
    }
    EXPECT_EQ(MakeAgwHeader('G')[4], 0x47);
    EXPECT_EQ(MakeAgwHeader('k')[4], 0x6B);
}

TEST(EncodeAgwFrame, LengthLittleEndianAtOffset28) {
    Bytes data(0x1234 + 1, 0xAA);
    const Bytes e = EncodeAgwFrame('K', data, 2);
    ASSERT_EQ(e.size(), 36 + data.size());
    EXPECT_EQ(e[0], 2);
    EXPECT_EQ(e[4], 'K');
    EXPECT_EQ(e[28], 0x35);
    EXPECT_EQ(e[29], 0x12);
    EXPECT_EQ(e[30], 0);
    EXPECT_EQ(e[31], 0);
    for (std::size_t i : {1u, 2u, 3u, 5u, 6u, 7u, 8u, 17u, 18u, 27u, 32u, 35u})
        EXPECT_EQ(e[i], 0) << i;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), e.begin() + 36));
    EXPECT_EQ(EncodeAgwFrame('G', {}).size(), 36u);
}

TEST(AgwStreamSplitter, HeaderOnlyKFrameGivesEmptyData) {
    AgwStreamSplitter s;
    const auto frames = s.Feed(EncodeAgwFrame('K', {}));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Kind(), 'K');
    EXPECT_TRUE(frames[0].data.empty());
    EXPECT_EQ(s.Pending(), 0u);
    EXPECT_FALSE(s.Error());
}

TEST(AgwStreamSplitter, SameFramesForEverySplitPosition) {
    std::mt19937 rng(7);
    const std::vector<Sent> sent = SomeFrames(rng, 6);
    const Bytes stream = Stream(sent);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        AgwStreamSplitter s;
        std::vector<AgwFrame> got = s.Feed(std::span(stream).first(cut));
        const std::vector<AgwFrame> rest = s.Feed(std::span(stream).subspan(cut));
        got.insert(got.end(), rest.begin(), rest.end());
        ExpectSame(got, sent);
        ASSERT_EQ(s.Pending(), 0u);
        ASSERT_FALSE(s.Error());
    }
}

TEST(AgwStreamSplitter, SameFramesForRandomChunkings) {
    std::mt19937 rng(2016);
    for (int round = 0; round < 200; ++round) {
        const std::vector<Sent> sent = SomeFrames(rng, 1 + static_cast<int>(rng() % 40));
        const Bytes stream = Stream(sent);
        AgwStreamSplitter s;
        std::vector<AgwFrame> got;
        std::size_t at = 0;
        const std::size_t maxChunk = round % 3 == 0 ? 3 : round % 3 == 1 ? 100 : 9000;
        while (at < stream.size()) {
            const std::size_t n = std::min(stream.size() - at, rng() % (maxChunk + 1));
            auto part = s.Feed(std::span(stream).subspan(at, n));
            got.insert(got.end(), part.begin(), part.end());
            at += n;
        }
        ExpectSame(got, sent);
        EXPECT_EQ(s.Pending(), 0u);
    }
}

TEST(AgwStreamSplitter, IncompleteFrameWaits) {
    const Bytes e = EncodeAgwFrame('K', Bytes(10, 1));
    AgwStreamSplitter s;
    EXPECT_TRUE(s.Feed(std::span(e).first(20)).empty());
    EXPECT_EQ(s.Pending(), 20u);
    EXPECT_TRUE(s.Feed(std::span(e).subspan(20, 25)).empty());
    EXPECT_EQ(s.Pending(), 45u);
    EXPECT_EQ(s.Feed(std::span(e).subspan(45)).size(), 1u);
    EXPECT_EQ(s.Pending(), 0u);
}

TEST(AgwStreamSplitter, LengthAbove64KiBIsAProtocolErrorAndNothingMoreIsTaken) {
    const Bytes good = EncodeAgwFrame('K', Bytes(5, 7));
    AgwHeader bad = MakeAgwHeader('K');
    const std::uint32_t length = 64 * 1024 + 1;
    for (int i = 0; i < 4; ++i)
        bad[28 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    Bytes stream = good;
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), good.begin(), good.end());

    AgwStreamSplitter s;
    const auto frames = s.Feed(stream);
    ASSERT_EQ(frames.size(), 1u); // the frame before the bad header still counts
    ASSERT_TRUE(s.Error());
    EXPECT_NE(s.Error()->find("65537"), std::string::npos) << *s.Error();
    EXPECT_EQ(s.Pending(), 0u);
    EXPECT_TRUE(s.Feed(good).empty());
    EXPECT_EQ(s.Pending(), 0u);

    // The top byte alone, as a stream that is out of step would show it.
    AgwStreamSplitter t;
    AgwHeader huge = MakeAgwHeader('K');
    huge[31] = 0xFF;
    EXPECT_TRUE(t.Feed(huge).empty());
    EXPECT_TRUE(t.Error());
}

TEST(AgwStreamSplitter, LengthOfExactly64KiBIsAccepted) {
    Bytes data(64 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    const Bytes e = EncodeAgwFrame('K', data);
    AgwStreamSplitter s;
    std::vector<AgwFrame> got;
    for (std::size_t at = 0; at < e.size(); at += 1000) {
        auto part = s.Feed(std::span(e).subspan(at, std::min<std::size_t>(1000, e.size() - at)));
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, data);
    EXPECT_FALSE(s.Error());
}

TEST(PortInfoLine, LengthByteRuleThenNulsLeftOut) {
    const std::string prefix = "total number of ports: ";
    const std::string ports = "2;Port1 with soundcard;Port2 second one;";
    struct Case {
        std::uint8_t lengthByte;
        std::string data;
        std::string expected;
    } cases[] = {
        {0, "", "to"},
        {0, ports, "to"},
        {static_cast<std::uint8_t>(ports.size()), ports,
         (prefix + ports).substr(0, 23 + ports.size() - 21)},
        {5, ports, (prefix + ports.substr(0, 5)).substr(0, 23 + 5 - 21)},
        {200, "abc", (prefix + "abc").substr(0, 23 + 3 - 21)}, // no bytes beyond the data
        {21, std::string(21, 'x'), prefix},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortInfoLine(Reply('G', c.lengthByte, c.data)), c.expected);

    // 300 data bytes: only the low byte of the length (44) counts.
    std::string big(300, 'p');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    AgwFrame f = Reply('G', 300 & 0xFF, big);
    f.header[29] = 300 >> 8;
    EXPECT_EQ(PortInfoLine(f), (prefix + big.substr(0, 44)).substr(0, 23 + 44 - 21));

    // NUL padding is cut with the rest, then left out of the line.
    std::string padded = "1;Port1 x;";
    padded += std::string(40, '\0');
    std::string expected = (prefix + padded).substr(0, 23 + padded.size() - 21);
    expected.erase(std::remove(expected.begin(), expected.end(), '\0'), expected.end());
    EXPECT_EQ(PortInfoLine(Reply('G', static_cast<std::uint8_t>(padded.size()), padded)), expected);
    EXPECT_EQ(expected, prefix.substr(0, 23) + "1;Port1 x;");
}
