// Arbitrary INF bytes through the layer's INF reader: ScanInfFile deletes the
// file exactly when a plain re-reading of the same file finds a target
// hardware ID in the models section named by the first [Manufacturer] line,
// writes its match traces exactly then, touches no other file and leaves
// nothing open; GetFirstField agrees with the line text on every line of
// every section the bytes name.
#include <string>
#include <vector>

#include "uninstaller/tidewell.h"
#include "winsim.h"

#include "fuzz_input.h"

// The uninstaller's trace prefix is defined beside its main: link that in.
int TidewellMain(int argc, char **argv, char **envp);
__attribute__((used)) static int (*const g_programMain)(int, char **, char **) = TidewellMain;

namespace {

const char kPath[] = "C:\\Windows\\inf\\oem77.inf";
const char kOther[] = "C:\\Windows\\inf\\oem78.inf";

// The line text as SetupGetLineTextA gives it, with its reported size.
bool LineText(INFCONTEXT *ctx, std::vector<char> *text) {
    DWORD size = 0;
    if (!SetupGetLineTextA(ctx, NULL, NULL, NULL, NULL, 0, &size)) return false;
    text->assign(size ? size : 1, 0);
    return SetupGetLineTextA(ctx, NULL, NULL, NULL, text->data(), size, NULL) != 0;
}

// Would the file go: the first [Manufacturer] line's text up to its first
// comma names a section, one of whose lines names a target hardware ID.
bool ShouldGo() {
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(kPath, NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) return false;
    bool go = false;
    INFCONTEXT ctx;
    std::vector<char> text;
    if (SetupFindFirstLineA(inf, "Manufacturer", NULL, &ctx) && LineText(&ctx, &text)) {
        std::string name;
        for (size_t i = 0; i < text.size() && text[i] != ','; ++i) name += text[i];
        name = name.c_str();  // as a string it ends at its first NUL
        if (SetupFindFirstLineA(inf, name.c_str(), NULL, &ctx)) {
            do {
                std::vector<char> line;
                if (!LineText(&ctx, &line)) break;
                std::string s(line.data(), strnlen(line.data(), line.size()));
                if (FuzzNamesTarget(s)) {
                    go = true;
                    break;
                }
            } while (SetupFindNextLine(&ctx, &ctx));
        }
    }
    SetupCloseInfFile(inf);
    return go;
}

// Section names as the bytes spell them: "[" at a line's start up to "]".
std::vector<std::string> SectionNames(const std::vector<uint8_t> &b) {
    std::vector<std::string> names{"Manufacturer", "Version", "Strings"};
    for (size_t i = 0; i < b.size() && names.size() < 12; ++i) {
        if (b[i] != '[' || (i > 0 && b[i - 1] != '\n')) continue;
        size_t j = i + 1;
        while (j < b.size() && b[j] != ']' && b[j] != '\n' && j - i < 200) ++j;
        if (j < b.size() && b[j] == ']') names.push_back(std::string((const char *)&b[i + 1], j - i - 1));
    }
    return names;
}

void CheckFirstFields(const std::vector<uint8_t> &bytes) {
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(kPath, NULL, INF_STYLE_OLDNT | INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) return;
    for (const auto &section : SectionNames(bytes)) {
        INFCONTEXT ctx;
        if (!SetupFindFirstLineA(inf, section.c_str(), NULL, &ctx)) continue;
        int lines = 0;
        do {
            std::vector<char> text;
            if (!LineText(&ctx, &text)) continue;
            DWORD size = (DWORD)text.size();
            DWORD expected = size;
            for (DWORD i = 0; i < size; ++i)
                if (text[i] == ',') {
                    expected = i + 1;
                    break;
                }
            DWORD n = 0xDEAD;
            FuzzCheck(GetFirstField(&ctx, NULL, 0, &n) == 1 && n == expected, "GetFirstField's size");
            if (expected > 1) {
                std::vector<char> small(expected - 1, (char)0xAA);
                n = 0;
                FuzzCheck(GetFirstField(&ctx, small.data(), expected - 1, &n) == 1 && n == expected,
                          "GetFirstField with too small a buffer");
                for (char c : small) FuzzCheck(c == (char)0xAA, "GetFirstField wrote into too small a buffer");
            }
            // Exactly the field's size: no byte more is there to write to.
            std::vector<char> field(expected);
            n = 0;
            FuzzCheck(GetFirstField(&ctx, field.data(), expected, &n) == 1 && n == expected,
                      "GetFirstField with its buffer");
            for (DWORD i = 0; i + 1 < expected; ++i)
                FuzzCheck(field[i] == text[i], "GetFirstField's copy");
            FuzzCheck(field[expected - 1] == 0, "GetFirstField's field is not terminated");
        } while (++lines < 64 && SetupFindNextLine(&ctx, &ctx));
    }
    SetupCloseInfFile(inf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 16384) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    sim::Reset();
    sim::AddDirectory("C:\\Windows");
    sim::AddDirectory("C:\\Windows\\inf");
    sim::AddFile(kPath, std::string(bytes.begin(), bytes.end()));
    sim::AddFile(kOther, "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\nA=M\r\n"
                         "[M]\r\nX=I,USB\\Vid_1F3C&Pid_3A41\r\n");

    bool go = ShouldGo();
    FuzzCheck(sim::OpenResources().empty(), "the reference re-reading left something open");
    RUN run = {};
    ScanInfFile(&run, kPath);
    FreeRun(&run);
    FuzzCheck(sim::FileExists(kPath) != go, go ? "a matching file stayed" : "a file went that names no target");
    FuzzCheck(sim::FileExists(kOther), "another file went");
    bool traced = false;
    for (const auto &m : sim::Messages("..Tidewell - Omrak"))
        if (m == "---Find file contain our HWID---\n") traced = true;
    FuzzCheck(traced == go, "the match traces");
    FuzzCheck(sim::OpenResources().empty(), "ScanInfFile left something open");
    FuzzCheck(sim::M().problems.empty(), "ScanInfFile misused the platform");

    if (go) sim::AddFile(kPath, std::string(bytes.begin(), bytes.end()));
    CheckFirstFields(bytes);
    FuzzCheck(sim::OpenResources().empty(), "GetFirstField left something open");
    FuzzCheck(sim::M().problems.empty(), "GetFirstField misused the platform");
    return 0;
}
