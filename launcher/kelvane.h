// kelvane: opens cmd.exe in a target folder. The routines of the launcher, in
// three layers: the folder decision (folder_decision.cpp), the console plan
// (console_plan.cpp) and the launch (console_launch.cpp). The decision and the
// plan ask the platform only through a Platform table, which the program fills
// with Windows' routines (windows_platform.cpp) and a test with its own.
#pragma once

#include <windows.h>

// A target path: 999 units of text and the terminator.
constexpr int kTargetPathUnits = 1000;

// A target path in the form the file system takes at any length: with \\?\ or
// \\?\UNC before it.
constexpr int kExtendedPathUnits = kTargetPathUnits + 8;

// The console command line; the longest target path leaves it far below this.
constexpr int kCommandLineUnits = 2000;

// The native system folder's name, and the alias by which a 32-bit process
// reaches it under WOW64.
inline constexpr wchar_t kSystemFolder[] = L"System32";
inline constexpr wchar_t kSystemFolderAlias[] = L"Sysnative";

// The variable through which a network folder that cannot be written on the
// command line reaches the interpreter, which expands it once and removes it.
constexpr wchar_t kFolderVariable[] = L"KELVANE_FOLDER";

// What the link reader gives of a shortcut.
struct ShortcutRecord {
    // Its target's path, in its short form where it has one. Windows' reader
    // gives at most MAX_PATH - 1 units, cutting a longer path without a word.
    wchar_t target[MAX_PATH];
    // Under WOW64: the link records its target relative to an environment
    // variable or a known folder, which this 32-bit process would expand as its
    // own (%ProgramFiles% as Program Files (x86)), and that record could not be
    // set aside; target may be that 32-bit twin.
    bool unsettled;
};

// What the decision and the plan ask of the platform. The file-system routines
// answer as the native interpreter sees the file system (under WOW64, with
// redirection off).
struct Platform {
    // GetFullPathNameW's work: a path made whole from the current folders.
    DWORD(WINAPI *GetFullPath)(LPCWSTR path, DWORD units, LPWSTR fullPath, LPWSTR *filePart);
    // GetLongPathNameW and GetShortPathNameW.
    DWORD (*GetLongPath)(const wchar_t *path, wchar_t *longPath, DWORD units);
    DWORD (*GetShortPath)(const wchar_t *path, wchar_t *shortPath, DWORD units);
    // GetFileAttributesW.
    DWORD (*GetAttributes)(const wchar_t *path);
    // Opens path, a folder for traversal or anything else for its attributes
    // alone, and gives its file type; false if it cannot be opened.
    bool (*GetOpenedType)(const wchar_t *path, bool folder, DWORD *type);
    // Under WOW64 fills windows (MAX_PATH) with the Windows folder and gives
    // true; false on 32-bit Windows.
    bool (*GetNativeWindowsFolder)(wchar_t *windows);
    // GetSystemDirectoryW: this process's system folder.
    UINT(WINAPI *GetSystemFolder)(LPWSTR folder, UINT units);
    // GetSystemWindowsDirectoryW: the Windows folder, a local folder in the
    // view of this process and of the native interpreter alike.
    UINT(WINAPI *GetWindowsFolder)(LPWSTR folder, UINT units);
    // Reads the shortcut file linkPath as the platform's link reader gives it;
    // false if it gives no target.
    bool (*ReadShortcut)(const wchar_t *linkPath, ShortcutRecord &record);
    // Fills share (units) with the network path that the drive letter drive
    // is connected to in this session; false if it is none.
    bool (*GetDriveConnection)(wchar_t drive, wchar_t *share, DWORD units);
    // QueryDosDeviceW: what a drive letter stands for in this session (a
    // substituted drive: \??\ and the path it stands for).
    DWORD(WINAPI *GetDosDevice)(LPCWSTR drive, LPWSTR device, DWORD units);
};

// Windows' own routines, and its link reader.
extern const Platform kWindows;

// Whether this 32-bit process runs on 64-bit Windows, under WOW64.
bool RunsUnderWow64();

// --- The folder decision (folder_decision.cpp) ---

// The folder the interpreter will stand in: its full long path, as the native
// interpreter sees the file system, spelled as a drive path or a network path
// that names a share at least, with no trailing separator but a drive root's;
// and whether this process sees that path as another folder (the native system
// folder under WOW64).
struct DecidedFolder {
    wchar_t path[kTargetPathUnits];
    bool redirected;
};

