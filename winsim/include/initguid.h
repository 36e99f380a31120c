// Simulated Windows layer: the GUID_DEVCLASS_* values are defined once inside
// the layer, so this header has nothing to switch on.
#ifndef WINSIM_INITGUID_H
#define WINSIM_INITGUID_H
#endif
