// Started by argument_split_test with a command line from its table. Built as
// kelvane is (GUI subsystem, kelvane's own start), it says through its
// exit code how kelvane's first two arguments compare with the platform's,
// CommandLineToArgvW's (null where there is none):
//   0   the runtime's are taken, and they are the platform's;
//   10  the platform's are taken, the line being one the two split differently;
//   1   the runtime's are taken, and they are not the platform's;
//   2   kelvane's first arguments are not the platform's.
#include "kelvane.h"

#include <shellapi.h>

#include <stdlib.h>
#include <wchar.h>

namespace {

bool Same(const wchar_t *a, const wchar_t *b)
{
    return a == nullptr || b == nullptr ? a == b : wcscmp(a, b) == 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int count = 0;
    wchar_t **platform = CommandLineToArgvW(GetCommandLineW(), &count);
    wchar_t *first = nullptr;
    wchar_t *second = nullptr;
    if (platform == nullptr || !GetFirstArguments(&first, &second)) return 3;
    const wchar_t *expectedFirst = count >= 2 ? platform[1] : nullptr;
    const wchar_t *expectedSecond = count >= 3 ? platform[2] : nullptr;
    if (!Same(expectedFirst, first) || !Same(expectedSecond, second)) return 2;
    if (!SplitsLikePlatform(GetCommandLineW())) return 10;
    // The runtime's split, which GetFirstArguments had it make, it keeps.
    if (__wargv == nullptr) return 3;
    return Same(expectedFirst, __argc >= 2 ? __wargv[1] : nullptr) &&
                   Same(expectedSecond, __argc >= 3 ? __wargv[2] : nullptr)
               ? 0
               : 1;
}
