// Simulated Windows layer: the setup class GUIDs the programs use.
#ifndef WINSIM_DEVGUID_H
#define WINSIM_DEVGUID_H
#include <windows.h>
#ifdef __cplusplus
extern "C" {
#endif
extern const GUID GUID_DEVCLASS_MODEM;  // {4D36E96D-E325-11CE-BFC1-08002BE10318}
extern const GUID GUID_DEVCLASS_PORTS;  // {4D36E978-E325-11CE-BFC1-08002BE10318}
extern const GUID GUID_DEVCLASS_USB;    // {36FC9E60-C465-11CF-8056-444553540000}
#ifdef __cplusplus
}
#endif
#endif