// What a full path names, as the native interpreter sees the file system.
enum PathKind {
    kNoPath,      // nothing, a device, or nothing the interpreter could enter
    kFolderPath,  // a folder the interpreter can enter
    kDiskFile,    // a file on a disk: the only kind read as a shortcut
};

// Whether path starts with a drive letter and its colon.
bool StartsWithDrive(const wchar_t *path);

// Whether fullPath, a full path, is a network path (two separators) rather
// than a drive path.
bool IsNetworkPath(const wchar_t *fullPath);

// Whether path is a full path, one that no current folder completes: a drive
// and a separator, or two separators.
bool IsFullPath(const wchar_t *path);

// Whether path starts with \\?\ or \\.\, which name the platform's objects
// directly.
bool HasDevicePrefix(const wchar_t *path);

// Removes the prefix of a device path (kTargetPathUnits or more). The
// interpreter stands only in what a plain path names, so behind the prefix must
// be a drive or network path spelled as the platform spells it anyway:
// \\?\C:\a. (trailing dot) or \\?\C:\a\NUL name objects that C:\a. and C:\a\NUL
// do not, and \\.\COM1 is no folder at all. False, changing nothing, if not.
bool RemoveDevicePrefix(const Platform &platform, wchar_t *fullPath);

// If path (kTargetPathUnits) is windows\from or below it, names it windows\to.
bool ReplaceSystemFolder(wchar_t *path, const wchar_t *windows, const wchar_t *from, const wchar_t *to);

// Fills fileSystemPath (kExtendedPathUnits) with fullPath in the form the file
// system takes: a full path of MAX_PATH units or more only with \\?\ before it.
void GetFileSystemPath(const wchar_t *fullPath, wchar_t *fileSystemPath);

// Fills folder.path with what path names for the interpreter, as a DecidedFolder is
// spelled, but not yet made long; nativeWindows is the Windows folder under
// WOW64, else null: there Sysnative becomes System32, and folder.redirected
// says whether the path is in the native system folder. False if path names
// nothing the interpreter could stand in.
bool GetInterpreterView(const Platform &platform, const wchar_t *path, const wchar_t *nativeWindows,
                        DecidedFolder &folder);

// What path names for the interpreter; folder filled as for a DecidedFolder, its path
// made long. Reads the file system, never a file's content.
PathKind ExaminePath(const Platform &platform, const wchar_t *path, DecidedFolder &folder);

// The one door to a folder: the folder that candidate names, or, where
// followShortcut and it names a shortcut file, the folder the shortcut's target
// names: a whole full path, never one that may have been cut or be a 32-bit
// twin. False if it leads to no folder the interpreter can enter.
bool DecideFolder(const Platform &platform, const wchar_t *candidate, bool followShortcut, DecidedFolder &folder);

// --- The console plan (console_plan.cpp) ---

// How the folder reaches the interpreter besides its command line.
enum FolderHandover {
    kFolderInCommand,    // the command line names the folder itself
    kFolderAsDirectory,  // the folder is the interpreter's starting directory
    kFolderInVariable,   // the command line reads the folder from kFolderVariable
};

// Whether the interpreter can stand in folder, a full path: it keeps its
// current folder in MAX_PATH units, with a trailing backslash and the terminator.
bool CanOpenConsoleIn(const wchar_t *folder);

// The spelling of folder, a DecidedFolder's path, that the interpreter is handed:
// folder itself where the interpreter can hold it, else shortFolder, its short
// path (null if it has none), where that can be the interpreter's starting
// directory. Null if the interpreter can hold no spelling of it.
const wchar_t *ChooseConsoleFolder(const wchar_t *folder, const wchar_t *shortFolder, bool redirected);

// Fills spelling (kTargetPathUnits) with folder, a network path, through the
// drive letter of this session connected to its share (the deepest such
// connection, the first letter of equals); false if no letter is.
bool GetDriveSpelling(const Platform &platform, const wchar_t *folder, wchar_t *spelling);

// Fills commandLine (kCommandLineUnits) with the interpreter's command line for
// folder, the spelling ChooseConsoleFolder chose; shortened if that is the short
// path. The result says how folder itself is handed over besides.
FolderHandover BuildConsoleCommand(const wchar_t *folder, bool shortened, wchar_t *commandLine);

