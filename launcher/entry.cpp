// The program's entry: which road the command line takes.
#include "kelvane.h"

#include <wchar.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // The narrow command line cannot carry every folder name; the wide one is
    // split by the platform's rules.
    wchar_t *argument = nullptr;
    wchar_t *second = nullptr;
    if (!GetFirstArguments(&argument, &second)) {
        FailNotAFolder();
    }
    if (argument == nullptr) {
        PickTargetFolder();
        return 0;
    }

    // "/admin FOLDER": the same folder, in a console started as administrator.
    // "/admin" alone is a folder of that name, and a folder argument may be
    // followed by anything.
    if (second != nullptr && _wcsicmp(argument, L"/admin") == 0) {
        RestoreLastSeparator(second);
        if (!OpenElevatedConsoleFor(second)) {
            FailNotAFolder();
        }
        return 0;
    }

    RestoreLastSeparator(argument);
    if (!OpenConsoleIn(argument, true)) {
        FailNotAFolder();
    }
    return 0;
}
