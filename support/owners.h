#pragma once

// Owners for the platform resources the library obtains, so that each one is
// released on every path. The Win32 types and release calls stay visible.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>

#include <setup_support/wide_strings.h>

struct StringDeleter {
    void operator()(wchar_t* value) const { freeString(&value); }
};
using UniqueString = std::unique_ptr<wchar_t[], StringDeleter>;

// Handles whose empty value is NULL (tokens, processes, events).
struct HandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleDeleter>;

// CreateFileW's empty value is INVALID_HANDLE_VALUE, not NULL.
struct FileHandleDeleter {
    struct pointer {
        HANDLE value = INVALID_HANDLE_VALUE;
        pointer() = default;
        pointer(HANDLE handle) : value(handle) {}
        pointer(std::nullptr_t) {}
        explicit operator bool() const { return value != INVALID_HANDLE_VALUE; }
        operator HANDLE() const { return value; }
        bool operator==(const pointer& other) const { return value == other.value; }
        bool operator!=(const pointer& other) const { return value != other.value; }
        bool operator==(std::nullptr_t) const { return value == INVALID_HANDLE_VALUE; }
        bool operator!=(std::nullptr_t) const { return value != INVALID_HANDLE_VALUE; }
    };
    void operator()(pointer handle) const { CloseHandle(handle.value); }
};
using UniqueFileHandle = std::unique_ptr<void, FileHandleDeleter>;

struct RegKeyDeleter {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer<HKEY>::type, RegKeyDeleter>;

struct LocalDeleter {
    void operator()(void* block) const { LocalFree(block); }
};
template <typename T>
using UniqueLocal = std::unique_ptr<T, LocalDeleter>;

struct SidDeleter {
    void operator()(PSID sid) const { FreeSid(sid); }
};
using UniqueSid = std::unique_ptr<void, SidDeleter>;

struct ComDeleter {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using UniqueCom = std::unique_ptr<T, ComDeleter>;

struct BstrDeleter {
    void operator()(BSTR value) const { SysFreeString(value); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

struct FileStreamDeleter {
    void operator()(FILE* stream) const { fclose(stream); }
};
using UniqueFileStream = std::unique_ptr<FILE, FileStreamDeleter>;

// Byte buffers handed out by readFileBytes.
using UniqueBytes = std::unique_ptr<char[]>;
