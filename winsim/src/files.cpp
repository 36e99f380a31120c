// Files, folder searches and serial ports of the simulated layer.
#include "internal.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <utility>

using namespace sim;
using namespace sim::detail;

namespace {

struct Search {
    std::vector<std::string> names;  // entries still to deliver, in order
    std::vector<DWORD> attributes;
    size_t next = 0;
};

bool WildMatch(const char *pat, const char *name) {
    if (*pat == 0) return *name == 0;
    if (*pat == '*') {
        for (const char *n = name;; ++n) {
            if (WildMatch(pat + 1, n)) return true;
            if (*n == 0) return false;
        }
    }
    if (*name == 0) return false;
    if (*pat != '?' && Lower(std::string(1, *pat)) != Lower(std::string(1, *name))) return false;
    return WildMatch(pat + 1, name + 1);
}

// The 8.3 name Windows generates for a long name whose extension is longer
// than three characters ("x.infx" -> "X~1.INF"); "*.inf" also matches through it.
std::string ShortName(const std::string &name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot - 1 <= 3) return "";
    std::string base = name.substr(0, std::min<size_t>(dot, 6));
    return base + "~1." + name.substr(dot + 1, 3);
}

void Fill(LPWIN32_FIND_DATAA data, const std::string &name, DWORD attributes, size_t size) {
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = attributes;
    data->nFileSizeLow = (DWORD)size;
    size_t n = std::min(name.size(), (size_t)MAX_PATH - 1);
    memcpy(data->cFileName, name.data(), n);
    data->cFileName[n] = 0;
}

bool IsPortPath(const std::string &path, std::string *pName) {
    if (path.compare(0, 4, "\\\\.\\") != 0) return false;
    *pName = path.substr(4);
    return true;
}

// An open file: its key in the machine's files (it follows a rename), what
// the handle may do and what it lets others do.
struct OpenFile {
    std::string key;
    DWORD access;
    DWORD share;
    size_t position = 0;  // where the next read starts
};
std::set<OpenFile *> g_openFiles;

bool SameKey(const std::string &a, const std::string &b) { return !CaseLess()(a, b) && !CaseLess()(b, a); }

const DWORD kReadAccess = GENERIC_READ | FILE_READ_DATA;
const DWORD kWriteAccess = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA;

// The share an access needs from every other open of the same file.
DWORD ShareNeeded(DWORD access) {
    return ((access & kReadAccess) ? FILE_SHARE_READ : 0) |
           ((access & kWriteAccess) ? FILE_SHARE_WRITE : 0) | ((access & DELETE) ? FILE_SHARE_DELETE : 0);
}

// NT's share check: an open that reads, writes or deletes must be let by
// every other open of the file, and must let each of them in turn; one that
// only reads attributes is not checked.
bool ShareConflict(const std::string &key, DWORD access, DWORD share) {
    if (ShareNeeded(access) == 0) return false;
    for (const OpenFile *o : g_openFiles)
        if (SameKey(o->key, key) && ((ShareNeeded(access) & ~o->share) || (ShareNeeded(o->access) & ~share)))
            return true;
    return false;
}

// The Windows folder and everything in it: only administrators and SYSTEM
// may create, write or rename there.
bool InWindowsDir(const std::string &key) {
    std::string dir = Lower(NormalPath(M().windowsDir)) + "\\";
    return Lower(key).compare(0, dir.size(), dir) == 0;
}

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

