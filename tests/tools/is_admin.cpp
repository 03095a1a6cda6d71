// Prints 1 or 0: the library's administrator test, as the calling process
// sees it. Lets the system tests confirm which privilege a run had.

#include <cstdio>

#include <setup_support/privilege.h>

int wmain()
{
    std::printf("%d\n", isUserAdmin());
    return 0;
}
