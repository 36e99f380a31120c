// The INF folder sweep: GetFirstField, ScanInfFile and SweepInfFolder run
// directly against the simulated layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/trace.h"
#include "uninstaller/tidewell.h"
#include "winsim.h"

namespace {

typedef std::vector<std::string> Texts;

const char kPrefix[] = "..Tidewell - Omrak";
const char kInf[] = "C:\\Windows\\inf\\";
const char kHeader[] = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n";
const char kStrings[] = "[Strings]\r\nMfg=\"Omrak Mobile Ltd.\"\r\nModem=\"Omrak USB Modem\"\r\n";

std::string Path(const std::string &name) { return kInf + name; }

// An INF file with the given [Manufacturer] body and further sections.
std::string Inf(const std::string &manufacturer, const std::string &rest) {
    return std::string(kHeader) + "[Manufacturer]\r\n" + manufacturer + "\r\n" + rest + kStrings;
}

Texts Found(const std::string &path, const std::string &line) {
    return {"---Find file contain our HWID---\n", "File full name: " + path + "\n",
            "Device context: " + line + "\n"};
}

Texts Refused(const std::string &path) {
    return {"INVALID_HANDLE_VALUE, line: 210", "pFileName: " + path};
}

class Sweep : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STREQ(kPrefix, TracePrefix);
        sim::Reset();
        run = RUN();
        sim::AddDirectory("C:\\Windows");
        sim::AddDirectory("C:\\Windows\\inf");
    }
    void TearDown() override {
        FreeRun(&run);
        EXPECT_TRUE(sim::OpenResources().empty()) << sim::OpenResources()[0];
        EXPECT_TRUE(sim::M().problems.empty()) << sim::M().problems[0];
    }
    static Texts Msgs() { return sim::Messages(kPrefix); }

    // The run the sweep works for.
    RUN run;

    // Scans one file of the inf folder.
    Texts Scan(const std::string &name, const std::string &content,
                      DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
        sim::AddFile(Path(name), content, attributes);
        ScanInfFile(&run, Path(name).c_str());
        return Msgs();
    }
};

// ---- GetFirstField ----

class FirstField : public Sweep {
protected:
    // The context of the only line of [S], holding text.
    INFCONTEXT &Line(const std::string &text) {
        sim::AddFile(Path("f.inf"), std::string(kHeader) + "[S]\r\n" + text + "\r\n");
        hInf_ = SetupOpenInfFileA(Path("f.inf").c_str(), NULL, 3, NULL);
        EXPECT_NE(INVALID_HANDLE_VALUE, hInf_);
        EXPECT_TRUE(SetupFindFirstLineA(hInf_, "S", NULL, &ctx_));
        return ctx_;
    }
    void TearDown() override {
        SetupCloseInfFile(hInf_);
        Sweep::TearDown();
    }
    HINF hInf_ = INVALID_HANDLE_VALUE;
    INFCONTEXT ctx_;
};

