// Programs of ours that lie beside this one: found in our own folder, never
// elsewhere, checked (a signed build starts only a program signed by its own
// publisher) and started.
#ifndef UNINSTALLER_TRUST_H
#define UNINSTALLER_TRUST_H

#include <windows.h>

// Cuts the path in the 260-byte buffer pPath at its last backslash: the
// folder of a program's file name. FALSE (traced) for a null argument, and
// for a path without a backslash, which is then cleared.
BOOL Transf2Path(char *pPath);

// This program's full file name in pSelf, its folder in pFolder, and the
// full name of the file pName in that folder in pFullName (MAX_PATH bytes
// each). Where the module name cannot be read whole, or the full name would
// not fit, the buffers stay empty: starting an empty name fails, so that
// nothing is ever started from anywhere but our own folder.
void ProgramBeside(const char *pName, char *pSelf, char *pFolder, char *pFullName);

// Whether this program's own PE file carries a certificate table (an
// Authenticode signature): 1 or 0.
int IsSelfSigned(void);

// Opens the file pProgram so that nobody can change or replace it, and
// checks that it carries a valid signature of the publisher of pSelf, this
// program's file. 1: start it, its file open in *phProgram until the
// process has been created; 0: *ppReason says why not ("file not opened",
// "signed by another publisher", ...) with its code in *pCode, nothing is
// traced and nothing is left open.
int OpenTrustedProgram(const char *pSelf, const char *pProgram, HANDLE *phProgram,
                       const char **ppReason, DWORD *pCode);

// Starts pModule without arguments, its window hidden, in a new console,
// in the folder pPath (NULL: ours). Where bWait, waits for its end and
// reads its exit code into *pExitCode (STILL_ACTIVE where that cannot be
// read, and while it has not been waited for). 1 when it was started; 0
// with GetLastError's code in *pError. Nothing is traced.
int StartProgram(const char *pModule, const char *pPath, BOOL bWait, DWORD *pExitCode,
                 DWORD *pError);

#endif
