// The C runtime's wide start-up, which splits kelvane's command line, against
// the platform's CommandLineToArgvW: for each command line of the table,
// split_child is started with it and says whether kelvane's first two
// arguments are the platform's, and whose splitter gave them.  usage: argument_split_test SPLIT_CHILD
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

// The program's name comes first, as the desktop and the shell write it, and
// in the other forms a command line may take. Where the two splitters differ,
// the platform's is loaded.
struct Line {
    const wchar_t *line;
    bool platform;  // the line is one the two split differently
};

const Line kLines[] = {
    {L"\"prog\"", false},
    {L"\"prog\" ", false},
    {L"\"prog\" C:\\kt", false},
    {L"\"prog\" \"C:\\Program Files\\x\" next", false},
    {L"\"prog\" \"C:\\\"", false},
    {L"\"prog\" \"C:\\\" next", false},
    {L"\"prog\" \"C:\\a b\\\" next", false},
    {L"\"prog\" a\\\\\\\"b", false},
    {L"\"prog\" \"a\\\\\\\\\"b c\"", false},
    {L"\"prog\" C:\\a\\\\b\\\\\\", false},
    {L"\"prog\" \\\\server\\share\\dir", false},
    {L"\"prog\" \"\\\\server\\share\\a b\\\\\"", false},
    {L"\"prog\"\tC:\\kt\tnext", false},
    {L"\"prog\" \t \"C:\\kt\" ", false},
    {L"\"prog\" \"C:\\kt\\\U0001F600 \u6f22\u5b57 \u00fc\"", false},
    {L"\"prog\" C:\\kt\\*", false},
    {L"\"prog\" C:\\w?ndows\\*.*", false},
    {L"\"prog\" %OS% !x! ^& &", false},
    {L"\"prog\" /admin \"C:\\\"", false},
    {L"\"prog\" /ADMIN \"C:\\a b\\\" x", false},
    {L"\"prog\" /admin \\\\server\\share\\a\\\\\"b c\"", false},
    {L"prog C:\\kt", false},
    {L"C:\\a b\\prog.exe C:\\kt", false},
    {L"\"C:\\a b\\prog.exe\" C:\\kt", false},
    {L" \"prog\" C:\\kt", false},
    {L"\"prog", false},
    {L"\"prog x y", false},
    // Doubled quotes, and program names quoted in part.
    {L"\"prog\" \"\" x", true},
    {L"\"prog\" \"\"", true},
    {L"\"prog\" \"a\"\"b\" c", true},
    {L"\"prog\" \"a\"\"\"b c\"", true},
    {L"\"prog\" \"C:\\kt\\a\"\" b\"", true},
    {L"\"prog\" a\\\"\"b", true},
    {L"\"C:\\a b\\prog.exe\"C:\\kt", true},
    {L"C:\\x\"a b\"\\prog.exe \"C:\\kt\"", true},
    {L"prog\"x\" C:\\kt", true},
};

int gPassed = 0;
int gFailed = 0;

void Check(const wchar_t *child, wchar_t *line, bool platform)
{
    // The child may change the line it is given; the table's stays as it is.
    static wchar_t commandLine[32768];
    wcscpy(commandLine, line);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD result = 3;
    if (CreateProcessW(child, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 4);
        }
        GetExitCodeProcess(process.hProcess, &result);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (result == (platform ? 10u : 0u)) {
        ++gPassed;
        return;
    }
    ++gFailed;
    char bytes[200];
    line[60] = L'\0';
    WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
    printf("FAILED (%lu) for %s\n", result, bytes);
}

} // namespace

int wmain(int count, wchar_t **args)
{
    if (count != 2) {
        fputs("usage: argument_split_test SPLIT_CHILD\n", stdout);
        return 2;
    }
    static wchar_t line[32768];
    for (const Line &table : kLines) {
        wcscpy(line, table.line);
        Check(args[1], line, table.platform);
    }
    // The longest command line the platform starts: 32,000 units.
    wcscpy(line, L"\"prog\" \"C:\\");
    size_t at = wcslen(line);
    wmemset(line + at, L'x', 32000 - at - 1);
    wcscpy(line + 32000 - 1, L"\"");
    Check(args[1], line, false);
    printf("%d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
