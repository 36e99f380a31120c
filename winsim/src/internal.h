// Shared plumbing of the simulated layer: handle table, fault points, paths.
#ifndef WINSIM_INTERNAL_H
#define WINSIM_INTERNAL_H

#include "winsim.h"

#include <string>
#include <vector>

namespace sim {
namespace detail {

enum Kind { KProcess, KThread, KPort, KFind, KKey, KDevInfo, KInf, KModule, KFile, KToken, KTrust };

struct Object {
    Kind kind;
    std::string what;  // description for the open-resource account
    void *data;        // per-kind state, owned by the module that made it
    int process;       // the process that opened it
};

// The process whose code runs now: 1 for the program under test, higher
// for a program it started, while that one runs. Handles and heap blocks
// belong to the process that made them, and go when it ends.
int CurrentProcess();
void SetCurrentProcess(int process);
// Ends the current process's fault plans: an end that was due, or pending
// after its last call, concerned it alone.
void ForgetPendingEnd();
// What Windows does when the current process ends: its handles closed, its
// keys, sets, INF and search handles, modules and memory released.
void ReleaseProcess();
// What that process still holds, as OpenResources describes it.
std::vector<std::string> OpenResourcesOf(int process);

// A fresh opaque handle value registered in the table.
HANDLE NewHandle(Kind kind, const std::string &what, void *data);
// The object behind h if it is open and of that kind, else null.
Object *Lookup(HANDLE h, Kind kind);
// Removes h from the table; false (and a recorded problem) if it was not open.
bool Release(HANDLE h, Kind kind, const char *api);
void Problem(const std::string &text);

// A fault point: every fallible API calls it on entry. True when this call is
// to fail; *pError then holds the error to report (defaultError unless the
// test chose one).
bool Fault(const char *api, DWORD defaultError, DWORD *pError);
void Note(const char *api);  // counts a call that cannot fail
void Written(const std::string &debugText);  // a debug-output write has been made

void Log(Event::Kind kind, const std::string &text);
void Arguments(const char *api, const std::string &text);

// A program's buffer of size bytes at p: when p lies in a heap block, that
// block must hold all size bytes (a misuse is recorded otherwise).
void CheckBuffer(const char *api, const void *p, size_t size);

// Paths: "\" and "/" alike, "." and ".." resolved, no trailing "\".
std::string NormalPath(const std::string &path);
std::string ParentOf(const std::string &normalPath);
std::string NameOf(const std::string &normalPath);
File *FindFile(const std::string &path);
// A path as the running process names it, where the file system has it: a
// 32-bit process on 64-bit Windows sees <windows>\SysWOW64 as System32, and
// reaches the real System32 through Sysnative.
std::string ProgramPath(const std::string &path);

// Heap blocks from LocalAlloc, with their sizes.
void HeapAdd(void *p, size_t size);
bool HeapRemove(void *p);

// A file handle's object, released by CloseHandle.
void CloseFile(Object *o);
// kernel32's SetFileInformationByHandle, which the programs look up.
BOOL WINAPI SimSetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                          LPVOID lpFileInformation, DWORD dwBufferSize);
// The file an open file handle reads, or null (not a file handle, no read
// access, or the file replaced meanwhile).
File *ReadableFileOf(HANDLE h);
// Whether an open of path for access, sharing share, meets an open that
// does not let it in, or does not let that open in (NT's share check).
bool SharingViolation(const std::string &path, DWORD access, DWORD share);
// WinVerifyTrust's state, released as the process ends.
void CloseTrustState(HANDLE h);

// Per-module reset hooks, called by sim::Reset.
void ResetHandles();
void ResetFiles();
void ResetInf();
void ResetLibraries();
void ResetTrust();

}  // namespace detail
}  // namespace sim

#endif
