// Files, folder searches and serial ports of the simulated layer.
#include "internal.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

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

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                          HANDLE hTemplateFile) {
    (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes;
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
    if (!lpFileName || dwCreationDisposition != OPEN_EXISTING || !IsPortPath(lpFileName, &name)) {
        // The programs open nothing but serial ports.
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
    if (Fault("FindFirstFileA", ERROR_PATH_NOT_FOUND, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!lpFileName || !lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string norm = NormalPath(lpFileName);
    std::string dir = ParentOf(norm), pattern = NameOf(norm);
    File *d = FindFile(dir);
    if (!d || !(d->attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Search *s = new Search;
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
    if (Fault("FindNextFileA", ERROR_NO_MORE_FILES, &error)) {
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

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    DWORD error;
    if (Fault("SetFileAttributesA", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    File *f = lpFileName ? FindFile(lpFileName) : nullptr;
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
    File *f = lpFileName ? FindFile(lpFileName) : nullptr;
    if (!f) {
        std::string parent = lpFileName ? ParentOf(NormalPath(lpFileName)) : "";
        File *d = FindFile(parent);
        SetLastError(d ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (f->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::string path = f->path;
    M().files.erase(NormalPath(lpFileName));
    Log(Event::FileDeleted, path);
    return TRUE;
}

}  // extern "C"
