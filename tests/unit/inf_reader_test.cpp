// The simulated layer's INF reader: what SetupOpenInfFileA accepts and
// rejects, what SetupGetLineTextA returns for a line, and the handle account.
// (tests/infdiff holds it to Wine's SetupAPI over whole files; these tests
// pin the rules one by one, including where the layer follows Windows.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winsim.h"

namespace {

const char kHeader[] = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
const char kPath[] = "C:\\Windows\\inf\\t.inf";

class InfReader : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::AddDirectory("C:\\Windows");
        sim::AddDirectory("C:\\Windows\\inf");
    }
    void TearDown() override {
        for (HINF h : open_) SetupCloseInfFile(h);
        EXPECT_TRUE(sim::OpenResources().empty());
        EXPECT_TRUE(sim::M().problems.empty());
    }

    // Opens bytes as C:\Windows\inf\t.inf; INVALID_HANDLE_VALUE with error_ set when refused.
    HINF Open(const std::string &bytes, DWORD style = INF_STYLE_OLDNT | INF_STYLE_WIN4) {
        sim::AddFile(kPath, bytes);
        errorLine_ = 0xDEAD;
        HINF h = SetupOpenInfFileA(kPath, NULL, style, &errorLine_);
        error_ = GetLastError();
        if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
        return h;
    }

    // Every line text of a section, read with the size protocol.
    std::vector<std::string> Lines(HINF h, const char *section) {
        std::vector<std::string> out;
        INFCONTEXT ctx;
        if (!SetupFindFirstLineA(h, section, NULL, &ctx)) return out;
        do {
            DWORD size = 0;
            EXPECT_TRUE(SetupGetLineTextA(&ctx, NULL, NULL, NULL, NULL, 0, &size));
            std::string text(size, '\x55');
            EXPECT_TRUE(SetupGetLineTextA(&ctx, NULL, NULL, NULL, &text[0], size, NULL));
            EXPECT_EQ('\0', text.back());
            text.pop_back();
            EXPECT_EQ(text.size(), strlen(text.c_str())) << "no NUL inside the text";
            out.push_back(text);
        } while (SetupFindNextLine(&ctx, &ctx));
        EXPECT_EQ(ERROR_LINE_NOT_FOUND, GetLastError());
        return out;
    }

    // The line texts of [S] in a file made of the header and body.
    std::vector<std::string> Read(const std::string &body) {
        HINF h = Open(kHeader + body);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << std::hex << error_;
        return h == INVALID_HANDLE_VALUE ? std::vector<std::string>() : Lines(h, "S");
    }

    std::vector<HINF> open_;
    DWORD error_ = 0;
    UINT errorLine_ = 0;
};

typedef std::vector<std::string> Texts;

TEST_F(InfReader, RefusesWhatSetupApiRefusesWithItsError) {
    struct Case {
        std::string bytes;
        DWORD error;
        UINT line;
    } cases[] = {
        {"", ERROR_FILE_INVALID, 0xDEAD},
        {"\r\n  \r\n", ERROR_WRONG_INF_STYLE, 0},
        {"[Version]\r\nSignature=$Windows 98$\r\n[S]\r\na=b\r\n", ERROR_WRONG_INF_STYLE, 0},
        {"[Version]\r\nClass=Modem\r\n", ERROR_WRONG_INF_STYLE, 0},
        {"[Version]\r\nSignature=%Sig%\r\n[Strings]\r\nSig=$Chicago$\r\n", ERROR_WRONG_INF_STYLE, 0},
        {";banner\r\nstray text\r\n" + std::string(kHeader), ERROR_EXPECTED_SECTION_NAME, 2},
        {std::string(kHeader) + "[S]\r\n[Broken\r\n", ERROR_BAD_SECTION_NAME_LINE, 4},
        {std::string(kHeader) + "[" + std::string(256, 'n') + "]\r\n", ERROR_SECTION_NAME_TOO_LONG, 3},
        // Only stray text, no section: Windows blames the missing signature
        // (Wine: ERROR_EXPECTED_SECTION_NAME).
        {"just some text\r\n", ERROR_WRONG_INF_STYLE, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open(c.bytes)) << c.bytes;
        EXPECT_EQ(c.error, error_) << c.bytes;
        EXPECT_EQ(c.line, errorLine_) << c.bytes;
    }
    sim::AddDirectory("C:\\Windows\\inf\\dir.inf");
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupOpenInfFileA("C:\\Windows\\inf\\dir.inf", NULL, 3, NULL));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupOpenInfFileA("C:\\Windows\\inf\\none.inf", NULL, 3, NULL));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupOpenInfFileA("C:\\Nowhere\\none.inf", NULL, 3, NULL));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(InfReader, AcceptsTheSignaturesAndToleratesStrayTextBeforeStrings) {
    const char *accepted[] = {
        "[version]\r\nsignature=$CHICAGO$\r\n",
        "[Version]\r\nSignature=\"$Windows 95$\",extra\r\n",
        "[Version]\r\nClass=Modem\r\n[Other]\r\n[VERSION]\r\nSignature=$windows nt$\r\n",
        "stray text\r\n[Strings]\r\n[Version]\r\nSignature=$Chicago$\r\n",
        "stray [Strings] text ; [x\r\n[Version]\r\nSignature=$Chicago$\r\n",  // "[" mid-line opens one
    };
    for (const char *bytes : accepted) {
        EXPECT_NE(INVALID_HANDLE_VALUE, Open(bytes)) << bytes << std::hex << error_;
        EXPECT_EQ((DWORD)ERROR_SUCCESS, error_);
    }
    // Without INF_STYLE_WIN4 the signature is not required.
    EXPECT_NE(INVALID_HANDLE_VALUE, Open("[S]\r\na=b\r\n", INF_STYLE_OLDNT));
}

