#include <gtest/gtest.h>

#include <string>

#include "common/trace.h"
#include "winsim.h"

namespace {

std::string Format(const char *fmt, ...) {
    char buf[TRACE_BUFFER_SIZE];
    va_list ap;
    va_start(ap, fmt);
    FormatTextV(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

TEST(FormatText, GivesWsprintfText) {
    EXPECT_EQ("line: 307", Format("line: %d", 307));
    EXPECT_EQ("0x       5", Format("0x%8x", 5));
    EXPECT_EQ("0xe0000204", Format("0x%8x", 0xE0000204u));
    EXPECT_EQ("0xea", Format("0x%x", 0xEA));
    EXPECT_EQ("-13", Format("%d", -13));
    EXPECT_EQ("pPath: (null)\n", Format("pPath: %s\n", (const char *)nullptr));
    EXPECT_EQ("[D:], 1126", Format("[%s], %d", "D:", 1126));
    EXPECT_EQ("100%", Format("100%%"));
    EXPECT_EQ("0007|A", Format("%04d|%X", 7, 10));
}

TEST(FormatText, CutsWithoutOverrunAndSaysSo) {
    char buf[8];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(0, FormatText(buf, 6, "%s", "abcdefgh"));
    EXPECT_STREQ("abcde", buf);
    EXPECT_EQ('x', buf[6]);
    EXPECT_EQ(1, FormatText(buf, 6, "%s", "abcde"));
    EXPECT_STREQ("abcde", buf);
}

TEST(Trace, WritesOnePrefixLineBeforeEveryMessage) {
    sim::Reset();
    Trace("first\n");
    Trace("second %d\n", 2);
    const auto &d = sim::M().debug;
    ASSERT_EQ(4u, d.size());
    EXPECT_EQ(TracePrefix, d[0]);
    EXPECT_EQ("first\n", d[1]);
    EXPECT_EQ(TracePrefix, d[2]);
    EXPECT_EQ("second 2\n", d[3]);
}

TEST(Trace, CutsALongMessageAt127Characters) {
    sim::Reset();
    std::string id(200, 'A');
    Trace("Found! [%s]\n", id.c_str());
    ASSERT_EQ(2u, sim::M().debug.size());
    std::string msg = sim::M().debug[1];
    EXPECT_EQ(127u, msg.size());
    EXPECT_EQ("Found! [" + std::string(119, 'A'), msg);
    // 117 characters still fit with the closing "]\n".
    sim::Reset();
    Trace("Found! [%s]\n", std::string(117, 'B').c_str());
    EXPECT_EQ("Found! [" + std::string(117, 'B') + "]\n", sim::M().debug[1]);
}

}  // namespace