// CreateFileA of a file on disk; only OPEN_EXISTING and OPEN_ALWAYS are
// modelled.
HANDLE OpenDiskFile(const std::string &path, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags) {
    std::string key = NormalPath(path);
    File *dir = FindFile(ParentOf(key));
    if (!dir || !(dir->attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_PATH_NOT_FOUND);
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
        Problem("CreateFileA: a creation disposition that is not modelled");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    bool writing = (access & (kWriteAccess | DELETE)) != 0;
    if (!M().elevated && InWindowsDir(key) && (writing || !FindFile(key)))
        return Fail(ERROR_ACCESS_DENIED);
    File *f = FindFile(key);
    DWORD error = ERROR_SUCCESS;
    if (!f) {
        if (disposition == OPEN_EXISTING) return Fail(ERROR_FILE_NOT_FOUND);
        AddFile(path);
    } else {
        if (f->attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
        if ((f->attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(flags & FILE_FLAG_OPEN_REPARSE_POINT)) {
            // Windows would open whatever the link leads to.
            Problem("CreateFileA follows the reparse point " + f->path);
            return Fail(ERROR_ACCESS_DENIED);
        }
        if ((f->attributes & FILE_ATTRIBUTE_READONLY) && writing) return Fail(ERROR_ACCESS_DENIED);
        if (ShareConflict(key, access, share)) return Fail(ERROR_SHARING_VIOLATION);
        if (disposition == OPEN_ALWAYS) error = ERROR_ALREADY_EXISTS;
    }
    OpenFile *o = new OpenFile{key, access, share, 0};
    g_openFiles.insert(o);
    SetLastError(error);
    return NewHandle(KFile, "file handle of " + FindFile(key)->path, o);
}

// Makes the file at from (a handle's) the file at to, replacing the file
// there, if any: handles follow their file; those of the file replaced keep
// a file that has no name any more (not modelled: their writes go nowhere).
void Rename(const std::string &from, const std::string &to, const std::string &newPath) {
    if (SameKey(from, to)) return;
    File moved = std::move(*FindFile(from));
    moved.path = newPath;
    M().files.erase(from);
    M().files[to] = std::move(moved);
    for (OpenFile *o : g_openFiles) {
        if (SameKey(o->key, to)) o->key.clear();
        else if (SameKey(o->key, from)) o->key = to;
    }
}

}  // namespace

namespace sim {
namespace detail {

// The rename through an open handle as NT does it: the handle must have
// been opened for deleting (the other opens were checked against that then,
// so no share check now). A file there is replaced only with
// ReplaceIfExists, and never a directory, a read-only file or one that is
// open (replacing an open file needs POSIX semantics, which
// FileRenameInfo does not ask for). The handle follows its file.
BOOL WINAPI SimSetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                          LPVOID lpFileInformation, DWORD dwBufferSize) {
    DWORD error;
    if (Fault("SetFileInformationByHandle", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(hFile, KFile);
    const FILE_RENAME_INFO *info = (const FILE_RENAME_INFO *)lpFileInformation;
    const size_t nameAt = offsetof(FILE_RENAME_INFO, FileName);
    if (!o || FileInformationClass != FileRenameInfo || !info || dwBufferSize < sizeof(FILE_RENAME_INFO) ||
        info->RootDirectory || info->FileNameLength % 2 || info->FileNameLength > dwBufferSize - nameAt) {
        Problem("SetFileInformationByHandle: a call that is not modelled");
        SetLastError(o ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CheckBuffer("SetFileInformationByHandle", lpFileInformation, dwBufferSize);
    std::string name;
    for (DWORD i = 0; i < info->FileNameLength / 2; ++i) {
        if (info->FileName[i] == 0 || info->FileName[i] > 0xFF) Problem("SetFileInformationByHandle: a name that is not modelled");
        name += (char)info->FileName[i];
    }
    if (name.size() < 3 || name[1] != ':' || name[2] != '\\') {
        Problem("SetFileInformationByHandle: a relative name, which is not modelled");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    OpenFile *of = (OpenFile *)o->data;
    std::string to = NormalPath(name);
    File *dir = FindFile(ParentOf(to)), *old = FindFile(to);
    DWORD result = ERROR_SUCCESS;
    if (!(of->access & DELETE) || of->key.empty())
        result = ERROR_ACCESS_DENIED;  // not opened for deleting, or no name any more
    else if (!dir || !(dir->attributes & FILE_ATTRIBUTE_DIRECTORY))
        result = ERROR_PATH_NOT_FOUND;
    else if (!M().elevated && InWindowsDir(to))
        result = ERROR_ACCESS_DENIED;
    else if (old && !SameKey(of->key, to)) {
        bool open = false;
        for (const OpenFile *other : g_openFiles) open = open || SameKey(other->key, to);
        if (!info->ReplaceIfExists)
            result = ERROR_ALREADY_EXISTS;
        else if ((old->attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) || open)
            result = ERROR_ACCESS_DENIED;
    }
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return FALSE;
    }
    // Assumption: renamed to the name it has, the file stays as it is (the
    // program is right either way: a refusal only keeps the log from
    // rotating).
    Rename(of->key, to, name);
    return TRUE;
}

void CloseFile(Object *o) {
    g_openFiles.erase((OpenFile *)o->data);
    delete (OpenFile *)o->data;
}

bool SharingViolation(const std::string &path, DWORD access, DWORD share) {
    return ShareConflict(NormalPath(path), access, share);
}

File *ReadableFileOf(HANDLE h) {
    Object *o = Lookup(h, KFile);
    if (!o || !(((OpenFile *)o->data)->access & kReadAccess)) return nullptr;
    return FindFile(((OpenFile *)o->data)->key);
}

void ResetFiles() {
    for (OpenFile *o : g_openFiles) delete o;
    g_openFiles.clear();
}

}  // namespace detail
}  // namespace sim

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                          HANDLE hTemplateFile) {
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    char args[64];
    snprintf(args, sizeof args, " access=0x%X share=%u", (unsigned)dwDesiredAccess,
             (unsigned)dwShareMode);
    Arguments("CreateFileA", (lpFileName ? lpFileName : "(null)") + std::string(args));
    DWORD error;
    if (Fault("CreateFileA", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    std::string name;
    if (lpFileName && !IsPortPath(lpFileName, &name))
        return OpenDiskFile(ProgramPath(lpFileName), dwDesiredAccess, dwShareMode,
                            dwCreationDisposition, dwFlagsAndAttributes);
    if (!lpFileName || dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto it = M().ports.find(name);
    if (it == M().ports.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Port &port = it->second;
    // The serial driver lets one open at a time, whatever the share mode:
    // Windows reports a port in use with ERROR_ACCESS_DENIED.
    if (port.heldByOther || port.openByUs > 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // A driver that allows shared opens leaves it to NT's share check. The
    // other program reads and writes, sharing both; an open without read or
    // write access is not checked at all.
    const DWORD data = GENERIC_READ | GENERIC_WRITE;
    if (port.heldShared && (dwDesiredAccess & data) &&
        (dwShareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE)) !=
            (FILE_SHARE_READ | FILE_SHARE_WRITE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    ++port.openByUs;
    return NewHandle(KPort, std::string("port ") + lpFileName, &port);
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    DWORD error;
    if (Fault("FindFirstFileA", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!lpFileName || !lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string norm = ProgramPath(lpFileName);
    std::string dir = ParentOf(norm), pattern = NameOf(norm);
    File *d = FindFile(dir);
    if (!d || !(d->attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Search *s = new Search;
    // A folder that is not a drive's root lists itself and its parent first.
    for (const char *self : {".", ".."}) {
        if (dir.size() > 2 && WildMatch(pattern.c_str(), self)) {
            s->names.push_back(self);
            s->attributes.push_back(FILE_ATTRIBUTE_DIRECTORY);
        }
    }
    for (const auto &f : M().files) {  // the map keeps case-insensitive name order
        if (ParentOf(f.first) != dir && Lower(ParentOf(f.first)) != Lower(dir)) continue;
        std::string name = NameOf(NormalPath(f.second.path));
        std::string shortName = ShortName(name);
        if (WildMatch(pattern.c_str(), name.c_str()) ||
            (!shortName.empty() && WildMatch(pattern.c_str(), shortName.c_str()))) {
            s->names.push_back(name);
            s->attributes.push_back(f.second.attributes);
        }
    }
    if (s->names.empty()) {
        delete s;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Fill(lpFindFileData, s->names[0], s->attributes[0], 0);
    s->next = 1;
    return NewHandle(KFind, std::string("search handle for ") + lpFileName, s);
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    DWORD error;
    if (Fault("FindNextFileA", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(hFindFile, KFind);
    if (!o || !lpFindFileData) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Search *s = (Search *)o->data;
    if (s->next >= s->names.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    Fill(lpFindFileData, s->names[s->next], s->attributes[s->next], 0);
    ++s->next;
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    Note("FindClose");
    Object *o = Lookup(hFindFile, KFind);
    if (!o) {
        Problem("FindClose on a handle that is not a search handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete (Search *)o->data;
    Release(hFindFile, KFind, "FindClose");
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    DWORD error;
    // A failure other than the file's absence, which the machine itself
    // answers.
    if (Fault("GetFileAttributesA", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    File *f = FindFile(ProgramPath(lpFileName));
    if (!f) {
        // Missing itself, or its folder missing (a drive's root is always there).
        std::string parent = ParentOf(ProgramPath(lpFileName));
        bool folder = (parent.size() == 2 && parent[1] == ':') || FindFile(parent);
        SetLastError(folder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return f->attributes;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    DWORD error;
    if (Fault("SetFileAttributesA", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    File *f = lpFileName ? FindFile(ProgramPath(lpFileName)) : nullptr;
    if (!f) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    DWORD keep = f->attributes & FILE_ATTRIBUTE_DIRECTORY;
    DWORD set = dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_NORMAL);
    if (set & ~FILE_ATTRIBUTE_NORMAL) set &= ~FILE_ATTRIBUTE_NORMAL;
    f->attributes = keep | set;
    if (f->attributes == 0) f->attributes = FILE_ATTRIBUTE_NORMAL;
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    DWORD error;
    if (Fault("DeleteFileA", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    File *f = lpFileName ? FindFile(ProgramPath(lpFileName)) : nullptr;
    if (!f) {
        std::string parent = lpFileName ? ParentOf(ProgramPath(lpFileName)) : "";
        File *d = FindFile(parent);
        SetLastError(d ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (f->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // It opens the file for deleting: every open must share that.
    if (ShareConflict(NormalPath(lpFileName), DELETE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    std::string path = f->path;
    M().files.erase(ProgramPath(lpFileName));
    Log(Event::FileDeleted, path);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, const void *lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    DWORD error;
    if (Fault("WriteFile", ERROR_DISK_FULL, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(hFile, KFile);
    if (!o || !lpNumberOfBytesWritten || lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite)) {
        Problem(o ? "WriteFile without a count, or with an OVERLAPPED" : "WriteFile on a handle that is not a file's");
        SetLastError(o ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    OpenFile *of = (OpenFile *)o->data;
    if (!(of->access & kWriteAccess)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Only appending is modelled: with FILE_APPEND_DATA alone Windows writes
    // at the end of the file, wherever the file pointer is.
    if (of->access & (GENERIC_WRITE | FILE_WRITE_DATA))
        Problem("WriteFile at a file position, which is not modelled");
    CheckBuffer("WriteFile", lpBuffer, nNumberOfBytesToWrite);
    // A file replaced by a rename while open takes the write with it.
    if (File *f = FindFile(of->key)) f->content.append((const char *)lpBuffer, nNumberOfBytesToWrite);
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    DWORD error;
    if (Fault("ReadFile", ERROR_READ_FAULT, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(hFile, KFile);
    if (!o || !lpNumberOfBytesRead || lpOverlapped || (!lpBuffer && nNumberOfBytesToRead)) {
        Problem(o ? "ReadFile without a count, or with an OVERLAPPED" : "ReadFile on a handle that is not a file's");
        SetLastError(o ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    OpenFile *of = (OpenFile *)o->data;
    if (!(of->access & kReadAccess)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    CheckBuffer("ReadFile", lpBuffer, nNumberOfBytesToRead);
    // At the end of the file a read succeeds with no bytes.
    File *f = FindFile(of->key);
    size_t size = f ? f->content.size() : 0;
    size_t n = of->position < size ? std::min<size_t>(size - of->position, nNumberOfBytesToRead) : 0;
    if (n) memcpy(lpBuffer, f->content.data() + of->position, n);
    of->position += n;
    *lpNumberOfBytesRead = (DWORD)n;
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    DWORD error;
    if (Fault("GetFileInformationByHandle", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(hFile, KFile);
    File *f = o ? FindFile(((OpenFile *)o->data)->key) : nullptr;
    if (!f || !lpFileInformation) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(((OpenFile *)o->data)->access & (GENERIC_READ | FILE_READ_ATTRIBUTES))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    memset(lpFileInformation, 0, sizeof *lpFileInformation);
    lpFileInformation->dwFileAttributes = f->attributes;
    lpFileInformation->nFileSizeHigh = (DWORD)((unsigned long long)f->content.size() >> 32);
    lpFileInformation->nFileSizeLow = (DWORD)f->content.size();
    lpFileInformation->nNumberOfLinks = 1;
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    Arguments("MoveFileExA", std::string(lpExistingFileName ? lpExistingFileName : "(null)") +
                                 " -> " + (lpNewFileName ? lpNewFileName : "(null)"));
    DWORD error;
    if (Fault("MoveFileExA", ERROR_SHARING_VIOLATION, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (!lpExistingFileName || !lpNewFileName || (dwFlags & ~MOVEFILE_REPLACE_EXISTING)) {
        Problem("MoveFileExA: a call that is not modelled");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string from = NormalPath(lpExistingFileName), to = NormalPath(lpNewFileName);
    File *f = FindFile(from), *dir = FindFile(ParentOf(to)), *old = FindFile(to);
    DWORD result = ERROR_SUCCESS;
    if (!f)
        result = ERROR_FILE_NOT_FOUND;
    else if (!dir || !(dir->attributes & FILE_ATTRIBUTE_DIRECTORY))
        result = ERROR_PATH_NOT_FOUND;
    else if ((f->attributes & FILE_ATTRIBUTE_DIRECTORY) ||
             (!M().elevated && (InWindowsDir(from) || InWindowsDir(to))))
        result = ERROR_ACCESS_DENIED;
    else if (ShareConflict(from, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        // The rename opens the file for deleting: every open must share that.
        result = ERROR_SHARING_VIOLATION;
    else if (old && !(dwFlags & MOVEFILE_REPLACE_EXISTING))
        result = ERROR_ALREADY_EXISTS;
    else if (old && ((old->attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ||
                     ShareConflict(to, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)))
        // Assumption: a file replaced while in use fails as a read-only one
        // does, whatever error Windows chooses; the programs only test success.
        result = ERROR_ACCESS_DENIED;
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return FALSE;
    }
    Rename(from, to, lpNewFileName);
    return TRUE;
}

}  // extern "C"
