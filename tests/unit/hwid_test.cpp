#include <gtest/gtest.h>
#include <sys/mman.h>
#include <string.h>

#include "common/hwid.h"

namespace {

TEST(HwidMatch, CapitalsAndSuffixMatchOnlyTheirOwnId) {
    const char *entry = "USB\\VID_1F3C&PID_3A41&REV_0100";
    EXPECT_EQ(1, HwidMatch(entry, TargetHwid1));
    const char *second = "USB\\VID_1F3C&PID_3A42&MI_01";
    EXPECT_EQ(0, HwidMatch(second, TargetHwid1));
    EXPECT_EQ(1, HwidMatch(second, TargetHwid2));
    EXPECT_EQ(1, MatchTargetHwid(second, (DWORD)strlen(second)));
}

TEST(HwidMatch, RestartsRightAfterABrokenPartialMatch) {
    EXPECT_EQ(1, HwidMatch("UUSB\\Vid_1F3C&Pid_3A41", TargetHwid1));
    // A partial match breaking off where the whole pattern begins.
    EXPECT_EQ(1, HwidMatch("USB\\VidUSB\\Vid_1F3C&Pid_3A41", TargetHwid1));
    EXPECT_EQ(1, HwidMatch("aab", "ab"));
    EXPECT_EQ(1, HwidMatch("abab", "bab"));
    EXPECT_EQ(1, HwidMatch("xaaab", "aab"));
}

TEST(HwidMatch, ByteEqualityFoldsOnlyAsciiLetters) {
    EXPECT_EQ(1, HwidMatch("A", "a"));
    EXPECT_EQ(1, HwidMatch("a", "A"));
    EXPECT_EQ(0, HwidMatch("[", "{"));
    EXPECT_EQ(0, HwidMatch("{", "["));
    EXPECT_EQ(0, HwidMatch("\xC4", "\xE4"));
    EXPECT_EQ(0, HwidMatch("@", "`"));
    EXPECT_EQ(1, HwidMatch("\xE4", "\xE4"));
}

TEST(HwidMatch, NullAndEmptyGiveZero) {
    EXPECT_EQ(0, HwidMatch(nullptr, TargetHwid1));
    EXPECT_EQ(0, HwidMatch("abc", nullptr));
    EXPECT_EQ(0, HwidMatch("abc", ""));
    EXPECT_EQ(0, HwidMatch("", ""));
    EXPECT_EQ(0, HwidMatch("", "a"));
}

// The text ends the page: touching the byte after its NUL would fault.
TEST(HwidMatch, NeverReadsPastTheTextsEnd) {
    long page = 4096;
    char *block = (char *)mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, (void *)block);
    ASSERT_EQ(0, mprotect(block + page, page, PROT_NONE));
    const char prefix[] = "USB\\Vid_1F3C&Pid_3A4";  // a proper prefix of the pattern
    char *text = block + page - sizeof prefix;
    memcpy(text, prefix, sizeof prefix);
    EXPECT_EQ(0, HwidMatch(text, TargetHwid1));
    // Bounded form: an entry without its NUL at the very end of the data.
    char *raw = block + page - 21;
    memcpy(raw, TargetHwid2, 21);
    EXPECT_EQ(1, HwidMatchN(raw, 21, TargetHwid2));
    EXPECT_EQ(0, HwidMatchN(raw, 20, TargetHwid2));
    munmap(block, 2 * page);
}

}  // namespace
