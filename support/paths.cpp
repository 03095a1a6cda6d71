#include "paths.h"

#include <windows.h>

#include <sys/stat.h>
#include <wchar.h>

int fileExists(const wchar_t* path)
{
    struct _stat status;
    return _wstat(path, &status) == 0 ? 1 : 0;
}

int createDirectoryIfMissing(const wchar_t* path)
{
    if (fileExists(path))
        return 1;
    return CreateDirectoryW(path, nullptr) ? 1 : 0;
}
