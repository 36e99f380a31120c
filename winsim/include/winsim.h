// Test-facing interface of the simulated Windows layer: set a machine up,
// inject faults, run a program's code against it and read what happened.
#ifndef WINSIM_WINSIM_H
#define WINSIM_WINSIM_H

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sim {

// ASCII letters compared without regard to case, as Windows compares names.
struct CaseLess {
    bool operator()(const std::string &a, const std::string &b) const;
};
std::string Lower(const std::string &s);

// ---- registry ----
struct RegValue {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;  // bytes exactly as stored
};
typedef std::map<std::string, RegValue, CaseLess> RegKey;
RegValue Sz(const std::string &text);  // REG_SZ with its terminating NUL
RegValue Bytes(DWORD type, const std::vector<BYTE> &data);

// ---- devices ----
// A multi-string with its final empty entry, as SetupAPI stores hardware IDs.
std::vector<BYTE> MultiSz(std::initializer_list<std::string> entries);

struct Device {
    std::string instanceId;
    GUID classGuid{};
    bool attached = true;
    bool hasHardwareIds = true;
    std::vector<BYTE> hardwareIds;  // raw SPDRP_HARDWAREID bytes
    bool hasHardwareKey = false;    // DIREG_DEV key
    RegKey hardwareKey;
    bool hasDriverKey = false;      // DIREG_DRV key; SPDRP_DRIVER exists with it
    RegKey driverKey;
    DWORD hardwareIdReadError = 0;  // non-zero: every SPDRP_HARDWAREID read fails so
    // 0 or more: the size a too-small SPDRP_HARDWAREID read reports instead
    // of the real one (a driver that answers a size no larger than it needs).
    long long hardwareIdRequiredSize = -1;
    std::string driverKeyName;      // SPDRP_DRIVER's text; empty: "{class}\<nnnn>"
    DWORD driverReadError = 0;      // non-zero: every SPDRP_DRIVER read fails so
    DWORD removeError = 0;          // non-zero: DIF_REMOVE fails so
    DWORD removeNeedsFlags = 0;     // DI_NEEDREBOOT / DI_NEEDRESTART set by a removal
    DWORD removedWithFlags = 0;     // install-parameter flags the removal ran with
    bool removed = false;
};

// ---- files and ports ----
// A program file's Authenticode signature, as WinVerifyTrust judges it.
struct Signature {
    std::string subject;  // the signer certificate's subject; empty: not signed
    std::string issuer;   // and its issuer: the two name its publisher
    bool changed = false;      // the file was changed after it was signed
    bool trustedRoot = true;   // its chain ends in a root the machine trusts
};

struct File {
    std::string path;  // as created (original case)
    // FILE_ATTRIBUTE_REPARSE_POINT: a link to somewhere else (not modelled),
    // which only FILE_FLAG_OPEN_REPARSE_POINT opens as itself.
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    std::string content;  // a write appends to it
    Signature signature;
};

struct Port {
    bool heldByOther = false;  // another program has it open exclusively
    // Another program has it open for reading and writing, sharing both, on
    // a driver that allows shared opens: NT's share rules decide.
    bool heldShared = false;
    int openByUs = 0;
};

// ---- processes ----
// Wow64True: a 32-bit x86 process under WOW64 (on 64-bit Windows, Arm
// included); Wow64False: a native process. Wow64Absent: Windows without
// IsWow64Process (nor IsWow64Process2); Wow64Fails: IsWow64Process fails.
enum Wow64Mode { Wow64Absent, Wow64Fails, Wow64False, Wow64True };

struct ProcessStart {
    bool applicationNull = false;
    std::string application;
    bool commandLineNull = false;
    std::string commandLine;
    bool processAttributesNull = false;
    bool threadAttributesNull = false;
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    bool environmentNull = false;
    bool currentDirectoryNull = false;
    std::string currentDirectory;
    STARTUPINFOA startupInfo{};
};

struct MessageBoxCall {
    bool ownerNull = true;
    std::string text;
    std::string caption;
    UINT type = 0;
};

struct CmCall {
    std::string api;
    bool deviceIdNull = true;
    DEVINST devInst = 0;
    ULONG flags = 0;
    bool machineNull = true;
};

// One LoadLibraryExA call: what was asked for and the file it loaded.
struct LibraryLoad {
    std::string name;
    DWORD flags = 0;
    std::string loaded;  // full path of the module; empty when the call failed
};

// Everything that happened, in order.
struct Event {
    enum Kind {
        Debug,           // one OutputDebugStringA call
        MessageBox,
        ProcessStarted,  // text: application name
        WaitBegin,
        ProcessEnded,    // the started program's run is over
        ProcessTerminated,  // text: application; it was ended before its program was
        WaitEnd,
        DeviceRemoved,   // text: instance ID
        FileDeleted,     // text: path
        PackageUninstalled,  // text: INF name
        Reenumerated,
        DllDirectoriesSet,  // text: the flags SetDefaultDllDirectories took, "0x800"
        LibraryLoaded,      // text: full path of the module loaded
    } kind;
    std::string text;
};

struct Machine {
    std::vector<Device> devices;
    std::map<std::string, File, CaseLess> files;  // key: full path
    // The driver store: one package per published name ("oem12.inf"), whose
    // .inf (and .pnf) are in the inf folder while it is installed.
    std::set<std::string, CaseLess> driverStore;
    // A package's folder in the store (full path, its INF a copy of the
    // published one), by published name, where the machine has one: it goes
    // with its package.
    std::map<std::string, std::string, CaseLess> storeFolders;
    // Packages that copied files to DirId 13 (drivers that run from the
    // store): their uninstall is refused, forced or not, while a device
    // uses them.
    std::set<std::string, CaseLess> dirId13Packages;
    // A 32-bit process on 64-bit Windows cannot uninstall a package
    // (ERROR_IN_WOW64). Unconfirmed: documented for the class installer and
    // DiUninstallDriver, not for SetupUninstallOEMInf; Wine allows it.
    bool uninstallRefusedInWow64 = true;
    // false: keys cannot be opened for writing, nor files in the Windows
    // folder created, written or renamed; the token says not elevated.
    bool elevated = true;
    std::string windowsDir = "C:\\Windows";
    bool windowsDirFails = false;
    std::map<std::string, Port, CaseLess> ports;  // key: "COM7"
    Wow64Mode wow64 = Wow64False;
    // The machine Windows runs on: IMAGE_FILE_MACHINE_I386 (32-bit Windows),
    // AMD64 or ARM64.
    WORD nativeMachine = IMAGE_FILE_MACHINE_AMD64;
    // ARM64: Windows 11 runs x64 programs under emulation, Windows 10 does
    // not (starting one fails with ERROR_BAD_EXE_FORMAT).
    bool x64Emulation = true;
    // Windows before 10 1709: kernel32 without IsWow64Process2.
    bool noIsWow64Process2 = false;
    std::string moduleFileName = "C:\\Program Files\\Omrak\\Tidewell.exe";
    // The running program's PE headers, as GetModuleHandleA(NULL) maps
    // them: a PE32 (0x10B, the x86 build) or a PE32+ (0x20B, an x64 build),
    // with a certificate table when its file (moduleFileName) is signed.
    WORD imageMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    bool moduleFileNameFails = false;
    // A program that CreateProcessA can start, by full path; its run happens
    // while the starter waits for it (or when it closes the handle unwaited).
    std::map<std::string, std::function<void()>, CaseLess> programs;
    // The programs among them built for x86 (the uninstaller); the others
    // are x64 programs (the 64-bit sibling).
    std::set<std::string, CaseLess> x86Programs;
    CONFIGRET locateResult = CR_SUCCESS;
    // The process's window station and session.
    bool stationVisible = true;      // WSF_VISIBLE
    bool stationFlagsFail = false;   // its flags cannot be read
    DWORD sessionId = 1;
    DWORD processId = 0x200;  // a new process gets the next one
    SYSTEMTIME localTime{2026, 3, 2, 17, 9, 41, 7, 250};  // the clock GetLocalTime reads
    // Milliseconds since Windows started (GetTickCount64; GetTickCount gives
    // its low 32 bits): Windows started at the local time above less these.
    ULONGLONG tickCount = 7380000;
    // The time zone: local time is UTC plus this many minutes, an hour more
    // while daylight saving time is on.
    int utcOffsetMinutes = 60;
    bool daylightTime = false;
    // HKLM's keys other than the devices' own, by path below HKLM
    // ("SOFTWARE\\Omrak\\Device Tools"). A 32-bit process on 64-bit Windows
    // that does not ask for the 64-bit view (KEY_WOW64_64KEY) reaches
    // SOFTWARE\\... under SOFTWARE\\WOW6432Node.
    std::map<std::string, RegKey, CaseLess> registry;
    DWORD consoleSessionId = 1;      // the session attached to the console
    // Older Windows versions: functions that GetProcAddress does not find.
    bool noUninstallOemInf = false;  // setupapi without SetupUninstallOEMInfA
    bool noSessionFunctions = false; // kernel32 without the two session functions
    // Functions that GetProcAddress does not find in the loaded system DLLs.
    std::set<std::string> missingExports;
    CONFIGRET reenumerateResult = CR_SUCCESS;
    // Windows 8 and later, and Windows Vista and 7 with the loader update,
    // have SetDefaultDllDirectories and LoadLibraryExA's LOAD_LIBRARY_SEARCH_*
    // flags; false: a Windows without them (no such export, the flags
    // refused with ERROR_INVALID_PARAMETER).
    bool loaderSearchFlags = true;
    // The DLLs of the system folder (<windowsDir>\system32) that can be
    // loaded. A DLL anywhere else is a file of the machine (files).
    std::set<std::string, CaseLess> systemDlls{"kernel32.dll", "advapi32.dll", "user32.dll",
                                                "setupapi.dll", "msvcrt.dll", "cfgmgr32.dll",
                                                "wintrust.dll", "crypt32.dll"};
    // The process's default DLL directories (SetDefaultDllDirectories);
    // 0: the standard search order, the program's own folder first.
    DWORD defaultDllDirectories = 0;

    // What happened.
    std::vector<Event> events;
    std::vector<std::string> debug;
    std::vector<MessageBoxCall> messageBoxes;
    std::vector<ProcessStart> processStarts;
    std::vector<CmCall> cmCalls;
    std::vector<LibraryLoad> libraryLoads;
    std::vector<std::string> problems;  // misuse: double free, unknown handle...
    // The arguments of calls whose arguments matter: (api, text).
    std::vector<std::pair<std::string, std::string>> arguments;
};

Machine &M();
void Reset();  // a fresh machine, no faults, nothing open

// Convenience for setting a machine up.
Device &AddDevice(const std::string &instanceId, const GUID &classGuid,
                  std::initializer_list<std::string> hardwareIds, bool attached = true);
File &AddFile(const std::string &path, const std::string &content = "",
              DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
File &AddDirectory(const std::string &path);
bool FileExists(const std::string &path);
const Device *FindDevice(const std::string &instanceId);

// ---- fault injection ----
// The nth call (1-based) of api fails with error (0: the api's usual error).
// nth = 0 fails every call of it.
void FailCall(const std::string &api, int nth = 1, DWORD error = 0);
int Calls(const std::string &api);  // how many times api was called
// The recorded arguments of each call of api, in order.
std::vector<std::string> Arguments(const std::string &api);
// Every fallible call counts; the nth of all of them (1-based) can be made to fail.
int FallibleCalls();
const std::vector<std::string> &FallibleLog();  // api name of each fallible call
void FailFallibleCall(int nth);
// Another program acts right before the program's next call of api (once):
// to show what the program's open handles keep others from doing.
void BeforeCall(const std::string &api, std::function<void()> action);

// Another program at work while this one is about to make its nth call
// (1-based) of api: work runs as a process of its own, whose calls are
// neither counted nor failed; what it leaves open is closed when it ends.
void OtherProgramBefore(const std::string &api, int nth, std::function<void()> work);

// ---- ending the process ----
// Thrown out of the layer into the program when its process ends.
struct ProcessEnded {};
// The process ends right before its nth fallible call (after false), or,
// with after, right after that call has taken effect: at its next call into
// the platform, whatever that is.
void EndProcessAt(int nth, bool after);
// The process ends right after it has written this text with
// OutputDebugStringA: at its next call into the platform.
void EndProcessAfterMessage(const std::string &text);
// What Windows does when a process ends: its handles are closed (a program
// it started runs on), its keys, sets, INF and search handles and its memory
// released.
void EndProcess();
// A started program's exit code, as its main returned it (its runner calls
// this); a program that never does ends with 0, one ended before its end
// with 1.
void SetExitCode(DWORD code);
// A new process on the machine as it is: the logs of what happened, the
// faults, the call counts and the heap's peak start afresh; devices, files,
// the driver store, ports and settings stay.
void NewProcess();

// ---- accounting ----
// Every handle, key, set, INF handle, search handle, loaded library and heap
// block still open.
std::vector<std::string> OpenResources();
size_t HeapBytesNow();
size_t HeapBytesPeak();

// ---- reading the debug-output channel ----
// Pairs each prefix line with the message after it. Any write that is not a
// prefix-and-message pair (a bare line, or a prefix not followed by a message)
// comes out on its own, marked with "bare:".
std::vector<std::string> Messages(const std::string &prefix);

// Standard output written during a run.
void BeginStdoutCapture();
std::string EndStdoutCapture();

}  // namespace sim

#endif