TEST_F(InfReader, BareFileNameIsLookedForInTheInfFolder) {
    sim::AddFile("C:\\Windows\\inf\\oem7.inf", std::string(kHeader) + "[S]\r\nk=v\r\n");
    HINF h = SetupOpenInfFileA("oem7.inf", NULL, 3, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    open_.push_back(h);
    EXPECT_EQ(Texts({"v"}), Lines(h, "s"));
}

TEST_F(InfReader, LineTextIsTheFieldsAfterTheKeyJoinedByCommas) {
    EXPECT_EQ(Texts({"some value,second", "a,b,c", "whole line,no key", ",,x", "", "b=c"}),
              Read("[S]\r\nkey=some value, second\r\nk = a , b,c\r\nwhole line, no key\r\n"
                   "k=,,x\r\nk=\r\na=b=c\r\n"));
}

TEST_F(InfReader, QuotesCommentsAndWhiteSpace) {
    EXPECT_EQ(Texts({"Omrak, Inc.,USB\\Vid_1F3C", "say \"hi\";", "a;b", "x y z", "  padded ", "tail"}),
              Read("[S]\r\n\"Omrak, Inc.\"=\"Omrak, Inc.\",USB\\Vid_1F3C ; comment, USB\\Vid_0000\r\n"
                   "k=\"say \"\"hi\"\";\"\r\n"
                   "k=\"a;b\"\r\n"
                   "k=\t x y \"z\"\t \r\n"
                   "k=\"  padded \"\r\n"
                   "; USB\\Vid_1F3C&Pid_3A41 only in a comment\r\n"
                   "k=tail\r\n"));
    // White space is Unicode's, not the 0x1C-0x1F separators; NBSP counts.
    EXPECT_EQ(Texts({"a\x1c,b"}), Read("[S]\r\nk=\xa0" "a\x1c,b\xa0\r\n"));
}

TEST_F(InfReader, ContinuationLinesJoinWithoutTheirBreak) {
    EXPECT_EQ(Texts({"Install,USB\\Vid_1F3C&Pid_3A41", "a \\ b", "x,y", "end"}),
              Read("[S]\r\n%D%=Install, \\\r\n   USB\\Vid_1F3C\\\r\n&Pid_3A41\r\n"
                   "k=a \\ b\r\n"
                   "k=x, \\ ; comment after the backslash\r\n  y\r\n"
                   "k=end\\"));
}

TEST_F(InfReader, LineEndsCtrlZAndNulBytes) {
    EXPECT_EQ(Texts({"a", "b"}), Read("[S]\nk=a\nk=b\n"));
    EXPECT_EQ(Texts({"a"}), Read("[S]\r\nk=a\x1a\r\nk=b\r\n"));
    // A NUL in a value is white space, kept inside (odd length: read as ANSI).
    const char nul[] = "[S]\r\nk=a\0b,\0c\0\r\n  ";
    EXPECT_EQ(Texts({"a b, c"}), Read(std::string(nul, sizeof nul - 1)));
}

TEST_F(InfReader, SectionsMatchWithoutRegardToCaseAndRepeatsMerge) {
    HINF h = Open(std::string(kHeader) + "[Models]\r\nk=1\r\n[Other]\r\nk=x\r\n[MODELS]\r\nk=2\r\n");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(Texts({"1", "2"}), Lines(h, "models"));
    INFCONTEXT ctx;
    EXPECT_FALSE(SetupFindFirstLineA(h, "Models.NTamd64", NULL, &ctx));
    EXPECT_EQ((DWORD)ERROR_LINE_NOT_FOUND, GetLastError());
    EXPECT_TRUE(SetupFindFirstLineA(h, "Models", "K", &ctx));
}

TEST_F(InfReader, EmptySectionHasNoFirstLine) {
    HINF h = Open(std::string(kHeader) + "[Manufacturer]\r\n; nothing\r\n");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    INFCONTEXT ctx;
    SetLastError(0);
    EXPECT_FALSE(SetupFindFirstLineA(h, "Manufacturer", NULL, &ctx));
    EXPECT_EQ((DWORD)ERROR_LINE_NOT_FOUND, GetLastError());
}

TEST_F(InfReader, StringsAreSubstitutedFromTheLocaleSectionFirst) {
    const std::string strings = "[Strings]\r\nId=\"USB\\Vid_1F3C&Pid_3A41\"\r\nLoop=%Loop%\r\nBare\r\n";
    EXPECT_EQ(Texts({"USB\\Vid_1F3C&Pid_3A41,%Missing%,100%,%Loop%,Bare,%open"}),
              Read("[S]\r\nk=%id%,%Missing%,100%%,%loop%,%bare%,%open\r\n" + strings));
    // Windows takes [Strings.0409] on an en-US system, and only it.
    EXPECT_EQ(Texts({"local,%Id%"}),
              Read("[S]\r\nk=%Loc%,%Id%\r\n[Strings.0409]\r\nLoc=local\r\n" + strings));
}

TEST_F(InfReader, DirectoryIdsComeFromTheWindowsFolder) {
    sim::M().windowsDir = "D:\\Win";
    EXPECT_EQ(Texts({"D:\\Win,D:\\Win\\system32\\x,D:\\x,C:\\Windows\\inf\\,%99%"}),
              Read("[S]\r\nk=%10%,%11%\\x,%24%\\x,%01%,%99%\r\n"));
}

TEST_F(InfReader, EncodingsAreReadAndConvertedToCodePage1252) {
    std::u16string text = u"[Version]\r\nSignature=$Chicago$\r\n[S]\r\nk=\u00e9\u03b1\uff21\u4e2d\u2122\r\n";
    std::string le;
    for (char16_t c : text) le += {char(c & 0xFF), char(c >> 8)};
    const Texts expected = {"\xe9" "aA?\x99"};  // best fit: alpha -> a, fullwidth A -> A
    ASSERT_NE(INVALID_HANDLE_VALUE, Open("\xff\xfe" + le));
    EXPECT_EQ(expected, Lines(open_.back(), "S"));
    ASSERT_NE(INVALID_HANDLE_VALUE, Open(le));  // no byte order mark
    EXPECT_EQ(expected, Lines(open_.back(), "S"));
    ASSERT_NE(INVALID_HANDLE_VALUE,
              Open("\xef\xbb\xbf[Version]\r\nSignature=$Chicago$\r\n[S]\r\nk=\xc3\xa9\xce\xb1\xef\xbc\xa1"
                   "\xe4\xb8\xad\xe2\x84\xa2\r\n"));
    EXPECT_EQ(expected, Lines(open_.back(), "S"));
    // ANSI bytes come back unchanged, including those without a character.
    EXPECT_EQ(Texts({"\x80\x81\x9f\xa0x\xff"}), Read("[S]\r\nk=\x80\x81\x9f\xa0x\xff\r\n"));
    // A U+0000 among the first characters: the bytes are not taken for
    // UTF-16, even after a byte order mark, and make no sense as ANSI.
    std::string withNul = "\xff\xfe" + le.substr(0, le.size() - 4) + std::string(2, '\0') + le.substr(le.size() - 4);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(withNul));
}

