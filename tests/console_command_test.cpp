// The interpreter's command line for every form of target path.
#include "kelvane.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

struct Case {
    const wchar_t *targetPath;
    const wchar_t *commandLine;
    FolderHandover handover;
    const wchar_t *folder;
};

constexpr wchar_t kOpenInDirectory[] = L"cmd.exe /K";
constexpr wchar_t kOpenFromVariable[] = L"cmd.exe /K pushd \"%KELVANE_FOLDER%\" & set KELVANE_FOLDER=";

const Case kCases[] = {
    // Drive paths without '%': drive part up to the first colon, folder part quoted.
    {L"C:\\Work\\src", L"cmd.exe /K C: && cd \"\\Work\\src\"", kFolderInCommand, L""},
    {L"D:\\", L"cmd.exe /K D: && cd \"\\\"", kFolderInCommand, L""},
    {L"E:\\My Files\\a b", L"cmd.exe /K E: && cd \"\\My Files\\a b\"", kFolderInCommand, L""},
    {L"C:", L"cmd.exe /K C: && cd \"\"", kFolderInCommand, L""},
    {L"c:sub", L"cmd.exe /K c: && cd \"sub\"", kFolderInCommand, L""},
    {L"C:\\a:b", L"cmd.exe /K C: && cd \"\\a:b\"", kFolderInCommand, L""},
    {L"C:\\a&b (x) ^!;,=@[]'", L"cmd.exe /K C: && cd \"\\a&b (x) ^!;,=@[]'\"", kFolderInCommand, L""},
    {L"Z:\\\u00fc\u6f22\U0001F600", L"cmd.exe /K Z: && cd \"\\\u00fc\u6f22\U0001F600\"", kFolderInCommand, L""},
    // Never on the command line: '%', '/', relative names, extended-length forms.
    {L"C:\\%USERPROFILE%", kOpenInDirectory, kFolderAsDirectory, L"C:\\%USERPROFILE%"},
    {L"C:\\x\\%OS%x", kOpenInDirectory, kFolderAsDirectory, L"C:\\x\\%OS%x"},
    {L".", kOpenInDirectory, kFolderAsDirectory, L"."},
    {L"dir", kOpenInDirectory, kFolderAsDirectory, L"dir"},
    {L"a&calc", kOpenInDirectory, kFolderAsDirectory, L"a&calc"},
    {L"\\\\?\\C:\\dir", kOpenInDirectory, kFolderAsDirectory, L"C:\\dir"},
    {L"\\Work", kOpenInDirectory, kFolderAsDirectory, L"\\Work"},
    {L"1:\\x", kOpenInDirectory, kFolderAsDirectory, L"1:\\x"},
    {L"C:/Work/src", kOpenInDirectory, kFolderAsDirectory, L"C:/Work/src"},
    // Network folders: pushd through the variable.
    {L"\\\\server\\share\\dir", kOpenFromVariable, kFolderInVariable, L"\\\\server\\share\\dir"},
    {L"\\\\server\\share\\%OS%", kOpenFromVariable, kFolderInVariable, L"\\\\server\\share\\%OS%"},
    {L"\\\\?\\UNC\\server\\share", kOpenFromVariable, kFolderInVariable, L"\\\\server\\share"},
};

void PrintWide(const wchar_t *text)
{
    char bytes[4000];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    fputs(bytes, stdout);
}

} // namespace

int wmain()
{
    int passed = 0;
    int failed = 0;
    for (const Case &c : kCases) {
        wchar_t commandLine[kCommandLineUnits];
        wchar_t folder[kTargetPathUnits];
        wmemset(folder, L'#', kTargetPathUnits);
        FolderHandover handover = BuildConsoleCommand(c.targetPath, commandLine, folder);
        if (handover == c.handover && wcscmp(commandLine, c.commandLine) == 0 &&
            wcscmp(folder, c.folder) == 0) {
            ++passed;
            continue;
        }
        ++failed;
        fputs("FAILED for ", stdout);
        PrintWide(c.targetPath);
        fputs(": got ", stdout);
        PrintWide(commandLine);
        fputs(" / ", stdout);
        PrintWide(folder);
        fputs("\n", stdout);
    }

    // The longest target path fits, 20 units longer on the command line.
    wchar_t longest[kTargetPathUnits] = L"C:";
    wmemset(longest + 2, L'a', kTargetPathUnits - 3);
    longest[kTargetPathUnits - 1] = L'\0';
    wchar_t commandLine[kCommandLineUnits];
    wchar_t folder[kTargetPathUnits];
    BuildConsoleCommand(longest, commandLine, folder);
    if (wcslen(commandLine) == kTargetPathUnits - 1 + 20) {
        ++passed;
    } else {
        ++failed;
        fputs("FAILED for the longest path\n", stdout);
    }

    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
