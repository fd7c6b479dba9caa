// The image's entry point. kelvane has a start of its own, for nothing of the
// C runtime's start-up is needed: the command line is split where it is read
// (GetFirstArguments), and the exit code is wWinMain's, always 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);

extern "C" void WINAPI KelvaneStart()
{
    ExitProcess(wWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOWDEFAULT));
}
