// The image's entry point. kelvane has a start of its own, for nothing of the
// C runtime's start-up is needed: the command line is split where it is read
// (GetFirstArguments), and the exit code is wWinMain's, always 0.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);

extern "C" void WINAPI KelvaneStart()
{
    // Before anything can load a library: where system code loads one by name
    // (theming, for one), it is looked for in the system folder alone, never
    // beside the program, in a Downloads folder or a folder its user can write.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ExitProcess(wWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOWDEFAULT));
}
