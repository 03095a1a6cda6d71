#include <setup_support/file_paths.h>

#include <windows.h>

#include <sys/stat.h>
#include <wchar.h>

namespace {

bool isSeparator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

// "C:\" or a lone separator: the only names that may end in a separator.
bool isRootPath(const wchar_t* path, size_t length)
{
    return length == 1 || (length == 3 && path[1] == L':');
}

} // namespace

int fileExists(const wchar_t* path)
{
    // The 64-bit runtime's stat drops trailing separators that the 32-bit one
    // keeps; decide here so that both builds answer alike.
    size_t length = wcslen(path);
    if (length > 0 && isSeparator(path[length - 1]) && !isRootPath(path, length))
        return 0;
    struct _stat status;
    return _wstat(path, &status) == 0 ? 1 : 0;
}

int createDirectoryIfMissing(const wchar_t* path)
{
    if (fileExists(path))
        return 1;
    return CreateDirectoryW(path, nullptr) ? 1 : 0;
}
