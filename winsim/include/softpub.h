// Simulated layer: the trust provider the programs ask for.
#ifndef WINSIM_SOFTPUB_H
#define WINSIM_SOFTPUB_H

#include <wintrust.h>

// Authenticode: the file's signature and the signer's certificate chain.
#define WINTRUST_ACTION_GENERIC_VERIFY_V2 \
    { 0xaac56b, 0xcd44, 0x11d0, { 0x8c, 0xc2, 0x0, 0xc0, 0x4f, 0xc2, 0x95, 0xee } }

#endif
