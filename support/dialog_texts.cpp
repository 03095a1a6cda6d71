#include <setup_support/dialog_texts.h>

#include "owners.h"

namespace {

// The longest string-table text read, terminator included.
const int kResourceTextCapacity = 4160;
const UINT kWesternCodePage = 1252;

// The decoded resource text as a new string, by the measure-and-fill calls.
UniqueString allocResourceText(int stringId, HINSTANCE module, int idOffset)
{
    const int count = loadResourceText(stringId, module, idOffset, nullptr, 0);
    UniqueString text(new wchar_t[count]());
    loadResourceText(stringId, module, idOffset, text.get(), count);
    return text;
}

} // namespace

void setDialogItemText(const wchar_t* text, HWND dialog, int itemId)
{
    SetWindowTextW(GetDlgItem(dialog, itemId), text);
}

int loadResourceText(int stringId, HINSTANCE module, int idOffset, wchar_t* buffer, int bufferSize)
{
    wchar_t stored[kResourceTextCapacity];
    stored[0] = L'\0';
    LoadStringW(module, static_cast<UINT>(stringId + idOffset), stored, kResourceTextCapacity);

    // Best-fit mapping and the default character stand in for what 1252
    // cannot hold; the block keeps one zero byte more than the text needs.
    const int byteCount = WideCharToMultiByte(kWesternCodePage, 0, stored, -1, nullptr, 0, nullptr, nullptr);
    UniqueBytes bytes(new char[byteCount + 1]());
    WideCharToMultiByte(kWesternCodePage, 0, stored, -1, bytes.get(), byteCount + 1, nullptr, nullptr);

    const int written = MultiByteToWideChar(CP_UTF8, 0, bytes.get(), -1, buffer, bufferSize);
    if (buffer == nullptr || bufferSize <= 0)
        return written + 1;
    if (written == 0) {
        buffer[0] = L'\0';
        return 1;
    }
    // Wine's decoder can take the terminator into an incomplete sequence at
    // the end ("é" stored alone is such a lead byte): the spare unit of the
    // count holds it then.
    if (buffer[written - 1] != L'\0') {
        if (written >= bufferSize) {
            buffer[0] = L'\0';
            return 1;
        }
        buffer[written] = L'\0';
    }
    return written + 1;
}

void setDialogItemResourceText(int stringId, HINSTANCE module, HWND dialog, int itemId, int idOffset)
{
    UniqueString text = allocResourceText(stringId, module, idOffset);
    setDialogItemText(text.get(), dialog, itemId);
}

void setWindowResourceText(int stringId, HINSTANCE module, HWND window, int idOffset)
{
    UniqueString text = allocResourceText(stringId, module, idOffset);
    SetWindowTextW(window, text.get());
}
