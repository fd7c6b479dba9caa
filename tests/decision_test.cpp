// The folder decision and the console plan over a platform of the test's own:
// for a table of candidates, each row with the file system, WOW64 and the road
// it says, the folder decided on and what would be started for it. Paths are
// made whole by Windows' own GetFullPathNameW, from C:\, the test's current
// folder; everything else is this file's platform.
#include "kelvane.h"

#include <stdio.h>
#include <wchar.h>

namespace {

// Names of 10 and 100 units, for paths about the interpreter's limit.
#define N10 L"nnnnnnnnnn"
#define N100 N10 N10 N10 N10 N10 N10 N10 N10 N10 N10
// Folders of 258 units, the longest the interpreter holds, of 259 and of 269
// (drive letter and colon, and the rest); a network folder and a folder in the
// native system folder of 259.
#define FITS_REST L"\\kt\\" N100 N100 N10 N10 N10 N10 N10 L"nn"
#define FITS L"C:" FITS_REST
#define OVER L"C:\\kt\\" N100 N100 N10 N10 N10 N10 N10 L"nnn"
#define LONG L"C:\\kt\\" N100 N100 N10 N10 N10 N10 N10 N10 L"nnn"
#define NET_OVER L"\\\\s\\share\\" N100 N100 N10 N10 N10 N10 L"nnnnnnnnn"
#define SYS_OVER L"C:\\Windows\\System32\\" N100 N100 N10 N10 N10 L"nnnnnnnnn"
// 999 units, the longest target path, and 1000.
#define N900 N100 N100 N100 N100 N100 N100 N100 N100 N100
#define LONGEST L"C:\\kt\\" N900 N10 N10 N10 N10 N10 N10 N10 N10 N10 L"nnn"
#define TOO_LONG L"C:\\kt\\" N900 N10 N10 N10 N10 N10 N10 N10 N10 N10 L"nnnn"
#define UNITS(path) (sizeof path / sizeof(wchar_t) - 1)
static_assert(UNITS(FITS) == 258 && UNITS(OVER) == 259 && UNITS(LONG) == 269 && UNITS(NET_OVER) == 259 &&
              UNITS(SYS_OVER) == 259 && UNITS(LONGEST) == 999 && UNITS(TOO_LONG) == 1000);

// The test's file system. A path is a folder with no short name unless an entry
// says otherwise; a link file gives the target its entry names.
struct Entry {
    const wchar_t *path;       // its long path
    const wchar_t *shortPath;  // its short path; null: the long one
    DWORD attributes = FILE_ATTRIBUTE_DIRECTORY;
    bool opens = true;
    DWORD type = FILE_TYPE_DISK;
    const wchar_t *target = nullptr;  // what the link reader gives; null: no link
    bool unsettled = false;           // the reader could not set aside a folder record
};

constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kMissing = INVALID_FILE_ATTRIBUTES;

const Entry kEntries[] = {
    {L"C:\\kt\\nothing", nullptr, kMissing},
    {L"C:\\kt\\note.txt", nullptr, kFile},
    {L"C:\\kt\\locked", nullptr, FILE_ATTRIBUTE_DIRECTORY, false},
    {L"C:\\kt\\pipe", nullptr, kFile, true, FILE_TYPE_PIPE},
    {L"C:\\kt\\device", nullptr, kFile | FILE_ATTRIBUTE_DEVICE},
    {L"C:\\Program Files", L"C:\\PROGRA~1"},
    {L"C:\\kt\\Long Folder Name", L"C:\\kt\\LONGFO~1"},
    {LONG, L"C:\\kt\\NNNNNN~1"},
    {NET_OVER, L"\\\\s\\share\\NNNNNN~1"},
    {SYS_OVER, L"C:\\Windows\\System32\\NNNNNN~1"},
    {L"C:\\kt\\folder.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\kt\\Long Folder Name"},
    {L"C:\\kt\\short.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\kt\\LONGFO~1"},
    {L"C:\\kt\\long.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\kt\\NNNNNN~1"},
    {L"C:\\kt\\file.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\kt\\note.txt"},
    {L"C:\\kt\\gone.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\kt\\nothing"},
    {L"C:\\kt\\relative.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"rel-target"},
    {L"C:\\kt\\drive-relative.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:kt"},
    // The reader cuts a longer target to its buffer: the first 1000 units name
    // the target's parent.
    {L"C:\\kt\\cut.lnk", nullptr, kFile, true, FILE_TYPE_DISK,
     L"C:\\kt\\x\\..\\" N900 N10 N10 N10 N10 N10 N10 N10 N10 L"nnnnnnnnn\\sub"},
    {L"C:\\kt\\sysnative.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\Windows\\Sysnative\\kt"},
    {L"C:\\kt\\twin.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\Program Files (x86)\\Common Files", true},
    {L"C:\\kt\\most.lnk", nullptr, kFile, true, FILE_TYPE_DISK, FITS},
    {L"C:\\kt\\max.lnk", nullptr, kFile, true, FILE_TYPE_DISK, OVER},
    // A link file only the native system folder holds is read through Sysnative.
    {L"C:\\Windows\\System32\\kt.lnk", nullptr, kFile},
    {L"C:\\Windows\\Sysnative\\kt.lnk", nullptr, kFile, true, FILE_TYPE_DISK, L"C:\\Windows\\System32\\kt"},
};

// The session's drive letters: connected to network shares, and substituted.
struct Letter {
    wchar_t drive;
    const wchar_t *connection;  // WNetGetConnectionW's share, or null
    const wchar_t *device;      // QueryDosDeviceW's target
};

const Letter kLetters[] = {
    {L'C', nullptr, L"\\Device\\HarddiskVolume3"},
    {L'W', L"\\\\nas\\media", L"\\Device\\LanmanRedirector\\;W:0\\nas\\media"},
    {L'Y', L"\\\\nas\\media\\deep\\", L"\\Device\\LanmanRedirector\\;Y:0\\nas\\media\\deep"},
    {L'Z', L"\\\\nas\\media", L"\\Device\\LanmanRedirector\\;Z:0\\nas\\media"},
    {L'S', nullptr, L"\\??\\C:\\kt\\sub"},
    {L'T', nullptr, L"\\??\\S:\\nested"},
    {L'U', nullptr, L"\\??\\UNC\\nas\\media\\x"},
    {L'V', nullptr, L"\\??\\Z:\\x"},
    {L'Q', nullptr, L"\\??\\R:\\"},
    {L'R', nullptr, L"\\??\\Q:\\"},
};

const Letter *FindLetter(wchar_t drive)
{
    for (const Letter &letter : kLetters) {
        if (letter.drive == drive) return &letter;
    }
    return nullptr;
}

const wchar_t *gWindows;  // the Windows folder of a row under WOW64, or null

// path without a \\?\ prefix (\\?\UNC\s\x as \\s\x), in plain (kExtendedPathUnits).
void Unprefixed(const wchar_t *path, wchar_t *plain)
{
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        plain[0] = L'\\';
        wcscpy(plain + 1, path + 7);
    } else {
        wcscpy(plain, wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path);
    }
}

// The entry whose long path (or short path) path is, with or without a prefix.
const Entry *FindEntry(const wchar_t *path, bool byShortPath = false)
{
    wchar_t plain[kExtendedPathUnits];
    Unprefixed(path, plain);
    for (const Entry &entry : kEntries) {
        const wchar_t *name = byShortPath ? entry.shortPath : entry.path;
        if (name != nullptr && _wcsicmp(name, plain) == 0) return &entry;
    }
    return nullptr;
}

// Writes path into out (units), prefixed where original was, as the kernel's
// routines answer.
DWORD Answer(const wchar_t *original, const wchar_t *path, wchar_t *out, DWORD units)
{
    wchar_t answer[kExtendedPathUnits] = L"";
    if (wcsncmp(original, L"\\\\?\\", 4) == 0) {
        wcscpy(answer, IsNetworkPath(path) ? L"\\\\?\\UNC" : L"\\\\?\\");
        path += IsNetworkPath(path) ? 1 : 0;
    }
    wcscat(answer, path);
    DWORD length = static_cast<DWORD>(wcslen(answer));
    if (length >= units) return length + 1;
    wcscpy(out, answer);
    return length;
}

DWORD GetLongPath(const wchar_t *path, wchar_t *longPath, DWORD units)
{
    const Entry *entry = FindEntry(path, true);
    if (entry == nullptr) entry = FindEntry(path);
    if (entry != nullptr && entry->attributes == kMissing) return 0;
    wchar_t plain[kExtendedPathUnits];
    Unprefixed(path, plain);
    return Answer(path, entry != nullptr ? entry->path : plain, longPath, units);
}

// A volume without short names gives the long path.
DWORD GetShortPath(const wchar_t *path, wchar_t *shortPath, DWORD units)
{
    const Entry *entry = FindEntry(path);
    wchar_t plain[kExtendedPathUnits];
    Unprefixed(path, plain);
    return Answer(path, entry != nullptr && entry->shortPath != nullptr ? entry->shortPath : plain, shortPath,
                  units);
}

DWORD GetAttributes(const wchar_t *path)
{
    const Entry *entry = FindEntry(path);
    return entry != nullptr ? entry->attributes : FILE_ATTRIBUTE_DIRECTORY;
}

bool GetOpenedType(const wchar_t *path, bool, DWORD *type)
{
    const Entry *entry = FindEntry(path);
    *type = entry != nullptr ? entry->type : FILE_TYPE_DISK;
    return entry == nullptr || entry->opens;
}

bool GetNativeWindowsFolder(wchar_t *windows)
{
    if (gWindows != nullptr) wcscpy(windows, gWindows);
    return gWindows != nullptr;
}

UINT WINAPI GetSystemFolder(LPWSTR folder, UINT units)
{
    wcsncpy(folder, L"C:\\Windows\\system32", units);
    return 19;
}

UINT WINAPI GetWindowsFolder(LPWSTR folder, UINT units)
{
    wcsncpy(folder, L"C:\\Windows", units);
    return 10;
}

// A link reader that, like Windows', cuts a long target to MAX_PATH units.
bool ReadShortcut(const wchar_t *linkPath, ShortcutRecord &record)
{
    const Entry *entry = FindEntry(linkPath);
    if (entry == nullptr || entry->target == nullptr) return false;
    wcsncpy(record.target, entry->target, MAX_PATH - 1);
    record.target[MAX_PATH - 1] = L'\0';
    record.unsettled = entry->unsettled;
    return true;
}

bool GetDriveConnection(wchar_t drive, wchar_t *share, DWORD units)
{
    const Letter *letter = FindLetter(drive);
    if (letter == nullptr || letter->connection == nullptr) return false;
    wcsncpy(share, letter->connection, units);
    return true;
}

DWORD WINAPI GetDosDevice(LPCWSTR drive, LPWSTR device, DWORD units)
{
    const Letter *letter = FindLetter(drive[0]);
    if (letter == nullptr) return 0;
    wcsncpy(device, letter->device, units);
    return static_cast<DWORD>(wcslen(device) + 2);
}

const Platform kTestPlatform = {GetFullPathNameW, GetLongPath,    GetShortPath,       GetAttributes,
                                GetOpenedType,    GetNativeWindowsFolder, GetSystemFolder, GetWindowsFolder,
                                ReadShortcut,     GetDriveConnection,     GetDosDevice};

constexpr wchar_t kWow64[] = L"C:\\Windows";  // the Windows folder, as if under WOW64
// Where a form that does not stand the interpreter in its folder starts it.
constexpr wchar_t kWindowsFolder[] = L"C:\\Windows";
constexpr wchar_t kInDirectory[] = L"cmd.exe /K";
constexpr wchar_t kFromVariable[] = L"cmd.exe /E:ON /K pushd \"%KELVANE_FOLDER%\" & set KELVANE_FOLDER=";
constexpr wchar_t kFromVariableLiteral[] =
    L"cmd.exe /E:ON /V:OFF /K pushd \"%KELVANE_FOLDER%\" & set KELVANE_FOLDER=";

struct Row {
    const wchar_t *candidate;
    const wchar_t *windows;  // the Windows folder under WOW64; null: 32-bit Windows
    const wchar_t *folder;   // decided on; null: no folder
    const wchar_t *command;  // the interpreter's command line; null: it holds no spelling
    const wchar_t *directory = kWindowsFolder;  // its starting directory
    const wchar_t *variable = L"";              // KELVANE_FOLDER's value; "": none
    bool picked = false;             // picked in the dialog, where a shortcut is no folder
};

const Row kRows[] = {
    // Drive paths: the drive, then the rest of the full path, however spelled.
    {L"C:\\Work\\src", nullptr, L"C:\\Work\\src", L"cmd.exe /K C: && cd \"\\Work\\src\""},
    {L"D:\\", nullptr, L"D:\\", L"cmd.exe /K D: && cd \"\\\""},
    {L"E:\\My Files\\a b", nullptr, L"E:\\My Files\\a b", L"cmd.exe /K E: && cd \"\\My Files\\a b\""},
    {L"C:", nullptr, L"C:\\", L"cmd.exe /K C: && cd \"\\\""},
    {L"C:sub", nullptr, L"C:\\sub", L"cmd.exe /K C: && cd \"\\sub\""},
    {L"C:\\\\windows", nullptr, L"C:\\windows", L"cmd.exe /K C: && cd \"\\windows\""},
    {L"Z:\\\\", nullptr, L"Z:\\", L"cmd.exe /K Z: && cd \"\\\""},
    {L"C:\\dir\\", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:\\dir\\\\\\", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:\\dir.", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:\\x\\..\\dir", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    {L"C:/Work/src", nullptr, L"C:\\Work\\src", L"cmd.exe /K C: && cd \"\\Work\\src\""},
    {L"C:\\a:b", nullptr, L"C:\\a:b", L"cmd.exe /K C: && cd \"\\a:b\""},
    {L"C:\\a&b (x) ^;,=@[]'", nullptr, L"C:\\a&b (x) ^;,=@[]'", L"cmd.exe /K C: && cd \"\\a&b (x) ^;,=@[]'\""},
    {L"Z:\\\u00fc\u6f22\U0001F600", nullptr, L"Z:\\\u00fc\u6f22\U0001F600", L"cmd.exe /K Z: && cd \"\\\u00fc\u6f22\U0001F600\""},
    {L".", nullptr, L"C:\\", L"cmd.exe /K C: && cd \"\\\""},
    {L"a&calc", nullptr, L"C:\\a&calc", L"cmd.exe /K C: && cd \"\\a&calc\""},
    {L"dir\\", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    {L"\\Work", nullptr, L"C:\\Work", L"cmd.exe /K C: && cd \"\\Work\""},
    {L"\\\\?\\C:\\dir", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    {L"\\\\?\\C:\\dir\\", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    {L"\\\\.\\C:\\x\\..\\dir", nullptr, L"C:\\dir", L"cmd.exe /K C: && cd \"\\dir\""},
    // Never on the command line: what the interpreter would expand.
    {L"C:\\%USERPROFILE%", nullptr, L"C:\\%USERPROFILE%", kInDirectory, L"C:\\%USERPROFILE%"},
    {L"C:\\x\\bang!", nullptr, L"C:\\x\\bang!", kInDirectory, L"C:\\x\\bang!"},
    {L"C:/x/%OS%", nullptr, L"C:\\x\\%OS%", kInDirectory, L"C:\\x\\%OS%"},
    // Under WOW64 the native system folder, seen by the native interpreter as
    // System32, goes on the command line as such; 32-bit Windows has no alias.
    {L"C:\\Windows\\Sysnative\\x", kWow64, L"C:\\Windows\\System32\\x", L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"C:\\WINDOWS\\sysnative", kWow64, L"C:\\WINDOWS\\System32", L"cmd.exe /K C: && cd \"\\WINDOWS\\System32\""},
    {L"C:\\Windows\\System32\\x\\", kWow64, L"C:\\Windows\\System32\\x", L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"\\\\?\\C:\\Windows\\System32\\x", kWow64, L"C:\\Windows\\System32\\x", L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"C:/Windows/Sysnative/x", kWow64, L"C:\\Windows\\System32\\x", L"cmd.exe /K C: && cd \"\\Windows\\System32\\x\""},
    {L"C:\\Windows\\System32\\%x", kWow64, L"C:\\Windows\\System32\\%x", nullptr},
    {L"C:\\Windows\\Sysnative\\a!b", kWow64, L"C:\\Windows\\System32\\a!b", nullptr},
    {L"C:\\Windows\\SysnativeX", kWow64, L"C:\\Windows\\SysnativeX", L"cmd.exe /K C: && cd \"\\Windows\\SysnativeX\""},
    {L"C:\\Windows\\SysWOW64\\%x", kWow64, L"C:\\Windows\\SysWOW64\\%x", kInDirectory, L"C:\\Windows\\SysWOW64\\%x"},
    {L"C:\\Windows\\Sysnative\\x", nullptr, L"C:\\Windows\\Sysnative\\x", L"cmd.exe /K C: && cd \"\\Windows\\Sysnative\\x\""},
    // Network folders in every spelling: pushd through the variable, with the
    // extensions on, and delayed expansion off where a '!' would be expanded.
    {L"\\\\server\\share\\dir", nullptr, L"\\\\server\\share\\dir", kFromVariable, kWindowsFolder, L"\\\\server\\share\\dir"},
    {L"\\\\server\\share\\dir\\", nullptr, L"\\\\server\\share\\dir", kFromVariable, kWindowsFolder, L"\\\\server\\share\\dir"},
    {L"//server/share/dir", nullptr, L"\\\\server\\share\\dir", kFromVariable, kWindowsFolder, L"\\\\server\\share\\dir"},
    {L"\\/server\\share\\dir", nullptr, L"\\\\server\\share\\dir", kFromVariable, kWindowsFolder, L"\\\\server\\share\\dir"},
    {L"\\\\.\\UNC\\server\\share\\dir", nullptr, L"\\\\server\\share\\dir", kFromVariable, kWindowsFolder, L"\\\\server\\share\\dir"},
    {L"\\\\?\\UNC\\server\\share", nullptr, L"\\\\server\\share", kFromVariable, kWindowsFolder, L"\\\\server\\share"},
    {L"\\\\server\\share\\", nullptr, L"\\\\server\\share", kFromVariable, kWindowsFolder, L"\\\\server\\share"},
    {L"\\\\server\\share\\a%X%b", kWow64, L"\\\\server\\share\\a%X%b", kFromVariable, kWindowsFolder, L"\\\\server\\share\\a%X%b"},
    {L"\\\\server\\share\\a!X!b", kWow64, L"\\\\server\\share\\a!X!b", kFromVariableLiteral, kWindowsFolder, L"\\\\server\\share\\a!X!b"},
    // A network path without a share names no folder.
    {L"\\\\server", nullptr, nullptr, nullptr},
    {L"\\\\server\\", nullptr, nullptr, nullptr},
    {L"//server", nullptr, nullptr, nullptr},
    {L"\\\\?\\UNC\\server", nullptr, nullptr, nullptr},
    {L"\\\\\\share", nullptr, nullptr, nullptr},
    // Refused: a device form whose plain form names another object, and devices.
    {L"\\\\?\\C:\\dir.", nullptr, nullptr, nullptr},
    {L"\\\\?\\C:\\dir ", nullptr, nullptr, nullptr},
    {L"\\\\?\\C:\\x\\NUL", nullptr, nullptr, nullptr},
    {L"\\\\?\\C:\\x\\..", nullptr, nullptr, nullptr},
    {L"\\\\?\\C:\\x/y", nullptr, nullptr, nullptr},
    {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", nullptr, nullptr, nullptr},
    {L"\\\\.\\PhysicalDrive0", nullptr, nullptr, nullptr},
    {L"\\\\.\\pipe\\x", nullptr, nullptr, nullptr},
    {L"COM1", nullptr, nullptr, nullptr},
    {L"aux", nullptr, nullptr, nullptr},
    // Device names anywhere in a path, as Windows 10 and Wine read them.
    {L"C:\\x\\aux", nullptr, nullptr, nullptr},
    {L"C:\\x\\com1.lnk", nullptr, nullptr, nullptr},
    // Short names: the long path is decided on, and handed over.
    {L"C:\\PROGRA~1", nullptr, L"C:\\Program Files", L"cmd.exe /K C: && cd \"\\Program Files\""},
    {L"c:\\progra~1\\", nullptr, L"C:\\Program Files", L"cmd.exe /K C: && cd \"\\Program Files\""},
    // The interpreter's limit, on the long path however spelled; a longer
    // folder by its short path as starting directory, where it has one.
    {FITS, nullptr, FITS, L"cmd.exe /K C: && cd \"" FITS_REST L"\""},
    {FITS L"\\\\", nullptr, FITS, L"cmd.exe /K C: && cd \"" FITS_REST L"\""},
    {L"\\\\?\\" FITS, nullptr, FITS, L"cmd.exe /K C: && cd \"" FITS_REST L"\""},
    {OVER, nullptr, OVER, nullptr},
    {LONG, nullptr, LONG, kInDirectory, L"C:\\kt\\NNNNNN~1"},
    {L"C:\\kt\\NNNNNN~1", nullptr, LONG, kInDirectory, L"C:\\kt\\NNNNNN~1"},
    {L"\\\\?\\" LONG L"\\", nullptr, LONG, kInDirectory, L"C:\\kt\\NNNNNN~1"},
    {NET_OVER, nullptr, NET_OVER, nullptr},
    {SYS_OVER, kWow64, SYS_OVER, nullptr},
    {LONGEST, nullptr, LONGEST, nullptr},
    {TOO_LONG, nullptr, nullptr, nullptr},
    // Nothing there, a file, what cannot be entered, a pipe, a device.
    {L"C:\\kt\\nothing", nullptr, nullptr, nullptr},
    {L"C:\\kt\\note.txt", nullptr, nullptr, nullptr},
    {L"C:\\kt\\locked", nullptr, nullptr, nullptr},
    {L"C:\\kt\\pipe", nullptr, nullptr, nullptr},
    {L"C:\\kt\\device", nullptr, nullptr, nullptr},
    // Shortcuts: the target's long path; in the dialog, a link is a file.
    {L"C:\\kt\\folder.lnk", nullptr, L"C:\\kt\\Long Folder Name", L"cmd.exe /K C: && cd \"\\kt\\Long Folder Name\""},
    {L"C:\\kt\\short.lnk", nullptr, L"C:\\kt\\Long Folder Name", L"cmd.exe /K C: && cd \"\\kt\\Long Folder Name\""},
    {L"C:\\kt\\long.lnk", nullptr, LONG, kInDirectory, L"C:\\kt\\NNNNNN~1"},
    {L"C:\\kt\\folder.lnk", nullptr, nullptr, nullptr, kWindowsFolder, L"", true},
    {L"C:\\kt\\file.lnk", nullptr, nullptr, nullptr},
    {L"C:\\kt\\gone.lnk", nullptr, nullptr, nullptr},
    {L"C:\\kt\\relative.lnk", nullptr, nullptr, nullptr},
    {L"C:\\kt\\drive-relative.lnk", nullptr, nullptr, nullptr},
    {L"C:\\kt\\cut.lnk", nullptr, nullptr, nullptr},
    {L"C:\\kt\\sysnative.lnk", kWow64, L"C:\\Windows\\System32\\kt", L"cmd.exe /K C: && cd \"\\Windows\\System32\\kt\""},
    {L"C:\\Windows\\System32\\kt.lnk", kWow64, L"C:\\Windows\\System32\\kt",
     L"cmd.exe /K C: && cd \"\\Windows\\System32\\kt\""},
    {L"C:\\kt\\x.lnk", nullptr, L"C:\\kt\\x.lnk", L"cmd.exe /K C: && cd \"\\kt\\x.lnk\""},
    // A target read as MAX_PATH - 1 units may have been cut; under WOW64 a link
    // whose folder record stays may give the 32-bit twin.
    {L"C:\\kt\\most.lnk", nullptr, FITS, L"cmd.exe /K C: && cd \"" FITS_REST L"\""},
    {L"C:\\kt\\max.lnk", nullptr, nullptr, nullptr},
    {L"C:\\kt\\twin.lnk", kWow64, nullptr, nullptr},
    // A share a drive letter of the session is connected to is entered through
    // it, the deepest connection and the first letter of equals; no other.
    {L"\\\\nas\\media\\films", nullptr, L"\\\\nas\\media\\films", L"cmd.exe /K W: && cd \"\\films\""},
    {L"\\\\NAS\\Media", kWow64, L"\\\\NAS\\Media", L"cmd.exe /K W: && cd \"\\\""},
    {L"\\\\nas\\media\\deep\\x", nullptr, L"\\\\nas\\media\\deep\\x", L"cmd.exe /K Y: && cd \"\\x\""},
    {L"\\\\nas\\media\\%OS%", nullptr, L"\\\\nas\\media\\%OS%", kInDirectory, L"W:\\%OS%"},
    {L"\\\\nas\\media2\\x", nullptr, L"\\\\nas\\media2\\x", kFromVariable, kWindowsFolder,
     L"\\\\nas\\media2\\x"},
};

int gPassed = 0;
int gFailed = 0;

void PrintWide(const wchar_t *text)
{
    char bytes[4000];
    WideCharToMultiByte(CP_UTF8, 0, text != nullptr ? text : L"(none)", -1, bytes, sizeof bytes, nullptr, nullptr);
    fputs(bytes, stdout);
}

void Check(bool passed, const wchar_t *what, const wchar_t *got)
{
    if (passed) {
        ++gPassed;
        return;
    }
    ++gFailed;
    fputs("FAILED for ", stdout);
    PrintWide(what);
    fputs(": got ", stdout);
    PrintWide(got);
    fputs("\n", stdout);
}

bool Same(const wchar_t *expected, const wchar_t *got)
{
    return expected == nullptr ? got == nullptr : got != nullptr && wcscmp(expected, got) == 0;
}

void CheckRow(const Row &row)
{
    gWindows = row.windows;
    DecidedFolder folder;
    bool decided = DecideFolder(kTestPlatform, row.candidate, !row.picked, folder);
    if (!Same(row.folder, decided ? folder.path : nullptr)) {
        Check(false, row.candidate, decided ? folder.path : nullptr);
        return;
    }
    ConsolePlan plan;
    bool planned = decided && PlanConsole(kTestPlatform, folder, plan);
    // Under WOW64 the native interpreter, by its Sysnative path, titled by its
    // System32 path as a Command Prompt is.
    const wchar_t *interpreter = row.windows != nullptr ? L"C:\\Windows\\Sysnative\\cmd.exe"
                                                        : L"C:\\Windows\\system32\\cmd.exe";
    const wchar_t *title = row.windows != nullptr ? L"C:\\Windows\\System32\\cmd.exe" : L"";
    Check(Same(row.command, planned ? plan.commandLine : nullptr) &&
              (!planned || (wcscmp(plan.interpreter, interpreter) == 0 && wcscmp(plan.directory, row.directory) == 0 &&
                            wcscmp(plan.variable, row.variable) == 0 && wcscmp(plan.title, title) == 0)),
          row.candidate, planned ? plan.commandLine : nullptr);
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
        DecidedFolder folder;
        bool viewed = GetInterpreterView(kTestPlatform, candidate, nullptr, folder);
        Check(viewed && static_cast<int>(wcslen(folder.path)) == length.units &&
                  CanOpenConsoleIn(folder.path) == length.fits,
              candidate, viewed ? folder.path : nullptr);
    }

    // The longest target path has a view and fits the command line, 20 units
    // longer; a path of the buffer's size has none.
    wchar_t longest[kTargetPathUnits + 1] = L"C:\\";
    wmemset(longest + 3, L'a', kTargetPathUnits - 3);
    longest[kTargetPathUnits - 1] = L'\0';
    DecidedFolder folder;
    wchar_t commandLine[kCommandLineUnits] = L"";
    bool viewed = GetInterpreterView(kTestPlatform, longest, nullptr, folder);
    if (viewed) BuildConsoleCommand(folder.path, false, commandLine);
    Check(viewed && wcslen(commandLine) == kTargetPathUnits - 1 + 20, longest, commandLine);
    longest[kTargetPathUnits - 1] = L'a';
    longest[kTargetPathUnits] = L'\0';
    Check(!GetInterpreterView(kTestPlatform, longest, nullptr, folder), longest, folder.path);
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
        {L"U:\\c", nullptr, L"\\??\\UNC\\server\\share\\x", L"\\\\server\\share\\x\\c"},
    };
    for (const Translation &t : translations) {
        wchar_t translated[kTargetPathUnits] = L"";
        bool fits = TranslateForElevation(t.folder, t.connection, t.device, translated);
        Check(fits == (t.translated != nullptr) && (!fits || wcscmp(translated, t.translated) == 0), t.folder,
              fits ? translated : nullptr);
    }

    // The whole chain, as the session's letters say (kLetters): letter by
    // letter until none is left, within a bound.
    const Translation chains[] = {
        {L"C:\\kt\\x", nullptr, nullptr, L"C:\\kt\\x"},
        {L"Z:\\dir", nullptr, nullptr, L"\\\\nas\\media\\dir"},
        {L"T:\\b", nullptr, nullptr, L"C:\\kt\\sub\\nested\\b"},
        {L"U:\\c", nullptr, nullptr, L"\\\\nas\\media\\x\\c"},
        {L"V:\\d", nullptr, nullptr, L"\\\\nas\\media\\x\\d"},
        {L"\\\\nas\\media\\e", nullptr, nullptr, L"\\\\nas\\media\\e"},
        {L"Q:\\loop", nullptr, nullptr, nullptr},
    };
    for (const Translation &t : chains) {
        wchar_t translated[kTargetPathUnits] = L"";
        bool fits = GetElevationPath(kTestPlatform, t.folder, translated);
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

// What the argument and the administrator's road hand on: a last quote read
// as the separator it stood for, and the elevated kelvane's one argument.
void CheckHandedOn()
{
    struct Text {
        const wchar_t *given;
        const wchar_t *restored;    // by RestoreLastSeparator
        const wchar_t *parameters;  // by BuildElevationParameters
    };
    const Text texts[] = {
        {L"C:\"", L"C:\\", L"\"C:\\\\\""},
        {L"D:\\My Dir\"", L"D:\\My Dir\\", L"\"D:\\My Dir\\\\\""},
        {L"C:\\kt\\a b", L"C:\\kt\\a b", L"\"C:\\kt\\a b\""},
        {L"\\\\host\\share\\%OS% !x!", L"\\\\host\\share\\%OS% !x!", L"\"\\\\host\\share\\%OS% !x!\""},
        {L"\"", L"\\", L"\"\\\\\""},
    };
    for (const Text &text : texts) {
        wchar_t restored[kTargetPathUnits];
        wcscpy(restored, text.given);
        RestoreLastSeparator(restored);
        wchar_t parameters[kTargetPathUnits + 4];
        BuildElevationParameters(restored, parameters);
        Check(wcscmp(restored, text.restored) == 0 && wcscmp(parameters, text.parameters) == 0, text.given,
              parameters);
    }
    wchar_t empty[1] = L"";
    RestoreLastSeparator(empty);
    Check(empty[0] == L'\0', L"an empty argument", empty);
}

} // namespace

int wmain()
{
    if (!SetCurrentDirectoryW(L"C:\\")) {
        fputs("cannot stand in C:\\\n", stdout);
        return 1;
    }
    for (const Row &row : kRows) {
        CheckRow(row);
    }
    CheckLengths();
    CheckLongFolders();
    CheckFullPaths();
    CheckElevationFolders();
    CheckSystemFolderNames();
    CheckHandedOn();
    printf("%d rows, %d checks passed, %d failed\n", static_cast<int>(sizeof kRows / sizeof kRows[0]), gPassed,
           gFailed);
    return gFailed == 0 ? 0 : 1;
}
