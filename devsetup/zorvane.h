// Zorvane64, the device-setup program: its two stages.
#ifndef DEVSETUP_ZORVANE_H
#define DEVSETUP_ZORVANE_H

void PurgeDriverlessDevices(void);
void RefreshDeviceTree(void);

#endif
