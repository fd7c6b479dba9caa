// The limit of a launch from a folder argument: the calls the folder road must
// make, with nothing loaded beyond the kernel and no C runtime. The command line
// is split bare: the bench quotes the program, the folder and the interpreter
// (no path holds a quote), and the interpreter's command line is the rest.
//   limit "FOLDER" "INTERPRETER" COMMANDLINE
#include <windows.h>

namespace {

STARTUPINFOW gStartup;       // zero but for its size
PROCESS_INFORMATION gProcess;

// The quoted argument at at, terminated in place; at moves past it.
wchar_t *TakeQuoted(wchar_t *&at)
{
    while (*at == L' ') ++at;
    if (*at != L'"') return nullptr;
    wchar_t *start = ++at;
    while (*at != L'"' && *at != L'\0') ++at;
    if (*at == L'\0') return nullptr;
    *at++ = L'\0';
    return start;
}

} // namespace

extern "C" void __stdcall LimitMain()
{
    wchar_t *at = GetCommandLineW();
    wchar_t *program = TakeQuoted(at);
    wchar_t *folder = program != nullptr ? TakeQuoted(at) : nullptr;
    wchar_t *interpreter = folder != nullptr ? TakeQuoted(at) : nullptr;
    while (*at == L' ') ++at;
    if (interpreter != nullptr && GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES) {
        gStartup.cb = sizeof gStartup;
        if (CreateProcessW(interpreter, at, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &gStartup,
                           &gProcess)) {
            CloseHandle(gProcess.hThread);
            CloseHandle(gProcess.hProcess);
        }
    }
    ExitProcess(0);
}
