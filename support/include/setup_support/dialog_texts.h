#pragma once

// Texts of windows and dialog items, given directly or read from a module's
// string table. String-table texts are stored as the code page 1252 rendering
// of UTF-8 bytes: each stored character stands for one byte of UTF-8.

#include <windows.h>

// Sets the text of the dialog's item `itemId`; a missing item is left alone.
void setDialogItemText(const wchar_t* text, HWND dialog, int itemId);

// Reads string number stringId + idOffset from `module` (a missing string is
// the empty text; texts are cut to 4159 characters), takes each character as
// one byte of UTF-8 and decodes the text into `buffer`. With bufferSize 0 it
// only measures. Returns the count of wide characters written or needed,
// terminator included, plus one: a buffer of the measured count always holds
// the whole text. A buffer too small for it gives 1 and the empty text.
int loadResourceText(int stringId, HINSTANCE module, int idOffset, wchar_t* buffer, int bufferSize);

// Sets the dialog item's text to string number stringId + idOffset of
// `module`, decoded as loadResourceText does.
void setDialogItemResourceText(int stringId, HINSTANCE module, HWND dialog, int itemId, int idOffset);

// Sets the window's own text to string number stringId + idOffset of
// `module`, decoded as loadResourceText does.
void setWindowResourceText(int stringId, HINSTANCE module, HWND window, int idOffset);