TEST_F(InfReader, FieldsKeep4096CharactersAsOnWindows) {
    std::string longField(600, 'x');
    EXPECT_EQ(Texts({longField + ",y"}), Read("[S]\r\nk=" + longField + ",y\r\n"));
    EXPECT_EQ(Texts({std::string(4096, 'z')}), Read("[S]\r\nk=" + std::string(5000, 'z') + "\r\n"));
    EXPECT_EQ(Texts({std::string(4096, 'w')}),
              Read("[S]\r\nk=%w%%w%\r\n[Strings]\r\nw=" + std::string(3000, 'w') + "\r\n"));
}

TEST_F(InfReader, LineTextSizeProtocol) {
    HINF h = Open(std::string(kHeader) + "[S]\r\nk=ab,c\r\n");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    INFCONTEXT ctx;
    ASSERT_TRUE(SetupFindFirstLineA(h, "S", NULL, &ctx));
    DWORD size = 0;
    EXPECT_TRUE(SetupGetLineTextA(&ctx, NULL, NULL, NULL, NULL, 0, &size));
    EXPECT_EQ(5u, size);
    EXPECT_TRUE(SetupGetLineTextA(&ctx, NULL, NULL, NULL, NULL, 0, NULL));
    char buffer[8] = "zzzzzzz";
    size = 0;
    EXPECT_FALSE(SetupGetLineTextA(&ctx, NULL, NULL, NULL, buffer, 4, &size));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(5u, size);
    EXPECT_STREQ("zzzzzzz", buffer) << "nothing written when refused";
    EXPECT_TRUE(SetupGetLineTextA(&ctx, NULL, NULL, NULL, buffer, 5, NULL));
    EXPECT_STREQ("ab,c", buffer);
    // Without a context the line is found by section and key.
    EXPECT_TRUE(SetupGetLineTextA(NULL, h, "s", "K", buffer, sizeof buffer, NULL));
    EXPECT_STREQ("ab,c", buffer);
    EXPECT_FALSE(SetupGetLineTextA(NULL, h, "S", "none", buffer, sizeof buffer, NULL));
    EXPECT_EQ((DWORD)ERROR_LINE_NOT_FOUND, GetLastError());
}

