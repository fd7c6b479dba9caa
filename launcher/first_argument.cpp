// The first arguments of kelvane's command line, as the platform splits it.
#include "kelvane.h"
#include "libraries.h"

#include <wchar.h>

// The C runtime's wide splitter, the one its start-up calls before wmain. The
// program has a start of its own and calls it here; no wildcard is expanded.
struct RuntimeStartupInfo {
    int newMode;
};
extern "C" int __cdecl __wgetmainargs(int *count, wchar_t ***arguments, wchar_t ***environment, int expand,
                                      RuntimeStartupInfo *startupInfo);

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
    // The runtime's split is taken where it splits as the platform does, so
    // that only a line the two read differently loads the platform's splitter.
    // Either list stays allocated until the process ends.
    const wchar_t *commandLine = GetCommandLineW();
    int count = 0;
    wchar_t **arguments = nullptr;
    wchar_t **environment = nullptr;
    RuntimeStartupInfo startupInfo = {};
    if (SplitsLikePlatform(commandLine)) {
        if (__wgetmainargs(&count, &arguments, &environment, 0, &startupInfo) < 0) return false;
    } else {
        ShellLibrary shell;
        if (!LoadShellLibrary(shell)) return false;
        arguments = shell.SplitCommandLine(commandLine, &count);
    }
    if (arguments == nullptr) return false;
    *first = count >= 2 ? arguments[1] : nullptr;
    *second = count >= 3 ? arguments[2] : nullptr;
    return true;
}

void RestoreLastSeparator(wchar_t *argument)
{
    size_t length = wcslen(argument);
    if (length > 0 && argument[length - 1] == L'"') {
        argument[length - 1] = L'\\';
    }
}
