#include <setup_support/wide_strings.h>

#include <cstdarg>
#include <cwchar>

wchar_t* joinStrings(unsigned count, ...)
{
    size_t total = 0;
    va_list parts;
    va_start(parts, count);
    for (unsigned i = 0; i < count; ++i) {
        const wchar_t* part = va_arg(parts, const wchar_t*);
        if (part != nullptr)
            total += wcslen(part);
    }
    va_end(parts);

    // One allocation, sized in advance. Exhaustion is the program's operator
    // new's to handle: std::bad_alloc leaves the call, or the programs' own
    // rule (allocation.cpp) ends the run.
    wchar_t* joined = new wchar_t[total + 1];

    size_t position = 0;
    va_start(parts, count);
    for (unsigned i = 0; i < count; ++i) {
        const wchar_t* part = va_arg(parts, const wchar_t*);
        if (part == nullptr)
            continue;
        size_t length = wcslen(part);
        wmemcpy(joined + position, part, length);
        position += length;
    }
    va_end(parts);
    joined[total] = L'\0';
    return joined;
}

void freeString(wchar_t** value)
{
    if (value == nullptr || *value == nullptr)
        return;
    delete[] *value;
    *value = nullptr;
}

int copyWhenFits(const wchar_t* value, wchar_t* buffer, int capacity)
{
    const size_t needed = wcslen(value) + 1;
    if (buffer == nullptr || capacity < 0 || static_cast<size_t>(capacity) < needed)
        return static_cast<int>(needed);
    wmemcpy(buffer, value, needed);
    return 0;
}

void upperCaseCopy(const wchar_t* source, wchar_t* destination)
{
    size_t i = 0;
    for (; source[i] != L'\0'; ++i) {
        wchar_t unit = source[i];
        destination[i] = (unit >= L'a' && unit <= L'z') ? static_cast<wchar_t>(unit - (L'a' - L'A')) : unit;
    }
    destination[i] = L'\0';
}
