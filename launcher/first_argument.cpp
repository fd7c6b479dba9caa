// The first arguments of kelvane's command line, as the platform splits it.
#include "kelvane.h"

#include <shellapi.h>
#include <stdlib.h>

bool SplitsLikePlatform(const wchar_t *commandLine)
{
    // The program's name: the platform takes a leading quoted name as it
    // stands and starts the first argument right after its closing quote; the
    // runtime joins whatever follows up to a blank, and reads inner quotes.
    const wchar_t *rest = commandLine;
    if (*rest == L'"') {
        rest = wcschr(rest + 1, L'"');
        if (rest == nullptr) return true;  // the name is the whole line
        ++rest;
        if (*rest != L' ' && *rest != L'\t' && *rest != L'\0') return false;
    } else {
        for (; *rest != L' ' && *rest != L'\t' && *rest != L'\0'; ++rest) {
            if (*rest == L'"') return false;
        }
    }
    // The arguments: a doubled quote inside quotes is one quote to both, but
    // the platform then ends the quoted part and the runtime does not.
    return wcsstr(rest, L"\"\"") == nullptr;
}

bool GetFirstArguments(wchar_t **first, wchar_t **second)
{
    // The C runtime's wide start-up has split the command line; it is taken
    // where it splits as the platform does, so that only a line the two read
    // differently loads the platform's splitter. Either list stays allocated
    // until the process ends.
    const wchar_t *commandLine = GetCommandLineW();
    int count = __argc;
    wchar_t **arguments = __wargv;
    if (!SplitsLikePlatform(commandLine)) {
        decltype(&::CommandLineToArgvW) splitCommandLine;
        HMODULE shell32 = LoadSystemLibrary(kShellLibrary);
        if (shell32 == nullptr || !LoadRoutine(shell32, "CommandLineToArgvW", splitCommandLine)) return false;
        arguments = splitCommandLine(commandLine, &count);
    }
    if (arguments == nullptr) return false;
    *first = count >= 2 ? arguments[1] : nullptr;
    *second = count >= 3 ? arguments[2] : nullptr;
    return true;
}