// The interpreter to start: the system folder's cmd.exe, the native one under
// WOW64 (reached through Sysnative). Fills interpreter (MAX_PATH).
bool GetInterpreterPath(const Platform &platform, wchar_t *interpreter);

// What is started for a folder: the interpreter, its command line, its starting
// directory, always a local folder, the value of kFolderVariable ("": none),
// and the console's title ("": the interpreter's path, the default).
struct ConsolePlan {
    wchar_t interpreter[MAX_PATH];
    wchar_t commandLine[kCommandLineUnits];
    wchar_t directory[kExtendedPathUnits];
    wchar_t variable[kTargetPathUnits];
    wchar_t title[MAX_PATH];
};

// Plans the console for folder; false if the interpreter can hold no spelling
// of it or cannot be found.
bool PlanConsole(const Platform &platform, const DecidedFolder &folder, ConsolePlan &plan);

// --- The launch (console_launch.cpp) ---

// Starts what plan says; the interpreter lives on by itself. False if it
// cannot be started.
bool StartConsole(ConsolePlan &plan);

// Decides on the folder candidate names (as DecideFolder does), plans its
// console and starts it. False, having started nothing, on any failure.
bool OpenConsoleIn(const wchar_t *candidate, bool followShortcut);

// --- The command line (first_argument.cpp) ---

// Whether the C runtime splits commandLine into the same arguments as the
// platform's CommandLineToArgvW does. It does, but for a doubled quote after
// the program's name and a program name quoted otherwise than as a whole.
bool SplitsLikePlatform(const wchar_t *commandLine);

// Points first and second at the first two arguments of this process's command
// line, as the platform splits it, or at null where there is none; false if the
// command line cannot be split.
bool GetFirstArguments(wchar_t **first, wchar_t **second);

// A shell that quotes a path ending in a backslash, "C:\", hands over C:"
// because the splitting rules read \" as a quote. No Windows path holds a
// quote, so a last quote is taken for that backslash.
void RestoreLastSeparator(wchar_t *argument);

// --- The link reader (shortcut_resolution.cpp) ---

// Windows' link reader for kWindows.ReadShortcut: loads the shortcut file
// linkPath with the shell-link object, under WOW64 sets aside its records
// relative to a folder so that the target is the one the link recorded,
// resolves it without any window, and reads its target's path.
bool ResolveShortcut(const wchar_t *linkPath, ShortcutRecord &record);

// --- The administrator's road (elevation.cpp) ---

// Fills translated (kTargetPathUnits) with path, a full path, spelled one drive
// letter nearer to what a session without the user's drive letters finds: a
// drive connected to a network share (connection, as WNetGetConnectionW gives
// it) becomes the share's path, a substituted one (device, as QueryDosDeviceW
// gives it: \??\C:\... or \??\UNC\server\share...) the path it stands for;
// anything else stays. Either may be null.
bool TranslateForElevation(const wchar_t *path, const wchar_t *connection, const wchar_t *device,
                           wchar_t *translated);

// Fills translated (kTargetPathUnits) with path as a session without the user's
// drive letters finds it: translated letter by letter until none of this
// session's is left (at most one step a letter). False if it does not fit.
bool GetElevationPath(const Platform &platform, const wchar_t *path, wchar_t *translated);

// Fills parameters (kTargetPathUnits + 4) with folder as the one argument of
// the elevated kelvane: quoted, with a drive root's separator doubled so that
// the closing quote stays a quote.
void BuildElevationParameters(const wchar_t *folder, wchar_t *parameters);

// Decides on the folder argument names and starts kelvane as administrator
// with it, both spelled for the elevated session. False only if argument leads
// to no folder: a later failure has been told already, by the shell or by the
// system's own words, and saying no to the elevation is none.
bool OpenElevatedConsoleFor(const wchar_t *argument);

// --- The roads (target_selection.cpp) ---

// Asks for a folder with the browse dialog and opens the console there.
void PickTargetFolder();

// Shows "It is not a folder" and ends the process with exit code 0.
[[noreturn]] void FailNotAFolder();

// Shows the system's own words for error, where a folder was decided on but
// could not be opened, and ends the process with exit code 0.
[[noreturn]] void FailWithSystemError(DWORD error);
