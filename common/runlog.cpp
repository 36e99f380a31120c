#include "runlog.h"

#include "dllsearch.h"
#include "format.h"

// One log line: time, program and process ID (at most 80 characters), the
// prefix line and two spaces (at most 32), and a message of 127 characters
// whose control bytes each take up to four; then CR LF.
#define RUN_LOG_LINE_SIZE 640
#define RUN_LOG_PROGRAM_SIZE 32
#define RUN_LOG_HEADER_SIZE 192

typedef BOOL(WINAPI *LPFN_SETFILEINFORMATIONBYHANDLE)(
    HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass, LPVOID lpFileInformation,
    DWORD dwBufferSize);

static const char RunLogName[] = "Omrak.log";
static const char OldRunLogName[] = "Omrak.old.log";

// This run's log, or INVALID_HANDLE_VALUE while there is none.
static HANDLE g_hRunLog = INVALID_HANDLE_VALUE;
// What this run may still add: counted from the size measured at its start,
// the log never grows past twice its limit, also when it cannot be rotated.
static DWORD g_RunLogRoom;
static char g_RunProgram[RUN_LOG_PROGRAM_SIZE];
static DWORD g_RunProcessId;

// Appends one character, keeping room for the CR LF and the NUL.
static void PutLogChar(char *pLine, int *pLen, char c)
{
    if (*pLen < RUN_LOG_LINE_SIZE - 3)
        pLine[(*pLen)++] = c;
}

static void PutLogText(char *pLine, int *pLen, const char *pText)
{
    for (; *pText != 0; pText++)
        PutLogChar(pLine, pLen, *pText);
}

// The text as one line: a closing line break dropped, any other control
// byte written as "\n", "\r", "\t" or "\xNN"; a backslash stands for itself.
static void PutLogMessage(char *pLine, int *pLen, const char *pText)
{
    static const char hexDigits[] = "0123456789ABCDEF";
    int cch;
    int i;

    for (cch = 0; pText[cch] != 0; cch++)
        ;
    if (cch > 0 && pText[cch - 1] == '\n')
        cch--;
    for (i = 0; i < cch; i++) {
        unsigned char c = (unsigned char)pText[i];

        if (c >= 0x20 && c != 0x7F) {
            PutLogChar(pLine, pLen, (char)c);
            continue;
        }
        PutLogChar(pLine, pLen, '\\');
        if (c == '\n' || c == '\r' || c == '\t') {
            PutLogChar(pLine, pLen, c == '\n' ? 'n' : c == '\r' ? 'r' : 't');
        } else {
            PutLogChar(pLine, pLen, 'x');
            PutLogChar(pLine, pLen, hexDigits[c >> 4]);
            PutLogChar(pLine, pLen, hexDigits[c & 0xF]);
        }
    }
}

void RunLogLine(const char *pPrefix, const char *pText)
{
    char line[RUN_LOG_LINE_SIZE];
    SYSTEMTIME now;
    DWORD written = 0;
    DWORD lastError;
    int len = 0;

    if (g_hRunLog == INVALID_HANDLE_VALUE)
        return;
    // The log changes nothing for the run, its last error included.
    lastError = GetLastError();
    GetLocalTime(&now);
    FormatText(line, RUN_LOG_LINE_SIZE - 2, "%04d-%02d-%02d %02d:%02d:%02d.%03d %s[%u] ",
               now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
               now.wMilliseconds, g_RunProgram, g_RunProcessId);
    while (line[len] != 0)
        len++;
    if (pPrefix != NULL) {
        PutLogText(line, &len, pPrefix);
        PutLogText(line, &len, "  ");
    }
    PutLogMessage(line, &len, pText);
    line[len++] = '\r';
    line[len++] = '\n';
    // One write per line on a handle that appends: a run cut short keeps
    // every line it wrote, and lines of runs writing at once never mix.
    if ((DWORD)len > g_RunLogRoom) {
        // Twice the limit reached: the block stops here, without a gap.
        g_RunLogRoom = 0;
    } else {
        WriteFile(g_hRunLog, line, (DWORD)len, &written, NULL);
        g_RunLogRoom -= written <= g_RunLogRoom ? written : g_RunLogRoom;
    }
    SetLastError(lastError);
}

// The log's and its older part's names in the system's Windows folder (the
// shared one, also on a Remote Desktop Session Host); 0 when they do not fit.
static int RunLogPaths(char *pPath, char *pOldPath)
{
    char dir[MAX_PATH];
    UINT cchDir;

    cchDir = GetSystemWindowsDirectoryA(dir, MAX_PATH);
    if (cchDir == 0 || cchDir >= MAX_PATH)
        return 0;
    return FormatText(pPath, MAX_PATH, "%s\\%s", dir, RunLogName) &&
           FormatText(pOldPath, MAX_PATH, "%s\\%s", dir, OldRunLogName);
}

