// SetupAPI device functions, device registry keys and the configuration
// manager of the simulated layer.
#include "internal.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

using namespace sim;
using namespace sim::detail;

namespace {

struct Element {
    size_t device;  // index into M().devices
    DWORD installFlags = 0;
};

struct DevInfoSet {
    std::vector<Element> elements;  // a snapshot: removals do not shift indices
};

struct KeyData {
    size_t device;
    int which;      // DIREG_DEV or DIREG_DRV
    REGSAM access;  // as granted
    std::string path;  // a key of the machine's registry, below HKLM; empty: a device's
};

bool SameGuid(const GUID &a, const GUID &b) { return memcmp(&a, &b, sizeof a) == 0; }

std::string GuidText(const GUID &g) {
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
             g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// The set element that a device record names, after Windows' checks.
Element *ElementOf(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD *pError) {
    Object *o = Lookup(set, KDevInfo);
    if (!o) {
        *pError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        *pError = ERROR_INVALID_USER_BUFFER;
        return nullptr;
    }
    DevInfoSet *s = (DevInfoSet *)o->data;
    if (data->Reserved == 0 || data->Reserved > s->elements.size()) {
        *pError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return &s->elements[data->Reserved - 1];
}

// The element a call names, after the call's fault point (failing with
// faultError unless the fault names another) and Windows' checks of the set
// and the element; null (last error set) when the call fails.
Element *CalledElement(const char *api, DWORD faultError, HDEVINFO set, PSP_DEVINFO_DATA data) {
    DWORD error;
    if (Fault(api, faultError, &error)) {
        SetLastError(error);
        return nullptr;
    }
    Element *e = ElementOf(set, data, &error);
    if (!e) SetLastError(error);
    return e;
}

// The element whose install parameters a call reads or writes, after the
// fault point and Windows' checks; null (last error set) when the call fails.
Element *ParamsElement(const char *api, HDEVINFO set, PSP_DEVINFO_DATA data,
                       PSP_DEVINSTALL_PARAMS_A params) {
    Element *e = CalledElement(api, ERROR_INVALID_PARAMETER, set, data);
    if (!e) return nullptr;
    if (!params || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    return e;
}

// Access that writes to a key. HKLM's keys, a device's included, only an
// elevated process may open so; anyone may read them.
const REGSAM kWriting =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// The key below HKLM that a call names, as the process reaches it: a 32-bit
// process on 64-bit Windows reaches SOFTWARE through WOW6432Node unless it
// asks for the 64-bit view; elsewhere the flag changes nothing.
std::string MachineKeyPath(const std::string &subKey, REGSAM samDesired) {
    std::string path = subKey;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    if (M().wow64 == Wow64True && !(samDesired & KEY_WOW64_64KEY) &&
        (Lower(path) == "software" || Lower(path).compare(0, 9, "software\\") == 0))
        path = "SOFTWARE\\WOW6432Node" + path.substr(8);
    return path;
}

HKEY NewMachineKey(const std::string &path, REGSAM samDesired) {
    KeyData *k = new KeyData{(size_t)-1, 0, samDesired & ~(REGSAM)(KEY_WOW64_64KEY | KEY_WOW64_32KEY), path};
    return (HKEY)NewHandle(KKey, "key HKLM\\" + path, k);
}

RegKey *KeyOf(const KeyData *k) {
    if (!k->path.empty()) {
        auto it = M().registry.find(k->path);
        return it == M().registry.end() ? nullptr : &it->second;
    }
    Device &d = M().devices[k->device];
    if (d.removed) return nullptr;
    if (k->which == DIREG_DEV) return d.hasHardwareKey ? &d.hardwareKey : nullptr;
    return d.hasDriverKey ? &d.driverKey : nullptr;
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
    (void)hwndParent;
    DWORD error;
    if (Fault("SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if ((!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) || Enumerator) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DevInfoSet *s = new DevInfoSet;
    for (size_t i = 0; i < M().devices.size(); ++i) {
        const Device &d = M().devices[i];
        if (d.removed) continue;
        if (!(Flags & DIGCF_ALLCLASSES) && !SameGuid(d.classGuid, *ClassGuid)) continue;
        if ((Flags & DIGCF_PRESENT) && !d.attached) continue;
        s->elements.push_back(Element{i});
    }
    return NewHandle(KDevInfo, "device information set", s);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData) {
    DWORD error;
    if (Fault("SetupDiEnumDeviceInfo", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return FALSE;
    }
    Object *o = Lookup(DeviceInfoSet, KDevInfo);
    if (!o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DevInfoSet *s = (DevInfoSet *)o->data;
    if (MemberIndex >= s->elements.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const Device &d = M().devices[s->elements[MemberIndex].device];
    DeviceInfoData->ClassGuid = d.classGuid;
    DeviceInfoData->DevInst = (DWORD)(s->elements[MemberIndex].device + 2);
    DeviceInfoData->Reserved = MemberIndex + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    Element *e = CalledElement("SetupDiGetDeviceRegistryPropertyA", ERROR_NO_SUCH_DEVINST, DeviceInfoSet, DeviceInfoData);
    if (!e) return FALSE;
    Device &d = M().devices[e->device];
    if (d.removed) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    if (!PropertyBuffer && PropertyBufferSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    char args[48];
    snprintf(args, sizeof args, "property=%u size=%u", (unsigned)Property,
             (unsigned)PropertyBufferSize);
    Arguments("SetupDiGetDeviceRegistryPropertyA", args);
    CheckBuffer("SetupDiGetDeviceRegistryPropertyA", PropertyBuffer, PropertyBufferSize);
    std::vector<BYTE> value;
    DWORD type;
    if (Property == SPDRP_HARDWAREID) {
        if (d.hardwareIdReadError) {
            SetLastError(d.hardwareIdReadError);
            return FALSE;
        }
        if (!d.hasHardwareIds) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        value = d.hardwareIds;
        type = REG_MULTI_SZ;
    } else if (Property == SPDRP_DRIVER) {
        if (d.driverReadError) {
            SetLastError(d.driverReadError);
            return FALSE;
        }
        if (!d.hasDriverKey) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        char text[64];
        snprintf(text, sizeof text, "%s\\%04u", GuidText(d.classGuid).c_str(),
                 (unsigned)e->device);
        std::string name = d.driverKeyName.empty() ? std::string(text) : d.driverKeyName;
        value.assign(name.c_str(), name.c_str() + name.size() + 1);
        type = REG_SZ;
    } else {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (RequiredSize) *RequiredSize = (DWORD)value.size();
    if (PropertyRegDataType) *PropertyRegDataType = type;
    if (PropertyBufferSize < value.size()) {
        if (RequiredSize && Property == SPDRP_HARDWAREID && d.hardwareIdRequiredSize >= 0)
            *RequiredSize = (DWORD)d.hardwareIdRequiredSize;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!value.empty()) memcpy(PropertyBuffer, value.data(), value.size());
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    Element *e = CalledElement("SetupDiGetDeviceInstanceIdA", ERROR_NO_SUCH_DEVINST, DeviceInfoSet, DeviceInfoData);
    if (!e) return FALSE;
    if (!DeviceInstanceId && DeviceInstanceIdSize) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    CheckBuffer("SetupDiGetDeviceInstanceIdA", DeviceInstanceId, DeviceInstanceIdSize);
    // The element keeps its instance ID after the node's removal.
    const std::string &id = M().devices[e->device].instanceId;
    if (RequiredSize) *RequiredSize = (DWORD)id.size() + 1;
    if (DeviceInstanceIdSize < id.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(DeviceInstanceId, id.c_str(), id.size() + 1);
    return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 DWORD Scope, DWORD HwProfile, DWORD KeyType,
                                 REGSAM samDesired) {
    char args[80];
    snprintf(args, sizeof args, "scope=%u profile=%u type=%u access=0x%X", (unsigned)Scope,
             (unsigned)HwProfile, (unsigned)KeyType, (unsigned)samDesired);
    Arguments("SetupDiOpenDevRegKey", args);
    Element *e = CalledElement("SetupDiOpenDevRegKey", ERROR_ACCESS_DENIED, DeviceInfoSet, DeviceInfoData);
    if (!e) return (HKEY)INVALID_HANDLE_VALUE;
    if (Scope != DICS_FLAG_GLOBAL || (KeyType != DIREG_DEV && KeyType != DIREG_DRV)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    Device &d = M().devices[e->device];
    if (d.removed) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    if ((KeyType == DIREG_DEV && !d.hasHardwareKey) || (KeyType == DIREG_DRV && !d.hasDriverKey)) {
        SetLastError(ERROR_KEY_DOES_NOT_EXIST);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    // A device's keys live under HKLM\SYSTEM. (With the global scope the
    // hardware profile is not used.)
    if (!M().elevated && (samDesired & kWriting)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return (HKEY)INVALID_HANDLE_VALUE;
    }
    KeyData *k = new KeyData{e->device, (int)KeyType, samDesired, std::string()};
    std::string what = std::string(KeyType == DIREG_DEV ? "hardware" : "driver") + " key of " +
                       d.instanceId;
    return (HKEY)NewHandle(KKey, what, k);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    DWORD error;
    if (Fault("RegQueryValueExA", ERROR_ACCESS_DENIED, &error)) return (LSTATUS)error;
    Object *o = Lookup((HANDLE)hKey, KKey);
    if (!o) return ERROR_INVALID_HANDLE;
    if (lpReserved) return ERROR_INVALID_PARAMETER;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    if (!(((KeyData *)o->data)->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    RegKey *key = KeyOf((KeyData *)o->data);
    if (!key) return ERROR_KEY_DELETED;
    auto it = key->find(lpValueName ? lpValueName : "");
    if (it == key->end()) return ERROR_FILE_NOT_FOUND;
    const RegValue &v = it->second;
    if (lpType) *lpType = v.type;
    DWORD size = (DWORD)v.data.size();
    if (!lpcbData) return ERROR_SUCCESS;
    if (!lpData) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    CheckBuffer("RegQueryValueExA", lpData, *lpcbData);
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size) memcpy(lpData, v.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES lpSecurityAttributes, HKEY *phkResult,
                               LPDWORD lpdwDisposition) {
    (void)lpClass;
    (void)lpSecurityAttributes;
    Arguments("RegCreateKeyExA", std::string(lpSubKey ? lpSubKey : "(null)"));
    DWORD error;
    if (Fault("RegCreateKeyExA", ERROR_ACCESS_DENIED, &error)) return (LSTATUS)error;
    if (!phkResult || !lpSubKey || Reserved || dwOptions != REG_OPTION_NON_VOLATILE) {
        Problem("RegCreateKeyExA: a call that is not modelled");
        return ERROR_INVALID_PARAMETER;
    }
    if (hKey != HKEY_LOCAL_MACHINE) {
        Problem("RegCreateKeyExA below a key other than HKEY_LOCAL_MACHINE");
        return ERROR_INVALID_HANDLE;
    }
    if (!M().elevated) return ERROR_ACCESS_DENIED;  // HKLM is the administrators'
    std::string path = MachineKeyPath(lpSubKey, samDesired);
    bool existed = M().registry.count(path) != 0;
    M().registry[path];
    if (lpdwDisposition) *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *phkResult = NewMachineKey(path, samDesired);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             HKEY *phkResult) {
    Arguments("RegOpenKeyExA", std::string(lpSubKey ? lpSubKey : "(null)"));
    DWORD error;
    if (Fault("RegOpenKeyExA", ERROR_ACCESS_DENIED, &error)) return (LSTATUS)error;
    if (!phkResult || !lpSubKey || ulOptions) {
        Problem("RegOpenKeyExA: a call that is not modelled");
        return ERROR_INVALID_PARAMETER;
    }
    if (hKey != HKEY_LOCAL_MACHINE) {
        Problem("RegOpenKeyExA below a key other than HKEY_LOCAL_MACHINE");
        return ERROR_INVALID_HANDLE;
    }
    std::string path = MachineKeyPath(lpSubKey, samDesired);
    if (!M().registry.count(path)) return ERROR_FILE_NOT_FOUND;
    if (!M().elevated && (samDesired & kWriting)) return ERROR_ACCESS_DENIED;
    *phkResult = NewMachineKey(path, samDesired);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE *lpData, DWORD cbData) {
    Arguments("RegSetValueExA", std::string(lpValueName ? lpValueName : "(default)"));
    DWORD error;
    if (Fault("RegSetValueExA", ERROR_ACCESS_DENIED, &error)) return (LSTATUS)error;
    Object *o = Lookup((HANDLE)hKey, KKey);
    if (!o) return ERROR_INVALID_HANDLE;
    if (Reserved || (!lpData && cbData)) return ERROR_INVALID_PARAMETER;
    if (!(((KeyData *)o->data)->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    RegKey *key = KeyOf((KeyData *)o->data);
    if (!key) return ERROR_KEY_DELETED;
    CheckBuffer("RegSetValueExA", lpData, cbData);
    RegValue v;
    v.type = dwType;
    if (cbData) v.data.assign(lpData, lpData + cbData);
    (*key)[lpValueName ? lpValueName : ""] = v;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    DWORD error;
    if (Fault("RegDeleteValueA", ERROR_ACCESS_DENIED, &error)) return (LSTATUS)error;
    Object *o = Lookup((HANDLE)hKey, KKey);
    if (!o) return ERROR_INVALID_HANDLE;
    if (!(((KeyData *)o->data)->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    RegKey *key = KeyOf((KeyData *)o->data);
    if (!key) return ERROR_KEY_DELETED;
    return key->erase(lpValueName ? lpValueName : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    Note("RegCloseKey");
    Object *o = Lookup((HANDLE)hKey, KKey);
    if (!o) {
        Problem("RegCloseKey on a key that is not open");
        return ERROR_INVALID_HANDLE;
    }
    delete (KeyData *)o->data;
    Release((HANDLE)hKey, KKey, "RegCloseKey");
    return ERROR_SUCCESS;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    Element *e = CalledElement("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, DeviceInfoSet, DeviceInfoData);
    if (!e) return FALSE;
    if (InstallFunction != DIF_REMOVE) {
        SetLastError(ERROR_DI_DO_DEFAULT);
        return FALSE;
    }
    Device &d = M().devices[e->device];
    if (M().wow64 == Wow64True) {
        // A 32-bit process on 64-bit Windows cannot run class installers.
        SetLastError(ERROR_IN_WOW64);
        return FALSE;
    }
    if (d.removed) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    if (d.removeError) {
        SetLastError(d.removeError);
        return FALSE;
    }
    d.removed = true;
    d.hasHardwareKey = d.hasDriverKey = false;
    d.hardwareKey.clear();
    d.driverKey.clear();
    d.removedWithFlags = e->installFlags;
    e->installFlags |= d.removeNeedsFlags;
    Log(Event::DeviceRemoved, d.instanceId);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet,
                                           PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    Element *e = ParamsElement("SetupDiGetDeviceInstallParamsA", DeviceInfoSet, DeviceInfoData,
                               DeviceInstallParams);
    if (!e) return FALSE;
    memset((char *)DeviceInstallParams + sizeof(DWORD), 0,
           sizeof *DeviceInstallParams - sizeof(DWORD));
    DeviceInstallParams->Flags = e->installFlags;
    return TRUE;
}

BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet,
                                           PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
    Element *e = ParamsElement("SetupDiSetDeviceInstallParamsA", DeviceInfoSet, DeviceInfoData,
                               DeviceInstallParams);
    if (!e) return FALSE;
    e->installFlags = DeviceInstallParams->Flags;
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    Note("SetupDiDestroyDeviceInfoList");
    Object *o = Lookup(DeviceInfoSet, KDevInfo);
    if (!o) {
        Problem("SetupDiDestroyDeviceInfoList on a set that is not open");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete (DevInfoSet *)o->data;
    Release(DeviceInfoSet, KDevInfo, "SetupDiDestroyDeviceInfoList");
    return TRUE;
}

BOOL WINAPI SetupUninstallOEMInfA(PCSTR InfFileName, DWORD Flags, PVOID Reserved) {
    char args[40];
    snprintf(args, sizeof args, " flags=%u", (unsigned)Flags);
    Arguments("SetupUninstallOEMInfA", (InfFileName ? InfFileName : "(null)") + std::string(args));
    DWORD error;
    if (Fault("SetupUninstallOEMInfA", ERROR_ACCESS_DENIED, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (!InfFileName || Reserved || strchr(InfFileName, '\\') || strchr(InfFileName, '/')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (M().wow64 == Wow64True && M().uninstallRefusedInWow64) {
        // Assumed, not documented: the driver store cannot be changed from
        // a 32-bit process on 64-bit Windows.
        SetLastError(ERROR_IN_WOW64);
        return FALSE;
    }
    std::string infDir = M().windowsDir + "\\inf\\";
    std::string path = infDir + InfFileName;
    if (!FindFile(path)) {
        // Also when its package is still in the store: without its
        // published .inf the package cannot be named any more.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!M().driverStore.count(InfFileName)) {
        // A file of the inf folder that no package was published as.
        SetLastError(ERROR_NOT_AN_INSTALLED_OEM_INF);
        return FALSE;
    }
    // Without the force flag a package still bound to a device stays; one
    // that copied files to DirId 13 stays even when forced, and so does any
    // on ARM64, which ignores the flag. The error of the DirId 13 case is
    // assumed to be the same: no document names it.
    if (!(Flags & SUOI_FORCEDELETE) || M().dirId13Packages.count(InfFileName) ||
        M().nativeMachine == IMAGE_FILE_MACHINE_ARM64) {
        std::string name = Lower(InfFileName);
        for (const auto &d : M().devices) {
            if (d.removed || !d.hasDriverKey) continue;
            auto it = d.driverKey.find("InfPath");
            if (it == d.driverKey.end()) continue;
            std::string bound(it->second.data.begin(), it->second.data.end());
            bound = bound.c_str();
            if (Lower(bound) == name) {
                SetLastError(ERROR_INF_IN_USE_BY_DEVICES);
                return FALSE;
            }
        }
    }
    // The package leaves the driver store; the .inf and its .pnf go with it,
    // whatever their attributes.
    std::string pnf = path.substr(0, path.size() >= 4 ? path.size() - 4 : 0) + ".pnf";
    for (const std::string &p : {path, pnf}) {
        File *f = FindFile(p);
        if (!f) continue;
        Log(Event::FileDeleted, f->path);
        M().files.erase(NormalPath(p));
    }
    auto folder = M().storeFolders.find(InfFileName);
    if (folder != M().storeFolders.end()) {
        const std::string dir = Lower(NormalPath(folder->second)) + "\\";
        for (auto f = M().files.begin(); f != M().files.end();)
            f = Lower(f->first).compare(0, dir.size(), dir) == 0 ? M().files.erase(f) : std::next(f);
        M().files.erase(NormalPath(folder->second));
        M().storeFolders.erase(folder);
    }
    M().driverStore.erase(InfFileName);
    M().dirId13Packages.erase(InfFileName);
    Log(Event::PackageUninstalled, InfFileName);
    return TRUE;
}

CONFIGRET WINAPI CM_Locate_DevNode_ExA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID, ULONG ulFlags,
                                       HMACHINE hMachine) {
    CmCall c;
    c.api = "CM_Locate_DevNode_ExA";
    c.deviceIdNull = pDeviceID == nullptr;
    c.flags = ulFlags;
    c.machineNull = hMachine == nullptr;
    M().cmCalls.push_back(c);
    DWORD error;
    if (Fault("CM_Locate_DevNode_ExA", CR_FAILURE, &error)) return error;
    if (!pdnDevInst) return CR_INVALID_POINTER;
    if (M().locateResult != CR_SUCCESS) return M().locateResult;
    if (pDeviceID && *pDeviceID) return CR_NO_SUCH_DEVNODE;
    *pdnDevInst = 1;  // the root of the device tree
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine) {
    CmCall c;
    c.api = "CM_Reenumerate_DevNode_Ex";
    c.devInst = dnDevInst;
    c.flags = ulFlags;
    c.machineNull = hMachine == nullptr;
    M().cmCalls.push_back(c);
    DWORD error;
    if (Fault("CM_Reenumerate_DevNode_Ex", CR_FAILURE, &error)) return error;
    if (dnDevInst != 1) return CR_INVALID_DEVNODE;
    Log(Event::Reenumerated, "");
    return M().reenumerateResult;
}

}  // extern "C"
