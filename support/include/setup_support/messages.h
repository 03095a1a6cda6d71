#pragma once

// Message boxes for users of the library; neither program shows one.

#include <windows.h>

// Shows `text` in a box captioned "INFORMATION" that has no owner, stays on
// top of all windows and takes the foreground, so that it is seen although
// the caller has no window. Returns MessageBoxW's answer (IDOK once closed).
int showInformationMessage(const wchar_t* text);

// Shows the system's own text for a Windows error code (such as a
// GetLastError value), in the user's default language and exactly as the
// system words it, through showInformationMessage. A code the system has no
// text for is shown as "Error <decimal> (0x<8 hex digits>): the system has
// no text for this code."
void showSystemErrorMessage(DWORD errorCode);
