// The floor of every run: a windowless program of the same toolchain and flags
// that does nothing. What a run costs beyond it is the program's own doing.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
