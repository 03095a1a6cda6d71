#include <setup_support/messages.h>

#include <cwchar>

#include "owners.h"

namespace {

const wchar_t kInformationCaption[] = L"INFORMATION";
// No owner window to stand in front of: the box must put itself on top.
const UINT kInformationType = MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST;
const DWORD kSystemTextFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
const wchar_t kUnknownCodeFormat[] = L"Error %lu (0x%08lX): the system has no text for this code.";

} // namespace

int showInformationMessage(const wchar_t* text)
{
    return MessageBoxW(nullptr, text, kInformationCaption, kInformationType);
}

void showSystemErrorMessage(DWORD errorCode)
{
    wchar_t* systemText = nullptr;
    FormatMessageW(kSystemTextFlags, nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
    UniqueLocal<wchar_t> ownedText(systemText);
    if (ownedText) {
        showInformationMessage(ownedText.get());
        return;
    }

    // An empty box would tell the user nothing; the number at least lets
    // someone look the code up.
    wchar_t unknownCode[sizeof(kUnknownCodeFormat) / sizeof(kUnknownCodeFormat[0]) + 20];
    swprintf(unknownCode, sizeof(unknownCode) / sizeof(unknownCode[0]), kUnknownCodeFormat, errorCode, errorCode);
    showInformationMessage(unknownCode);
}
