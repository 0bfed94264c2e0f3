#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "files/InfluxLine.h"

using namespace tavrik;

namespace {

std::array<double, kFieldCount> Values() {
    std::array<double, kFieldCount> v{};
    for (int i = 0; i < kFieldCount; ++i)
        v[static_cast<std::size_t>(i)] = i;
    v[0] = 130;    // OPS mode "norm safe": the number, not the name
    v[13] = 7.5;   // Bus voltage
    v[45] = -3.25; // Temp SP4
    return v;
}

TEST(InfluxLine, WholePoint) {
    std::string out = "kept\n";
    ASSERT_TRUE(AppendInfluxLine(out, "OK0TVK-1", "2024-03-05 14:07:09.250", Values()));
    ASSERT_TRUE(out.starts_with("kept\ntavrik,source=OK0TVK-1 OPS\\ mode=130,Boot\\ cnt=1,"));
    EXPECT_NE(out.find(",Bus\\ voltage=7.5,"), std::string::npos);
    EXPECT_NE(out.find(",3v3\\ #1\\ curr=27,"), std::string::npos);
    EXPECT_TRUE(out.ends_with(",Temp\\ SP4=-3.25 1709647629250000000\n"));
    EXPECT_EQ(std::count(out.begin(), out.end(), '='), kFieldCount + 1);
}

TEST(InfluxLine, RefusedPoints) {
    auto nan = Values();
    nan.fill(std::numeric_limits<double>::quiet_NaN());
    struct Case {
        const char* time;
        std::array<double, kFieldCount> values;
    };
    for (const Case& c :
         {Case{"", Values()}, Case{"2024-03-05", Values()},
          Case{"2024-02-30 00:00:00.000", Values()}, Case{"2024-03-05T14:07:09.250", Values()},
          Case{"2024-03-05 14:07:09.25x", Values()}, Case{"2024-03-05 14:07:09.250", nan}}) {
        std::string out = "kept";
        EXPECT_FALSE(AppendInfluxLine(out, "X", c.time, c.values)) << c.time;
        EXPECT_EQ(out, "kept") << c.time;
    }
}

TEST(InfluxLine, Timestamps) {
    struct Case {
        const char* text;
        std::int64_t ns;
    };
    for (const Case& c :
         {Case{"1970-01-01 00:00:00.000", 0}, Case{"1970-01-01 00:00:01", 1000000000},
          Case{"2000-02-29 23:59:59.999", 951868799999000000},
          Case{"2038-01-19 03:14:08.000", 2147483648000000000}}) {
        EXPECT_EQ(InfluxTimestamp(c.text), c.ns) << c.text;
    }
}

TEST(InfluxLine, Escaping) {
    struct Case {
        std::string_view text;
        bool measurement;
        const char* escaped;
    };
    for (const Case& c :
         {Case{"a b,c=d", false, "a\\ b\\,c\\=d"}, Case{"a b,c=d", true, "a\\ b\\,c=d"},
          Case{"a\\b", false, "a?b"}, Case{std::string_view("x\ny\0", 4), false, "x?y?"}}) {
        std::string out;
        AppendInfluxKey(out, c.text, c.measurement);
        EXPECT_EQ(out, c.escaped);
    }
    // A field left out leaves no empty field between its neighbours.
    auto v = Values();
    v[1] = std::numeric_limits<double>::infinity();
    std::string out;
    ASSERT_TRUE(AppendInfluxLine(out, "", "2024-03-05 14:07:09.250", v));
    EXPECT_TRUE(out.starts_with("tavrik OPS\\ mode=130,Packet\\ cnt=2,"));
}

} // namespace
