#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "common/runlog.h"
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

// ---- the run log, against the layer's files ----

const char kLog[] = "C:\\Windows\\Omrak.log";
const char kOldLog[] = "C:\\Windows\\Omrak.old.log";

std::string Content(const char *path) {
    auto f = sim::M().files.find(path);
    return f == sim::M().files.end() ? "(none)" : f->second.content;
}

void RunOnce(const char *program, int exitCode) {
    OpenRunLog(program);
    Trace("Open Registry failed, Error code: 0x%8x\n, line: %d", 5, 307);
    Trace("pPath: %s\n", "C:\\Omrak");
    TraceBare("---OpenAP---");
    EndRunLog(exitCode);
}

std::string Block(const char *program, unsigned pid, int exitCode, const std::string &rotation = "") {
    std::string head = "2026-03-17 09:41:07.250 " + std::string(program) + "[" + std::to_string(pid) + "] ";
    return head + "== " + program + " " RELEASE_VERSION ", process " + std::to_string(pid) +
           ", session 1, 32-bit on 64-bit Windows: no, elevated: yes" + rotation + "\r\n" +
           head + "..Common - Test  Open Registry failed, Error code: 0x       5\\n, line: 307\r\n" +
           head + "..Common - Test  pPath: C:\\Omrak\r\n" + head + "---OpenAP---\r\n" + head +
           "== exit code " + std::to_string(exitCode) + "\r\n";
}

TEST(RunLog, AppendsOneBlockPerRunBesideTheUnchangedDebugOutput) {
    sim::Reset();
    sim::AddDirectory("C:\\Windows");
    RunOnce("Tidewell", 0);
    sim::NewProcess();
    RunOnce("Zorvane64", 1);
    EXPECT_EQ(Block("Tidewell", 0x200, 0) + Block("Zorvane64", 0x204, 1), Content(kLog));
    EXPECT_EQ((std::vector<std::string>{TracePrefix, "Open Registry failed, Error code: 0x       5\n, line: 307",
                                        TracePrefix, "pPath: C:\\Omrak\n", "---OpenAP---"}),
              sim::M().debug);
    EXPECT_TRUE(sim::OpenResources().empty() && sim::M().problems.empty());
}

// One run over a log and an older part as each row has them.
TEST(RunLog, RotatesOnlyTheFullLogItMeasuredAndNeverGrowsPastTwiceItsLimit) {
    const std::string full(RUN_LOG_LIMIT, 'a'), over = full + "a", older = "older\r\n";
    const std::string block = Block("Tidewell", 0x200, 0), refused = ", log not rotated: error ";
    const std::string cutBlock = Block("Tidewell", 0x200, 0, refused + "5");
    const std::string header = cutBlock.substr(0, cutBlock.find("\r\n") + 2);
    // Room for the header and 60 bytes: the next line does not fit, a
    // later shorter one would.
    const std::string nearlyTwice(2 * RUN_LOG_LIMIT - header.size() - 60, 'a');
    HANDLE reader = INVALID_HANDLE_VALUE;
    struct Row {
        const char *what;
        std::string log;
        DWORD oldAttributes;  // the older part's, "older" in it unless a folder
        std::function<void()> more;
        std::string wantLog, wantOld;
    } rows[] = {
        {"at the limit: it grows", full, FILE_ATTRIBUTE_ARCHIVE, nullptr, full + block, older},
        {"over it: renamed, the older part replaced", over, FILE_ATTRIBUTE_ARCHIVE, nullptr, block, over},
        {"a read-only older part is replaced all the same", over, FILE_ATTRIBUTE_READONLY, nullptr, block, over},
        {"read by a program that does not share its deletion: it grows on", over, FILE_ATTRIBUTE_ARCHIVE,
         [&] { reader = CreateFileA(kLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL); },
         over + Block("Tidewell", 0x200, 0, refused + "32"), older},
        {"a folder in the older part's place: no line past twice the limit", nearlyTwice,
         FILE_ATTRIBUTE_DIRECTORY, nullptr, nearlyTwice + header, ""},
        // Both opened it full; the other renamed it and began a new one.
        {"rotated by another program between this run's opening and its own rotation", over,
         FILE_ATTRIBUTE_ARCHIVE,
         [] {
             sim::OtherProgramBefore("GetFileInformationByHandle", 1, [] {
                 MoveFileExA(kLog, kOldLog, MOVEFILE_REPLACE_EXISTING);
                 DWORD written = 0;
                 HANDLE h = CreateFileA(kLog, FILE_APPEND_DATA, 7, NULL, OPEN_ALWAYS, 0, NULL);
                 WriteFile(h, "other\r\n", 7, &written, NULL);
                 CloseHandle(h);
             });
         },
         "other\r\n" + block, over},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        sim::Reset();
        sim::AddDirectory("C:\\Windows");
        sim::AddFile(kLog, r.log);
        sim::AddFile(kOldLog, r.oldAttributes & FILE_ATTRIBUTE_DIRECTORY ? "" : older, r.oldAttributes);
        if (r.more) r.more();
        RunOnce("Tidewell", 0);
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        reader = INVALID_HANDLE_VALUE;
        const std::string log = Content(kLog), old = Content(kOldLog);
        EXPECT_TRUE(log == r.wantLog) << log.size() << " bytes, ending " << log.substr(log.size() - std::min<size_t>(log.size(), 300));
        EXPECT_TRUE(old == r.wantOld) << old.size() << " bytes, starting " << old.substr(0, 40);
        EXPECT_TRUE(sim::OpenResources().empty() && sim::M().problems.empty());
    }
}

TEST(RunLog, WritesNothingThroughAReparsePointNorWithoutTheRights) {
    sim::Reset();
    sim::AddDirectory("C:\\Windows");
    sim::AddFile(kLog, "", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
    RunOnce("Tidewell", 0);
    EXPECT_EQ("", Content(kLog));
    sim::M().files.erase(kLog);
    sim::M().elevated = false;
    RunOnce("Tidewell", 0);
    EXPECT_EQ("(none)", Content(kLog));
    EXPECT_EQ(10u, sim::M().debug.size());  // the traces all the same
    EXPECT_TRUE(sim::OpenResources().empty() && sim::M().problems.empty());
}

}  // namespace
