// Simulated Windows layer: the configuration manager subset.
#ifndef WINSIM_CFGMGR32_H
#define WINSIM_CFGMGR32_H
#include <windows.h>

typedef DWORD CONFIGRET;
typedef DWORD DEVINST;
typedef DEVINST *PDEVINST;
typedef HANDLE HMACHINE;
typedef CHAR *DEVINSTID_A;

#define CR_SUCCESS 0x00000000
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_FAILURE 0x00000013
#define CR_ACCESS_DENIED 0x00000033
#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_REENUMERATE_NORMAL 0x00000000

#ifdef __cplusplus
extern "C" {
#endif
CONFIGRET WINAPI CM_Locate_DevNode_ExA(PDEVINST pdnDevInst, DEVINSTID_A pDeviceID,
                                       ULONG ulFlags, HMACHINE hMachine);
CONFIGRET WINAPI CM_Reenumerate_DevNode_Ex(DEVINST dnDevInst, ULONG ulFlags,
                                           HMACHINE hMachine);
#ifdef __cplusplus
}
#endif
#endif
