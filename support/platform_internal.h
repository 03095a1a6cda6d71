#pragma once

// Not part of the library's interface, and never installed: the edition
// decision of detectWindowsEdition, open to the unit tests, which cannot make
// Wine report every release.

#include <windows.h>

#include <setup_support/platform.h>

// The decision of detectWindowsEdition for a given version record. `hpcTest`
// is asked, with the major and minor version, only for 6.0 and 6.1 systems
// that are not workstations; nonzero means the HPC edition.
void decideWindowsEdition(const OSVERSIONINFOEXW* version, int (*hpcTest)(DWORD majorVersion, DWORD minorVersion),
                          WindowsEditionFlags* flags);