// Opens the log for appending, shared with readers, other programs and its
// renaming, and for renaming it; where that is refused, for appending only,
// *pNoRename holding why. A reparse point (a link) is opened as itself and
// never written, nor a log whose kind cannot be read. *pSize: its size
// (0xFFFFFFFF for 4 GiB and more).
static HANDLE OpenLogFile(const char *pPath, DWORD *pSize, DWORD *pNoRename)
{
    const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE hFile;

    *pNoRename = 0;
    hFile = CreateFileA(pPath, access | DELETE, share, NULL, OPEN_ALWAYS, flags, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pNoRename = GetLastError();
        hFile = CreateFileA(pPath, access, share, NULL, OPEN_ALWAYS, flags, NULL);
    }
    if (hFile == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    if (!GetFileInformationByHandle(hFile, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(hFile);
        return INVALID_HANDLE_VALUE;
    }
    *pSize = info.nFileSizeHigh != 0 ? 0xFFFFFFFF : info.nFileSizeLow;
    return hFile;
}

// Renames the log hFile found over its limit to pOldPath and closes hFile:
// through the handle (Vista and later), so that only the file measured is
// renamed, not the fresh log a run starting at the same time put in its
// place; by name before. 0 with the error in *pError.
static int RotateLog(HANDLE hFile, const char *pPath, const char *pOldPath, DWORD *pError)
{
    LPFN_SETFILEINFORMATIONBYHANDLE fnSetFileInformationByHandle;
    union {
        BYTE bytes[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
        FILE_RENAME_INFO info;
    } renameInfo = {};  // zero, all of its bytes
    DWORD attributes;
    int cchName;
    int done = 0;

    // A read-only older part would refuse to be replaced. A folder in its
    // place is left as it is (the rename fails then), a link not followed.
    attributes = GetFileAttributesA(pOldPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        attributes &= ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesA(pOldPath, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    fnSetFileInformationByHandle = (LPFN_SETFILEINFORMATIONBYHANDLE)(void (*)(void))FindFunction(
        "kernel32", "SetFileInformationByHandle");
    if (fnSetFileInformationByHandle == NULL) {
        CloseHandle(hFile);
        done = MoveFileExA(pPath, pOldPath, MOVEFILE_REPLACE_EXISTING);
        *pError = GetLastError();
        return done;
    }
    cchName = MultiByteToWideChar(CP_ACP, 0, pOldPath, -1, renameInfo.info.FileName, MAX_PATH);
    if (cchName > 0) {
        renameInfo.info.ReplaceIfExists = TRUE;
        renameInfo.info.RootDirectory = NULL;
        renameInfo.info.FileNameLength = (DWORD)(cchName - 1) * sizeof(WCHAR);
        done = fnSetFileInformationByHandle(hFile, FileRenameInfo, &renameInfo.info,
                                            sizeof(renameInfo));
    }
    *pError = GetLastError();
    CloseHandle(hFile);
    return done;
}

// "yes", "no", or "unknown" where Windows cannot say (it lacks the call).
static const char *Wow64Text(void)
{
    BOOL bIsWow64 = FALSE;

    if (!QueryWow64(&bIsWow64))
        return "unknown";
    return bIsWow64 ? "yes" : "no";
}

static void SessionText(char *pText, int cbText)
{
    DWORD session = 0;
    int known = QuerySession(&session);

    FormatText(pText, cbText, known ? "%u" : "unknown", session);
}

// Windows XP has no elevation to ask for: "unknown" there.
static const char *ElevatedText(void)
{
    HANDLE hToken;
    TOKEN_ELEVATION elevation;
    DWORD cbElevation = 0;
    const char *pText = "unknown";

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return pText;
    if (GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &cbElevation))
        pText = elevation.TokenIsElevated ? "yes" : "no";
    CloseHandle(hToken);
    return pText;
}

void OpenRunLog(const char *pProgram)
{
    char path[MAX_PATH];
    char oldPath[MAX_PATH];
    char session[16];
    char rotation[48];
    char header[RUN_LOG_HEADER_SIZE];
    const char *pWow64;
    const char *pElevated;
    DWORD lastError;
    DWORD size = 0;
    DWORD noRename = 0;
    DWORD reopened = 0;
    int full = 0;
    int rotated = 0;

    lastError = GetLastError();
    g_hRunLog = INVALID_HANDLE_VALUE;
    FormatText(g_RunProgram, sizeof(g_RunProgram), "%s", pProgram);
    g_RunProcessId = GetCurrentProcessId();
    if (RunLogPaths(path, oldPath)) {
        g_hRunLog = OpenLogFile(path, &size, &noRename);
        full = g_hRunLog != INVALID_HANDLE_VALUE && size > RUN_LOG_LIMIT;
        if (full && noRename == 0) {
            rotated = RotateLog(g_hRunLog, path, oldPath, &noRename);
            // A fresh log where it was renamed, the same one where not. A
            // run of ours that has it open follows it to its new name.
            g_hRunLog = OpenLogFile(path, &size, &reopened);
        }
    }
    g_RunLogRoom = size < 2 * RUN_LOG_LIMIT ? 2 * RUN_LOG_LIMIT - size : 0;
    if (g_hRunLog != INVALID_HANDLE_VALUE) {
        SessionText(session, sizeof(session));
        pWow64 = Wow64Text();
        pElevated = ElevatedText();
        // Why the block may stop short: the log was full and stays so.
        rotation[0] = 0;
        if (full && !rotated)
            FormatText(rotation, sizeof(rotation), ", log not rotated: error %u", noRename);
        FormatText(header, sizeof(header),
                   "== %s %s, process %u, session %s, 32-bit on 64-bit Windows: %s, elevated: %s%s",
                   g_RunProgram, RELEASE_VERSION, g_RunProcessId, session, pWow64, pElevated,
                   rotation);
        RunLogLine(NULL, header);
    }
    SetLastError(lastError);
}

void EndRunLog(int exitCode)
{
    char text[32];

    if (g_hRunLog == INVALID_HANDLE_VALUE)
        return;
    FormatText(text, sizeof(text), "== exit code %d", exitCode);
    RunLogLine(NULL, text);
    CloseHandle(g_hRunLog);
    g_hRunLog = INVALID_HANDLE_VALUE;
}
