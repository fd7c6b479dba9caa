// Started by argument_split_test with a command line from its table. Built as
// kelvane is (GUI subsystem, the C runtime's wide start-up), it says through its
// exit code how kelvane's first argument compares with the platform's,
// CommandLineToArgvW's (null where there is none):
//   0   the runtime's is taken, and it is the platform's;
//   10  the platform's is taken, the line being one the two split differently;
//   1   the runtime's is taken, and it is not the platform's;
//   2   kelvane's first argument is not the platform's.
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
    wchar_t *argument = nullptr;
    if (platform == nullptr || __wargv == nullptr || !GetFirstArgument(&argument)) return 3;
    const wchar_t *expected = count >= 2 ? platform[1] : nullptr;
    if (!Same(expected, argument)) return 2;
    if (!SplitsLikePlatform(GetCommandLineW())) return 10;
    return Same(expected, __argc >= 2 ? __wargv[1] : nullptr) ? 0 : 1;
}