TEST_F(FirstField, SizeFirstThenCopyOnlyIntoABufferThatHoldsIt) {
    INFCONTEXT &ctx = Line("k=a,b");  // line text "a,b", 4 bytes with the NUL
    DWORD size = 0;
    EXPECT_EQ(1, GetFirstField(&ctx, NULL, 0, &size));
    EXPECT_EQ(2u, size);
    char one[1] = {'#'};
    size = 0;
    EXPECT_EQ(1, GetFirstField(&ctx, one, sizeof one, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ('#', one[0]) << "nothing copied into too small a buffer";
    char two[3] = {'#', '#', '#'};
    size = 0;
    EXPECT_EQ(1, GetFirstField(&ctx, two, 2, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(std::string("a\0#", 3), std::string(two, 3));
}

TEST_F(FirstField, WithoutACommaTheFieldIsTheWholeText) {
    INFCONTEXT &ctx = Line("Omrak");
    DWORD size = 0;
    EXPECT_EQ(1, GetFirstField(&ctx, NULL, 0, &size));
    EXPECT_EQ(6u, size);
    char field[6];
    EXPECT_EQ(1, GetFirstField(&ctx, field, sizeof field, &size));
    EXPECT_STREQ("Omrak", field);
}

TEST_F(FirstField, FailedReadsLeaveTheSizeUnwritten) {
    INFCONTEXT &ctx = Line("k=Models,NTamd64");
    // The size query, the read of the text and the work buffer in turn.
    const std::pair<const char *, int> faults[] = {
        {"SetupGetLineTextA", 1}, {"SetupGetLineTextA", 2}, {"LocalAlloc", 1}};
    for (const auto &f : faults) {
        int before = sim::Calls(f.first);
        sim::FailCall(f.first, before + f.second);
        DWORD size = 77;
        EXPECT_EQ(0, GetFirstField(&ctx, NULL, 0, &size)) << f.first << " " << f.second;
        EXPECT_EQ(77u, size);
        EXPECT_EQ(0u, sim::HeapBytesNow());
    }
}

// ---- ScanInfFile ----

TEST_F(Sweep, SecondTargetInCapitalsWithInterfaceSuffixDeletesTheFile) {
    sim::M().driverStore.insert("oem3.inf");
    Texts msgs = Scan("oem3.inf", Inf("%Mfg%=Omrak,NTamd64",
                                      "[Omrak]\r\n%Modem%=Modem_Install,USB\\VID_1F3C&PID_3A42&MI_02\r\n"));
    EXPECT_EQ(Found(Path("oem3.inf"), "Modem_Install,USB\\VID_1F3C&PID_3A42&MI_02"), msgs);
    EXPECT_FALSE(sim::FileExists(Path("oem3.inf")));
    // An OEM INF leaves through the driver store's own uninstall.
    EXPECT_EQ(std::vector<std::string>{"oem3.inf flags=1"}, sim::Arguments("SetupUninstallOEMInfA"));
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
}

TEST_F(Sweep, TargetInALaterFieldOrThroughStringsDeletesTheFile) {
    Texts msgs = Scan("later.inf", Inf("%Mfg%=Omrak",
                                       "[Omrak]\r\n%Modem%=Modem_Install,USB\\Vid_0BDA&Pid_8152,"
                                       "USB\\Class_02,USB\\Vid_1F3C&Pid_3A41&Rev_0100\r\n"));
    EXPECT_EQ(Found(Path("later.inf"),
                    "Modem_Install,USB\\Vid_0BDA&Pid_8152,USB\\Class_02,USB\\Vid_1F3C&Pid_3A41&Rev_0100"),
              msgs);
    sim::M().debug.clear();
    msgs = Scan("strings.inf", Inf("%Mfg%=Omrak", "[Omrak]\r\n%Modem%=Modem_Install,%Hwid%\r\n") +
                                   "Hwid=\"USB\\Vid_1F3C&Pid_3A41\"\r\n");
    EXPECT_EQ(Found(Path("strings.inf"), "Modem_Install,USB\\Vid_1F3C&Pid_3A41"), msgs);
    EXPECT_FALSE(sim::FileExists(Path("later.inf")));
    EXPECT_FALSE(sim::FileExists(Path("strings.inf")));
    // Names that are not OEM INF names are deleted by hand.
    EXPECT_EQ(0, sim::Calls("SetupUninstallOEMInfA"));
    EXPECT_EQ(2, sim::Calls("DeleteFileA"));
}

TEST_F(Sweep, ReadOnlyMatchingFileIsDeleted) {
    Scan("ro.inf", Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n"),
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(sim::FileExists(Path("ro.inf")));
}

TEST_F(Sweep, FilesWhoseModelsSectionDoesNotNameTheTargetStaySilently) {
    const std::string models = "%Modem%=Modem_Install,USB\\Vid_1F3C&Pid_3A41\r\n";
    const std::pair<const char *, std::string> kept[] = {
        {"decorated.inf",
         Inf("%Mfg%=Omrak,NTx86,NTamd64", "[Omrak.NTx86]\r\n" + models + "[Omrak.NTamd64]\r\n" + models)},
        {"second.inf", Inf("%Mfg%=Other\r\n%Mfg%=Omrak", "[Other]\r\nx=y,USB\\Vid_0000\r\n[Omrak]\r\n" + models)},
        {"comment.inf", Inf("%Mfg%=Omrak", "[Omrak]\r\n;" + models + "x=y ; USB\\Vid_1F3C&Pid_3A42\r\n")},
        {"key.inf", Inf("%Mfg%=Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41=Install,USB\\Vid_0000\r\n")},
        {"nomodels.inf", Inf("%Mfg%=Omrak", "")},
        {"emptymodels.inf", Inf("%Mfg%=Omrak", "[Omrak]\r\n; none\r\n")},
        {"nomfg.inf", std::string(kHeader) + "[Omrak]\r\n" + models},
        {"emptymfg.inf", Inf("; none", "[Omrak]\r\n" + models)},
    };
    for (const auto &k : kept) {
        sim::AddFile(Path(k.first), k.second);
        ScanInfFile(&run, Path(k.first).c_str());
        EXPECT_TRUE(sim::FileExists(Path(k.first))) << k.first;
    }
    EXPECT_EQ(Texts(), Msgs());
    EXPECT_EQ(0, sim::Calls("DeleteFileA"));
}

TEST_F(Sweep, RefusedFileOrDirectoryIsTracedWith210) {
    EXPECT_EQ(Refused(Path("nosig.inf")), Scan("nosig.inf", "[Manufacturer]\r\nOmrak\r\n[Omrak]\r\n"
                                                            "USB\\Vid_1F3C&Pid_3A41\r\n"));
    sim::M().debug.clear();
    sim::AddDirectory(Path("x.inf"));
    ScanInfFile(&run, Path("x.inf").c_str());
    EXPECT_EQ(Refused(Path("x.inf")), Msgs());
    EXPECT_TRUE(sim::FileExists(Path("nosig.inf")));
}

TEST_F(Sweep, NoLineAfterTheMatchIsRead) {
    Scan("two.inf", Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\nUSB\\Vid_1F3C&Pid_3A42\r\nx\r\n"));
    // Two reads for each of the two GetFirstField calls, two for the first line.
    EXPECT_EQ(6, sim::Calls("SetupGetLineTextA"));
    EXPECT_EQ(0, sim::Calls("SetupFindNextLine"));
    EXPECT_EQ(3u, Msgs().size());
}

TEST_F(Sweep, FailedDeletionIsNotTracedAndTheHandleStillCloses) {
    sim::FailCall("DeleteFileA");
    sim::FailCall("SetFileAttributesA");
    Texts msgs = Scan("busy.inf", Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n"));
    EXPECT_EQ(Found(Path("busy.inf"), "USB\\Vid_1F3C&Pid_3A41"), msgs);
    EXPECT_TRUE(sim::FileExists(Path("busy.inf")));
}

TEST_F(Sweep, LineThatCannotBeReadIsPassedOverOneThatCannotBeSizedEndsTheScan) {
    const std::string content = Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41&MI_00\r\nUSB\\Vid_1F3C&Pid_3A41&MI_01\r\n");
    // Calls 1-4 read the manufacturer line; 5 sizes the first models line, 6 reads it.
    sim::FailCall("SetupGetLineTextA", 6);
    EXPECT_EQ(Found(Path("a.inf"), "USB\\Vid_1F3C&Pid_3A41&MI_01"), Scan("a.inf", content));
    SetUp();
    sim::FailCall("LocalAlloc", 4);  // the first line's buffer
    EXPECT_EQ(Found(Path("b.inf"), "USB\\Vid_1F3C&Pid_3A41&MI_01"), Scan("b.inf", content));
    SetUp();
    sim::FailCall("SetupGetLineTextA", 5);
    EXPECT_EQ(Texts(), Scan("c.inf", content));
    EXPECT_TRUE(sim::FileExists(Path("c.inf")));
    EXPECT_EQ(0, sim::Calls("SetupFindNextLine"));
}

TEST_F(Sweep, ManufacturerLineThatCannotBeReadEndsTheScan) {
    const std::string content = Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n");
    for (int nth = 1; nth <= 4; ++nth) {
        SetUp();
        sim::FailCall("SetupGetLineTextA", nth);
        EXPECT_EQ(Texts(), Scan("m.inf", content)) << nth;
        EXPECT_TRUE(sim::FileExists(Path("m.inf")));
    }
    SetUp();
    sim::FailCall("LocalAlloc", 2);  // the section-name buffer
    EXPECT_EQ(Texts(), Scan("m.inf", content));
}

// Every file of tests/inf, one at a time: the name says what the sweep does
// with it (target-* and windows-* are deleted, keep-* stay silently,
// reject-* are refused by SetupOpenInfFileA).
TEST_F(Sweep, TestInfFilesAreJudgedByTheirNames) {
    std::vector<std::filesystem::path> entries;
    for (const auto &e : std::filesystem::directory_iterator(INF_TEST_DIR))
        if (e.path().extension() == ".inf") entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    ASSERT_GE(entries.size(), 30u);
    for (const auto &e : entries) {
        SetUp();
        std::string name = e.filename().string(), path = Path(name);
        if (std::filesystem::is_directory(e)) {
            sim::AddDirectory(path);
        } else {
            std::ifstream in(e, std::ios::binary);
            sim::AddFile(path, std::string(std::istreambuf_iterator<char>(in), {}));
        }
        // The wider rule of the record and the store work reads every models
        // section [Manufacturer] names; the look at the raw bytes never hides
        // a file that either rule takes.
        const bool wider = name.rfind("target-", 0) == 0 || name.rfind("windows-", 0) == 0 ||
                           name == "keep-decorated-only.inf" || name == "keep-second-manufacturer.inf";
        INF_PRINT print{};
        UINT errorLine = 0;
        HINF hInf = SetupOpenInfFileA(path.c_str(), NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
        if (hInf != INVALID_HANDLE_VALUE) {
            char *pLine = nullptr;
            DWORD error = 1;
            EXPECT_EQ(wider, FindProductModelsLine(hInf, &pLine, &error) != 0) << name;
            EXPECT_EQ(0u, error) << name;
            if (pLine) LocalFree(pLine);
            SetupCloseInfFile(hInf);
            if (wider) EXPECT_TRUE(ReadInfPrint(path.c_str(), &print, FALSE) && print.MayNameProduct) << name;
        } else if (name == "reject-utf16-big-endian.inf") {
            // Refused by the reader, but the raw bytes do name the product.
            EXPECT_TRUE(ReadInfPrint(path.c_str(), &print, FALSE) && print.MayNameProduct) << name;
        }
        ScanInfFile(&run, path.c_str());
        Texts msgs = Msgs();
        if (name.rfind("target-", 0) == 0 || name.rfind("windows-", 0) == 0) {
            ASSERT_EQ(3u, msgs.size()) << name;
            EXPECT_EQ(Found(path, "")[1], msgs[1]) << name;
            std::string context = msgs[2];
            for (auto &c : context) c = (char)toupper((unsigned char)c);
            EXPECT_EQ(0u, context.find("DEVICE CONTEXT: ")) << name;
            if (context.size() < 127)  // else cut to the trace buffer before the ID
                EXPECT_NE(std::string::npos, context.find("USB\\VID_1F3C&PID_3A4")) << name << msgs[2];
            EXPECT_FALSE(sim::FileExists(path)) << name;
        } else if (name.rfind("keep-", 0) == 0) {
            EXPECT_EQ(Texts(), msgs) << name;
            EXPECT_TRUE(sim::FileExists(path)) << name;
        } else {
            ASSERT_EQ(0u, name.rfind("reject-", 0)) << name;
            EXPECT_EQ(Refused(path), msgs) << name;
            EXPECT_TRUE(sim::FileExists(path)) << name;
        }
        TearDown();
    }
}

// ---- SweepInfFolder ----

TEST_F(Sweep, OneSweepDeletesEveryMatchingFileAndGoesOnPastRefusals) {
    sim::AddFile(Path("b.inf"), Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A42\r\n"), FILE_ATTRIBUTE_READONLY);
    sim::AddFile(Path("A.INF"), Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n"));
    sim::AddFile(Path("c.inf"), Inf("Omrak", "[Omrak]\r\nUSB\\Vid_0BDA&Pid_8152\r\n"));
    sim::AddDirectory(Path("d.inf"));
    sim::AddFile(Path("e.inf"), "not an INF");
    sim::AddFile(Path("f.inf"), Inf("Omrak", "[Omrak]\r\nusb\\vid_1f3c&pid_3a41\r\n"));
    sim::AddFile(Path("g.pnf"), Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n"));
    SweepInfFolder(&run);
    Texts expected;
    for (const Texts &t : {Found(Path("A.INF"), "USB\\Vid_1F3C&Pid_3A41"),
                           Found(Path("b.inf"), "USB\\Vid_1F3C&Pid_3A42"), Refused(Path("d.inf")),
                           Refused(Path("e.inf")), Found(Path("f.inf"), "usb\\vid_1f3c&pid_3a41")})
        expected.insert(expected.end(), t.begin(), t.end());
    EXPECT_EQ(expected, Msgs());
    for (const char *gone : {"A.INF", "b.inf", "f.inf"}) EXPECT_FALSE(sim::FileExists(Path(gone))) << gone;
    EXPECT_EQ(6u, sim::Arguments("SetupOpenInfFileA").size());
    for (const auto &a : sim::Arguments("SetupOpenInfFileA")) EXPECT_EQ("style=3", a);
    for (const char *kept : {"c.inf", "d.inf", "e.inf", "g.pnf"}) EXPECT_TRUE(sim::FileExists(Path(kept))) << kept;
}

TEST_F(Sweep, FolderWithoutInfEntriesIsTracedWith383) {
    sim::AddFile(Path("oem1.pnf"), "x");
    sim::AddFile(Path("setupapi.dev.log"), "x");
    SweepInfFolder(&run);
    EXPECT_EQ(Texts({"Get file list failed, line: 383\n"}), Msgs());
    EXPECT_EQ(0, sim::Calls("SetupOpenInfFileA"));
    sim::Reset();
    sim::AddDirectory("C:\\Windows");  // no inf folder at all
    SweepInfFolder(&run);
    EXPECT_EQ(Texts({"Get file list failed, line: 383\n"}), Msgs());
}

TEST_F(Sweep, AllocationFailuresAreTracedWithTheirLine) {
    sim::AddFile(Path("a.inf"), Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n"));
    const int lines[] = {360, 366, 372};
    for (int nth = 1; nth <= 3; ++nth) {
        sim::M().debug.clear();
        sim::FailCall("LocalAlloc", sim::Calls("LocalAlloc") + nth);
        SweepInfFolder(&run);
        EXPECT_EQ(Texts({"Malloc failed, line: " + std::to_string(lines[nth - 1]) + "\n"}), Msgs());
        EXPECT_EQ(0u, sim::HeapBytesNow());
    }
    EXPECT_EQ(0, sim::Calls("FindFirstFileA"));
    EXPECT_TRUE(sim::FileExists(Path("a.inf")));
}

TEST_F(Sweep, UnreadableWindowsFolderEndsTheSweepBeforeAnySearch) {
    sim::AddFile(Path("a.inf"), Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n"));
    sim::M().windowsDirFails = true;
    SweepInfFolder(&run);
    sim::M().windowsDirFails = false;
    sim::M().windowsDir = "C:\\" + std::string(300, 'w');  // does not fit 260 bytes
    SweepInfFolder(&run);
    EXPECT_EQ(0, sim::Calls("FindFirstFileA"));
    EXPECT_EQ(Texts(), Msgs());
    EXPECT_TRUE(sim::FileExists(Path("a.inf")));
}

TEST_F(Sweep, EntryWhosePathDoesNotFitIsPassedOver) {
    const std::string dir = "C:\\" + std::string(200, 'w');  // 203 characters
    sim::Reset();
    sim::M().windowsDir = dir;
    sim::AddDirectory(dir);
    sim::AddDirectory(dir + "\\inf");
    const std::string content = Inf("Omrak", "[Omrak]\r\nUSB\\Vid_1F3C&Pid_3A41\r\n");
    const std::string fits = dir + "\\inf\\" + std::string(47, 'f') + ".inf";  // 259 characters
    const std::string tooLong = dir + "\\inf\\" + std::string(48, 'l') + ".inf";
    sim::AddFile(fits, content);
    sim::AddFile(tooLong, content);
    SweepInfFolder(&run);
    EXPECT_FALSE(sim::FileExists(fits));
    EXPECT_TRUE(sim::FileExists(tooLong));
    EXPECT_EQ(1, sim::Calls("SetupOpenInfFileA"));
    ASSERT_EQ(3u, Msgs().size());
    EXPECT_EQ(("File full name: " + fits + "\n").substr(0, 127), Msgs()[1]) << "cut to the trace buffer";
}

}  // namespace
