#pragma once

// Probes of the machine: processor, Windows release and edition, registry
// sub-keys and strings, the running program's path. Every probe answers;
// none writes to the registry.

#include <windows.h>

// One byte per release or edition, 0 or 1, in this order; a detection sets at
// most one of them.
struct WindowsEditionFlags {
    unsigned char windows2000;         // 5.0
    unsigned char windowsXP;           // 5.1, or 5.2 workstation (XP x64)
    unsigned char windowsServer2003;   // 5.2 server or domain controller
    unsigned char windowsVista;        // 6.0 workstation
    unsigned char windowsServer2008;   // 6.0 server, not HPC
    unsigned char windowsServer2008R2; // 6.1 server, not HPC
    unsigned char windowsHpcServer;    // 6.0 or 6.1 server, HPC edition
    unsigned char windows7;            // 6.1 workstation
    unsigned char windows8;            // 6.2 workstation
};

// The capacity, terminator included, of a readRegistryString destination.
inline constexpr int kRegistryStringCapacity = 130;

// 1 when PROCESSOR_IDENTIFIER names a 64-bit x86 processor ("EM64T", "AMD64"
// or "Intel64", exact case), else 0 (also when set but empty). Unset, the
// platform's own processor architecture decides.
int isProcessor64Bit();

// 1 when HKEY_LOCAL_MACHINE\`keyPath` exists and one of its sub-key names
// contains `word`, letters a to z compared in either case; else 0. Searches
// the 64-bit registry view when `use64BitView` is nonzero. Opens existing
// keys only: a probe of a missing key creates nothing.
int hasSubkeyContaining(const wchar_t* keyPath, const wchar_t* word, int use64BitView);

// Fills `flags` for the running Windows: the release from GetVersionExW, and
// for 6.0 and 6.1 servers the HPC test (GetProductInfo's cluster server
// product, else a sub-key of HKLM\SOFTWARE\Microsoft naming "HPC").
void detectWindowsEdition(WindowsEditionFlags* flags);

// Reads the string value `valueName` of `root`\`subKey` into `destination`,
// which holds kRegistryStringCapacity code units, and always terminates it.
// A missing value, one that is no string (REG_SZ or REG_EXPAND_SZ, the latter
// unexpanded), and one of more than 129 code units give the empty string; a
// key that cannot be opened leaves `destination` as it was.
void readRegistryString(HKEY root, const wchar_t* subKey, wchar_t* destination, const wchar_t* valueName);

// The running program's full path, however long, by the two-call protocol:
// 0 when `capacity` held it and it was copied, else the needed length.
int getModuleFilePath(wchar_t* buffer, int capacity);
