// Whole runs of the uninstaller over an inf folder that holds what it should
// not: entries that are not INF files, names and lines longer than any of the
// program's buffers, format characters, a Windows folder too long for the
// search pattern. The sweep must go on past each, delete only INF files that
// name the product, and never write past a buffer.
#include "tidewell_fixture.h"

namespace {

using namespace tw;

class BadInfFolder : public TidewellTest {
protected:
    static std::string ProductInf(const std::string &modelsLine, const std::string &models = "Models") {
        return "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nOmrak=" + models +
               "\r\n[" + models + "]\r\n" + modelsLine + "\r\n";
    }
    static size_t CountMsg(const std::string &m) {
        size_t n = 0;
        for (const auto &x : Msgs()) n += x == m;
        return n;
    }
};

TEST_F(BadInfFolder, EntriesThatAreNotInfFilesAreReportedKeptAndPassed) {
    sim::AddDirectory(InfPath("backup.inf"));
    sim::AddFile(InfPath("empty.inf"), "");
    sim::AddFile(InfPath("notes.inf"), "Not INF lines.\r\nUSB\\Vid_1F3C&Pid_3A41\r\n");
    sim::AddFile(InfPath("binary.inf"), std::string("\x00\xff\xfe\x01[Manufacturer]\x00", 20));
    sim::AddFile(InfPath("oem9.inf"), ProductInf("M=I,USB\\Vid_1F3C&Pid_3A41"));

    EXPECT_EQ(0, RunTidewell());
    for (const char *name : {"backup.inf", "empty.inf", "notes.inf"}) {
        EXPECT_TRUE(sim::FileExists(InfPath(name))) << name;
        size_t at = IndexOfMsg("pFileName: " + InfPath(name));
        ASSERT_NE(std::string::npos, at) << name << "\n" << Join(Msgs());
        EXPECT_EQ("INVALID_HANDLE_VALUE, line: 210", Msgs()[at - 1]);
    }
    EXPECT_TRUE(sim::FileExists(InfPath("binary.inf")));
    // The sweep went on past them: the product's INF, last in the folder, went.
    EXPECT_FALSE(sim::FileExists(InfPath("oem9.inf")));
    EXPECT_EQ(1u, CountMsg("---Find file contain our HWID---\n"));
}

// "C:\Windows\inf\" takes 15 bytes: a name of 244 characters gives a full path
// of 259 and its terminator; one more character and the path would be cut
// into another file's name.
TEST_F(BadInfFolder, EntryWhosePathDoesNotFitIsPassedOverUntouched) {
    std::string fits = std::string(240, 'a') + ".inf";
    std::string tooLong = std::string(241, 'b') + ".inf";
    std::string longest = std::string(251, 'c') + ".inf";  // the longest name Windows allows
    for (const auto &name : {fits, tooLong, longest})
        sim::AddFile(InfPath(name), ProductInf("M=I,USB\\Vid_1F3C&Pid_3A42"));

    EXPECT_EQ(0, RunTidewell());
    EXPECT_FALSE(sim::FileExists(InfPath(fits)));
    EXPECT_TRUE(sim::FileExists(InfPath(tooLong)));
    EXPECT_TRUE(sim::FileExists(InfPath(longest)));
    EXPECT_EQ(1u, CountMsg("---Find file contain our HWID---\n"));
    // The match trace of the long path is cut to the trace buffer.
    for (const auto &m : Msgs()) EXPECT_LE(m.size(), 127u) << m;
}

TEST_F(BadInfFolder, WindowsFolderTooLongForThePatternEndsTheSweepQuietly) {
    // 250 characters: "%s\inf\*.inf" needs 261 bytes with its terminator.
    std::string dir = "C:\\" + std::string(247, 'w');
    sim::M().windowsDir = dir;
    sim::AddDirectory(dir);
    sim::AddDirectory(dir + "\\inf");
    sim::AddFile(dir + "\\inf\\oem1.inf", ProductInf("M=I,USB\\Vid_1F3C&Pid_3A41"));

    EXPECT_EQ(0, RunTidewell());
    EXPECT_TRUE(sim::FileExists(dir + "\\inf\\oem1.inf"));
    EXPECT_EQ(0, sim::Calls("FindFirstFileA"));
    ASSERT_FALSE(Msgs().empty());
    EXPECT_EQ("Need search..\n", Msgs().back());
}

TEST_F(BadInfFolder, LinesAndSectionNamesLongerThanAnyBuffer) {
    // The product's ID at the end of a 3000-character line, in a models
    // section with the longest name Windows allows.
    std::string section(255, 'S');
    std::string line = "M=I," + std::string(3000, 'x') + ",USB\\VID_1F3C&PID_3A41&MI_00";
    sim::AddFile(InfPath("oem1.inf"), ProductInf(line, section));
    // The ID split over two fields by a comma is no match.
    sim::AddFile(InfPath("oem2.inf"), ProductInf("M=I,USB\\Vid_1F3C,&Pid_3A41"));

    EXPECT_EQ(0, RunTidewell());
    EXPECT_FALSE(sim::FileExists(InfPath("oem1.inf")));
    EXPECT_TRUE(sim::FileExists(InfPath("oem2.inf")));
    size_t at = IndexOfMsg("---Find file contain our HWID---\n");
    ASSERT_NE(std::string::npos, at);
    ASSERT_LT(at + 2, Msgs().size());
    std::string context = Msgs()[at + 2];
    EXPECT_EQ(127u, context.size());
    EXPECT_EQ(0u, context.find("Device context: I,xxx")) << context;
}

TEST_F(BadInfFolder, FormatCharactersInNamesAndLinesAreText) {
    std::string name = "%s%n%x%%.inf";
    sim::AddFile(InfPath(name), ProductInf("M=%s%n,USB\\Vid_1F3C&Pid_3A41 %d"));

    EXPECT_EQ(0, RunTidewell());
    EXPECT_FALSE(sim::FileExists(InfPath(name)));
    EXPECT_TRUE(HasMsg("File full name: " + InfPath(name) + "\n")) << Join(Msgs());
}

}  // namespace
