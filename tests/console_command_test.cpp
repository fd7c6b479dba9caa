// The folder the interpreter will stand in, and its command line, for every
// spelling of a candidate path: GetInterpreterView, ChooseConsoleFolder and
// BuildConsoleCommand as OpenConsoleIn chains them, without the file system.
#include "kelvane.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

constexpr wchar_t kWow64[] = L"C:\\Windows";  // the Windows folder, as if under WOW64
constexpr wchar_t kInDirectory[] = L"cmd.exe /K";
constexpr wchar_t kFromVariable[] = L"cmd.exe /E:ON /K pushd \"%KELVANE_FOLDER%\" & set KELVANE_FOLDER=";
constexpr wchar_t kFromVariableLiteral[] =
    L"cmd.exe /E:ON /V:OFF /K pushd \"%KELVANE_FOLDER%\" & set KELVANE_FOLDER=";

struct Case {
    const wchar_t *candidate;
    const wchar_t *nativeWindows;  // null: 32-bit Windows
    const wchar_t *folder;         // null: no folder
    FolderHandover handover;
    const wchar_t *commandLine;    // null: no spelling the interpreter can hold
};

// Relative names are taken from C:\, the test's current folder.
const Case kCases[] = {
    // Drive paths: the drive, then the rest of the full path, however spelled.
    {L"C:\\Work\\src", nullptr, L"C:\\Work\\src", kFolderInCommand, L"cmd.exe /K C: && cd \"\\Work\\src\""},
    {L"D:\\", nullptr, L"D:\\", kFolderInCommand, L"cmd.exe /K D: && cd \"\\\""},
    {L"E:\\My Files\\a b", nullptr, L"E:\\My Files\\a b", kFolderInCommand, L"cmd.exe /K E: && cd \"\\My Files\\a b\""},
    {L"C:", nullptr, L"C:\\", kFolderInCommand, L"cmd.exe /K C: && cd \"\\\""},
    {L"C:sub", nullptr, L"C:\\sub", kFolderInCommand, L"cmd.exe /K C: && cd \"\\sub\""},
    {L"C:\\\\windows", nullptr, L"C:\\windows", kFolderInCommand, L"cmd.exe /K C: && cd \"\\windows\""},
    {L"Z:\\\\", nullptr, L"Z:\\", kFolderInCommand, L"cmd.exe /K Z: && cd \"\\\""},
    {L"C:\\dir\\", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:\\dir\\\\\\", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:\\dir.", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:\\x\\..\\dir", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:/Work/src", nullptr, L"C:\\Work\\src", kFolderInCommand, L"cmd.exe /K C: && cd \"\\Work\\src\""},
    {L"C:\\a:b", nullptr, L"C:\\a:b", kFolderInCommand, L"cmd.exe /K C: && cd \"\\a:b\""},
    {L"C:\\a&b (x) ^;,=@[]'", nullptr, L"C:\\a&b (x) ^;,=@[]'", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\a&b (x) ^;,=@[]'\""},
    {L"Z:\\\u00fc\u6f22\U0001F600", nullptr, L"Z:\\\u00fc\u6f22\U0001F600", kFolderInCommand,
     L"cmd.exe /K Z: && cd \"\\\u00fc\u6f22\U0001F600\""},
    {L".", nullptr, L"C:\\", kFolderInCommand, L"cmd.exe /K C: && cd \"\\\""},
    {L"a&calc", nullptr, L"C:\\a&calc", kFolderInCommand, L"cmd.exe /K C: && cd \"\\a&calc\""},
    {L"dir\\", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    {L"\\Work", nullptr, L"C:\\Work", kFolderInCommand, L"cmd.exe /K C: && cd \"\\Work\""},
    {L"\\\\?\\C:\\dir", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    {L"\\\\?\\C:\\dir\\", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    {L"\\\\.\\C:\\x\\..\\dir", nullptr, L"C:\\dir", kFolderInCommand, L"cmd.exe /K C: && cd \"\\dir\""},
    // Never on the command line: what the interpreter would expand.
    {L"C:\\%USERPROFILE%", nullptr, L"C:\\%USERPROFILE%", kFolderAsDirectory, kInDirectory},
    {L"C:\\x\\bang!", nullptr, L"C:\\x\\bang!", kFolderAsDirectory, kInDirectory},
    {L"C:/x/%OS%", nullptr, L"C:\\x\\%OS%", kFolderAsDirectory, kInDirectory},
    // Under WOW64 the native system folder, seen by the native interpreter as
    // System32, goes on the command line as such; 32-bit Windows has no alias.
    {L"C:\\Windows\\Sysnative\\x", kWow64, L"C:\\Windows\\System32\\x", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"C:\\WINDOWS\\sysnative", kWow64, L"C:\\WINDOWS\\System32", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\WINDOWS\\System32\""},
    {L"C:\\Windows\\System32\\x\\", kWow64, L"C:\\Windows\\System32\\x", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"\\\\?\\C:\\Windows\\System32\\x", kWow64, L"C:\\Windows\\System32\\x", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"C:/Windows/Sysnative/x", kWow64, L"C:\\Windows\\System32\\x", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"C:\\Windows\\System32\\%x", kWow64, L"C:\\Windows\\System32\\%x", kFolderInCommand, nullptr},
    {L"C:\\Windows\\Sysnative\\a!b", kWow64, L"C:\\Windows\\System32\\a!b", kFolderInCommand, nullptr},
    {L"C:\\Windows\\SysnativeX", kWow64, L"C:\\Windows\\SysnativeX", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\Windows\\SysnativeX\""},
    {L"C:\\Windows\\SysWOW64\\%x", kWow64, L"C:\\Windows\\SysWOW64\\%x", kFolderAsDirectory, kInDirectory},
    {L"C:\\Windows\\Sysnative\\x", nullptr, L"C:\\Windows\\Sysnative\\x", kFolderInCommand,
     L"cmd.exe /K C: && cd \"\\Windows\\Sysnative\\x\""},
    // Network folders in every spelling: pushd through the variable, with the
    // extensions on, and delayed expansion off where a '!' would be expanded.
    {L"\\\\server\\share\\dir", nullptr, L"\\\\server\\share\\dir", kFolderInVariable, kFromVariable},
    {L"\\\\server\\share\\dir\\", nullptr, L"\\\\server\\share\\dir", kFolderInVariable, kFromVariable},
    {L"//server/share/dir", nullptr, L"\\\\server\\share\\dir", kFolderInVariable, kFromVariable},
    {L"\\/server\\share\\dir", nullptr, L"\\\\server\\share\\dir", kFolderInVariable, kFromVariable},
    {L"\\\\.\\UNC\\server\\share\\dir", nullptr, L"\\\\server\\share\\dir", kFolderInVariable, kFromVariable},
    {L"\\\\?\\UNC\\server\\share", nullptr, L"\\\\server\\share", kFolderInVariable, kFromVariable},
    {L"\\\\server\\share\\", nullptr, L"\\\\server\\share", kFolderInVariable, kFromVariable},
    {L"\\\\server\\share\\a%X%b", kWow64, L"\\\\server\\share\\a%X%b", kFolderInVariable, kFromVariable},
    {L"\\\\server\\share\\a!X!b", kWow64, L"\\\\server\\share\\a!X!b", kFolderInVariable, kFromVariableLiteral},
    // A network path without a share names no folder.
    {L"\\\\server", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\server\\", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"//server", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\?\\UNC\\server", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\\\share", nullptr, nullptr, kFolderInCommand, nullptr},
    // Refused: a device form whose plain form names another object, and devices.
    {L"\\\\?\\C:\\dir.", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\?\\C:\\dir ", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\?\\C:\\x\\NUL", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\?\\C:\\x\\..", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\?\\C:\\x/y", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\.\\PhysicalDrive0", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"\\\\.\\pipe\\x", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"COM1", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"aux", nullptr, nullptr, kFolderInCommand, nullptr},
    // Device names anywhere in a path, as Windows 10 and Wine read them.
    {L"C:\\x\\aux", nullptr, nullptr, kFolderInCommand, nullptr},
    {L"C:\\x\\com1.lnk", nullptr, nullptr, kFolderInCommand, nullptr},
};

int gPassed = 0;
int gFailed = 0;

void PrintWide(const wchar_t *text)
{
    char bytes[4000];
    WideCharToMultiByte(CP_UTF8, 0, text != nullptr ? text : L"(refused)", -1, bytes, sizeof bytes,
                        nullptr, nullptr);
    fputs(bytes, stdout);
}

void Check(bool passed, const wchar_t *candidate, const wchar_t *got)
{
    if (passed) {
        ++gPassed;
        return;
    }
    ++gFailed;
    fputs("FAILED for ", stdout);
    PrintWide(candidate);
    fputs(": got ", stdout);
    PrintWide(got);
    fputs("\n", stdout);
}

void CheckCase(const Case &c)
{
    wchar_t folder[kTargetPathUnits];
    bool redirected = false;
    if (!GetInterpreterView(c.candidate, c.nativeWindows, folder, &redirected)) {
        Check(c.folder == nullptr, c.candidate, nullptr);
        return;
    }
    if (c.folder == nullptr || wcscmp(folder, c.folder) != 0) {
        Check(false, c.candidate, folder);
        return;
    }
    if (ChooseConsoleFolder(folder, nullptr, redirected) != folder) {
        Check(c.commandLine == nullptr, c.candidate, L"(no spelling)");
        return;
    }
    wchar_t commandLine[kCommandLineUnits];
    FolderHandover handover = BuildConsoleCommand(folder, false, commandLine);
    Check(c.commandLine != nullptr && handover == c.handover && wcscmp(commandLine, c.commandLine) == 0,
          c.candidate, commandLine);
}

// The interpreter's limit, counted on the full path whatever the spelling: a
// trailing separator and a relative name count as the folder they name.
void CheckLengths()
{
    struct Length {
        const wchar_t *prefix;
        int units;  // of the full path
        const wchar_t *suffix;
        bool fits;
    };
    const Length lengths[] = {
        {L"C:\\", 258, L"", true},   {L"C:\\", 259, L"", false},      {L"C:\\", 258, L"\\", true},
        {L"C:\\", 258, L"\\\\", true}, {L"", 258, L"", true},         {L"", 259, L"", false},
        {L"\\\\?\\C:\\", 258, L"", true}, {L"\\\\?\\C:\\", 259, L"\\", false},
        {L"\\\\s\\share\\", 258, L"", true}, {L"\\\\s\\share\\", 259, L"", false},
    };
    for (const Length &length : lengths) {
        // A relative name is completed from C:\, three units.
        bool relative = length.prefix[0] == L'\0';
        size_t fixed = relative ? 3 : wcslen(length.prefix) - (length.prefix[2] == L'?' ? 4 : 0);
        wchar_t candidate[kTargetPathUnits];
        wcscpy(candidate, length.prefix);
        wmemset(candidate + wcslen(candidate), L'a', length.units - fixed);
        candidate[wcslen(length.prefix) + length.units - fixed] = L'\0';
        wcscat(candidate, length.suffix);
        wchar_t folder[kTargetPathUnits];
        bool redirected = false;
        bool viewed = GetInterpreterView(candidate, nullptr, folder, &redirected);
        Check(viewed && static_cast<int>(wcslen(folder)) == length.units &&
                  CanOpenConsoleIn(folder) == length.fits,
              candidate, viewed ? folder : nullptr);
    }

    // The longest target path has a view and fits the command line, 20 units
    // longer; a path of the buffer's size has none.
    wchar_t longest[kTargetPathUnits + 1] = L"C:\\";
    wmemset(longest + 3, L'a', kTargetPathUnits - 3);
    longest[kTargetPathUnits - 1] = L'\0';
    wchar_t folder[kTargetPathUnits];
    bool redirected = false;
    wchar_t commandLine[kCommandLineUnits] = L"";
    bool viewed = GetInterpreterView(longest, nullptr, folder, &redirected);
    if (viewed) BuildConsoleCommand(folder, false, commandLine);
    Check(viewed && wcslen(commandLine) == kTargetPathUnits - 1 + 20, longest, commandLine);
    longest[kTargetPathUnits - 1] = L'a';
    longest[kTargetPathUnits] = L'\0';
    Check(!GetInterpreterView(longest, nullptr, folder, &redirected), longest, folder);
}

// A path of the given length in units: prefix, then as many 'a' as it takes.
void MakePath(wchar_t *path, const wchar_t *prefix, size_t units)
{
    wcscpy(path, prefix);
    wmemset(path + wcslen(prefix), L'a', units - wcslen(prefix));
    path[units] = L'\0';
}

// A long path the interpreter cannot hold reaches it as its short path, and only
// as its starting directory; where no such spelling fits, there is none.
void CheckLongFolders()
{
    wchar_t fits[kTargetPathUnits], tooLong[kTargetPathUnits], network[kTargetPathUnits];
    wchar_t shortFits[kTargetPathUnits], shortTooLong[kTargetPathUnits];
    MakePath(fits, L"C:\\kt\\", 258);
    MakePath(tooLong, L"C:\\kt\\", 269);
    MakePath(network, L"\\\\s\\share\\", 300);
    wcscpy(shortFits, L"C:\\kt\\AAAAAA~1");
    MakePath(shortTooLong, L"C:\\kt\\A~", 259);
    struct Choice {
        const wchar_t *folder;
        const wchar_t *shortFolder;
        bool redirected;
        const wchar_t *chosen;  // null: none
    };
    const Choice choices[] = {
        {fits, shortFits, false, fits},
        {tooLong, shortFits, false, shortFits},
        {tooLong, nullptr, false, nullptr},
        {tooLong, shortTooLong, false, nullptr},
        {tooLong, tooLong, false, nullptr},  // a volume without short names
        {tooLong, shortFits, true, nullptr},
        {network, L"\\\\s\\share\\AAAAAA~1", false, nullptr},
        {fits, nullptr, true, fits},
    };
    for (const Choice &choice : choices) {
        const wchar_t *chosen = ChooseConsoleFolder(choice.folder, choice.shortFolder, choice.redirected);
        Check(chosen == choice.chosen, choice.folder, chosen);
    }
    wchar_t commandLine[kCommandLineUnits];
    Check(BuildConsoleCommand(shortFits, true, commandLine) == kFolderAsDirectory &&
              wcscmp(commandLine, kInDirectory) == 0,
          shortFits, commandLine);
}

// Only a full path is taken from a shortcut: no current folder completes it.
void CheckFullPaths()
{
    struct Path {
        const wchar_t *path;
        bool full;
    };
    const Path paths[] = {
        {L"C:\\x", true}, {L"c:/x", true}, {L"C:\\", true}, {L"\\\\s\\share", true}, {L"//s/share", true},
        {L"\\\\?\\C:\\x", true}, {L"C:x", false}, {L"C:", false}, {L"x\\y", false}, {L"\\x", false},
        {L".", false}, {L"..\\x", false}, {L"", false}, {L"1:\\x", false},
    };
    for (const Path &path : paths) {
        Check(IsFullPath(path.path) == path.full, path.path, path.full ? L"not full" : L"full");
    }
}

// The elevated session has neither the user's network connections nor their
// substituted drives: a folder on one is handed over as the path it stands for.
void CheckElevationFolders()
{
    struct Translation {
        const wchar_t *folder;
        const wchar_t *connection;  // WNetGetConnectionW's share, or null
        const wchar_t *device;      // QueryDosDeviceW's target, or null
        const wchar_t *translated;  // null: none fits
    };
    wchar_t deep[kTargetPathUnits];
    MakePath(deep, L"Z:\\", 990);
    const Translation translations[] = {
        {L"Z:\\dir\\sub", L"\\\\server\\share", nullptr, L"\\\\server\\share\\dir\\sub"},
        {L"Z:\\", L"\\\\server\\share", nullptr, L"\\\\server\\share"},
        {L"Z:\\dir", L"\\\\server\\share\\", nullptr, L"\\\\server\\share\\dir"},
        {L"Z:\\dir", L"\\\\server\\share", L"\\Device\\LanmanRedirector\\;Z:0\\server\\share",
         L"\\\\server\\share\\dir"},
        {L"S:\\dir", nullptr, L"\\??\\C:\\kt\\sub", L"C:\\kt\\sub\\dir"},
        {L"S:\\", nullptr, L"\\??\\C:\\kt\\sub", L"C:\\kt\\sub"},
        {L"S:\\", nullptr, L"\\??\\C:\\", L"C:\\"},
        {L"S:\\x", nullptr, L"\\??\\C:\\", L"C:\\x"},
        {L"S:\\a%b!c", nullptr, L"\\??\\D:\\x", L"D:\\x\\a%b!c"},
        {L"C:\\dir", nullptr, L"\\Device\\HarddiskVolume3", L"C:\\dir"},
        {L"C:\\dir", nullptr, nullptr, L"C:\\dir"},
        {L"\\\\server\\share\\dir", nullptr, nullptr, L"\\\\server\\share\\dir"},
        {deep, L"\\\\server\\share", nullptr, nullptr},
    };
    for (const Translation &t : translations) {
        wchar_t translated[kTargetPathUnits] = L"";
        bool fits = TranslateForElevation(t.folder, t.connection, t.device, translated);
        Check(fits == (t.translated != nullptr) && (!fits || wcscmp(translated, t.translated) == 0), t.folder,
              fits ? translated : nullptr);
    }
}

// Under WOW64 a link file in the native system folder is read through Sysnative.
void CheckSystemFolderNames()
{
    struct Name {
        const wchar_t *path;
        const wchar_t *replaced;  // null: unchanged
    };
    const Name names[] = {
        {L"C:\\Windows\\System32\\a.lnk", L"C:\\Windows\\Sysnative\\a.lnk"},
        {L"c:\\windows\\system32", L"c:\\windows\\Sysnative"},
        {L"C:\\Windows\\System32x\\a.lnk", nullptr},
        {L"C:\\Windows\\SysWOW64\\a.lnk", nullptr},
        {L"D:\\Windows\\System32\\a.lnk", nullptr},
    };
    for (const Name &name : names) {
        wchar_t path[kTargetPathUnits];
        wcscpy(path, name.path);
        bool replaced = ReplaceSystemFolder(path, kWow64, L"System32", L"Sysnative");
        Check(replaced == (name.replaced != nullptr) &&
                  wcscmp(path, replaced ? name.replaced : name.path) == 0,
              name.path, path);
    }
}

} // namespace

int wmain()
{
    if (!SetCurrentDirectoryW(L"C:\\")) {
        fputs("cannot stand in C:\\\n", stdout);
        return 1;
    }
    for (const Case &c : kCases) {
        CheckCase(c);
    }
    CheckLengths();
    CheckLongFolders();
    CheckFullPaths();
    CheckElevationFolders();
    CheckSystemFolderNames();
    printf("%d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
