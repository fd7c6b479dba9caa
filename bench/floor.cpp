// The floor of a launch from a folder argument: only the calls that road must
// make, with nothing else loaded. No C runtime: the entry is called directly.
//   floor FOLDER INTERPRETER COMMANDLINE
#include <windows.h>
#include <shellapi.h>

namespace {

STARTUPINFOW gStartup;       // zero but for its size
PROCESS_INFORMATION gProcess;

} // namespace

extern "C" void __stdcall FloorMain()
{
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args != nullptr && count == 4 && GetFileAttributesW(args[1]) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesW(args[1]) != INVALID_FILE_ATTRIBUTES) {
        gStartup.cb = sizeof gStartup;
        if (CreateProcessW(args[2], args[3], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &gStartup,
                           &gProcess)) {
            CloseHandle(gProcess.hThread);
            CloseHandle(gProcess.hProcess);
        }
    }
    ExitProcess(0);
}