TEST_F(InfReader, HandlesAreAccountedUntilClosed) {
    HINF h = Open(std::string(kHeader));
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    open_.clear();
    ASSERT_EQ(1u, sim::OpenResources().size());
    EXPECT_NE(std::string::npos, sim::OpenResources()[0].find("t.inf"));
    // The file can go while the handle is open; what was read stays.
    EXPECT_TRUE(DeleteFileA(kPath));
    INFCONTEXT ctx;
    EXPECT_TRUE(SetupFindFirstLineA(h, "Version", NULL, &ctx));
    SetupCloseInfFile(h);
    SetupCloseInfFile(NULL);
    SetupCloseInfFile(INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sim::M().problems.empty());
    SetupCloseInfFile(h);
    EXPECT_EQ(1u, sim::M().problems.size()) << "closing twice is a misuse";
    sim::M().problems.clear();
    // A reset drops handles left open.
    Open(std::string(kHeader));
    open_.clear();
    sim::Reset();
}

TEST_F(InfReader, FaultPointsFailTheCall) {
    sim::FailCall("SetupOpenInfFileA");
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(std::string(kHeader) + "[S]\r\nk=v\r\n"));
    EXPECT_EQ((DWORD)ERROR_NOT_ENOUGH_MEMORY, error_);
    HINF h = Open(std::string(kHeader) + "[S]\r\nk=v\r\nk=w\r\n");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    INFCONTEXT ctx;
    sim::FailCall("SetupFindFirstLineA");
    EXPECT_FALSE(SetupFindFirstLineA(h, "S", NULL, &ctx));
    ASSERT_TRUE(SetupFindFirstLineA(h, "S", NULL, &ctx));
    sim::FailCall("SetupGetLineTextA");
    DWORD size;
    EXPECT_FALSE(SetupGetLineTextA(&ctx, NULL, NULL, NULL, NULL, 0, &size));
    sim::FailCall("SetupFindNextLine");
    EXPECT_FALSE(SetupFindNextLine(&ctx, &ctx));
    EXPECT_TRUE(SetupFindNextLine(&ctx, &ctx));
    EXPECT_EQ(1u, ctx.Line);
}

}  // namespace
