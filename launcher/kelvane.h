// kelvane: opens cmd.exe in a target folder. The routines of the launcher.
#pragma once

#include <windows.h>
#include <ole2.h>

// A target path: 999 units of text and the terminator.
constexpr int kTargetPathUnits = 1000;

// A shortcut's target as it is read: one unit more than a target path, so that
// a result cut to the buffer tells itself from a whole one.
constexpr int kLinkTargetUnits = kTargetPathUnits + 1;

// The console command line; the longest target path leaves it far below this.
constexpr int kCommandLineUnits = 2000;

// The native system folder's name, and the alias by which a 32-bit process
// reaches it under WOW64; and the library of the shell's windows.
inline constexpr wchar_t kSystemFolder[] = L"System32";
inline constexpr wchar_t kSystemFolderAlias[] = L"Sysnative";
inline constexpr wchar_t kShellLibrary[] = L"shell32.dll";

// The variable through which a network folder that cannot be written on the
// command line reaches the interpreter, which expands it once and removes it.
constexpr wchar_t kFolderVariable[] = L"KELVANE_FOLDER";

// How the folder reaches the interpreter besides its command line.
enum FolderHandover {
    kFolderInCommand,    // the command line names the folder itself
    kFolderAsDirectory,  // the folder is the interpreter's starting directory
    kFolderInVariable,   // the command line reads the folder from kFolderVariable
};

// What a full path names, as the native interpreter sees the file system.
enum PathKind {
    kNoPath,      // nothing, a device, or nothing the interpreter could enter
    kFolderPath,  // a folder the interpreter can enter
    kDiskFile,    // a file on a disk: the only kind read as a shortcut
};

// Turns WOW64 file-system redirection off on this thread for as long as it
// lives, so that tests see the folders the native interpreter will see. Nothing
// that may load a library runs meanwhile: the loader would look in the native
// system folder. On 32-bit Windows it changes nothing.
class NativeFileSystemView {
public:
    NativeFileSystemView() : off_(Wow64DisableWow64FsRedirection(&previous_) != FALSE) {}
    NativeFileSystemView(const NativeFileSystemView &) = delete;
    NativeFileSystemView &operator=(const NativeFileSystemView &) = delete;
    ~NativeFileSystemView()
    {
        if (off_) Wow64RevertWow64FsRedirection(previous_);
    }

private:
    void *previous_ = nullptr;
    bool off_;
};

// Under WOW64 (this 32-bit program on 64-bit Windows), fills windows (MAX_PATH)
// with the Windows folder and returns true; on 32-bit Windows returns false.
bool GetNativeWindowsFolder(wchar_t *windows);

// The interpreter to start: the system folder's cmd.exe, the native one under
// WOW64 (reached through Sysnative). Fills interpreter (MAX_PATH).
bool GetInterpreterPath(wchar_t *interpreter);

// Whether path starts with a drive letter and its colon.
bool StartsWithDrive(const wchar_t *path);

// Whether fullPath, a full path, is a network path (two separators) rather
// than a drive path.
bool IsNetworkPath(const wchar_t *fullPath);

// Whether path is a full path, one that no current folder completes: a drive
// and a separator, or two separators.
bool IsFullPath(const wchar_t *path);

// If path (kTargetPathUnits) is windows\from or below it, names it windows\to.
bool ReplaceSystemFolder(wchar_t *path, const wchar_t *windows, const wchar_t *from, const wchar_t *to);

// Fills fullPath (kTargetPathUnits) with the folder or file that path names for
// the interpreter: its full path, with no trailing separator but a drive root's,
// spelled as a drive path or a network path that names a share at least.
// nativeWindows is the Windows folder under WOW64, else null: there Sysnative
// becomes System32, and redirected says whether fullPath is in the native system
// folder, which this process sees as another. False if path names nothing the
// interpreter could stand in.
bool GetInterpreterView(const wchar_t *path, const wchar_t *nativeWindows, wchar_t *fullPath,
                        bool *redirected);

// What path names for the interpreter, with fullPath and redirected filled as
// GetInterpreterView fills them, fullPath then made its long path (no short
// names). Reads the file system, never a file's content.
PathKind ExaminePath(const wchar_t *path, wchar_t *fullPath, bool *redirected);

// Whether the interpreter can stand in folder, a full path: it keeps its
// current folder in MAX_PATH units, with a trailing backslash and the terminator.
bool CanOpenConsoleIn(const wchar_t *folder);

// The spelling of folder, a long path from ExaminePath, that the interpreter is
// handed: folder itself where the interpreter can hold it, else shortFolder,
// its short path (null if it has none), where that can be the interpreter's
// starting directory. Null if the interpreter can hold no spelling of it.
const wchar_t *ChooseConsoleFolder(const wchar_t *folder, const wchar_t *shortFolder, bool redirected);

// Fills commandLine (kCommandLineUnits) with the interpreter's command line for
// folder, the spelling ChooseConsoleFolder chose; shortened if that is the short
// path. The result says how folder itself is handed over besides.
FolderHandover BuildConsoleCommand(const wchar_t *folder, bool shortened, wchar_t *commandLine);

// Decides on the folder that candidate names and starts cmd.exe standing in it.
// False, having started nothing, if it is no folder the interpreter can enter
// or the interpreter could not be started.
bool OpenConsoleIn(const wchar_t *candidate);

// The rest of OpenConsoleIn, for a road that has examined its path already:
// folder and redirected as ExaminePath filled them for a folder.
bool StartConsoleIn(const wchar_t *folder, bool redirected);

// Whether the C runtime's start-up splits commandLine into the same arguments
// as the platform's CommandLineToArgvW does. It does, but for a doubled quote
// after the program's name and a program name quoted otherwise than as a whole.
bool SplitsLikePlatform(const wchar_t *commandLine);

// Points first and second at the first two arguments of this process's command
// line, as the platform splits it, or at null where there is none; false if the
// command line cannot be split.
bool GetFirstArguments(wchar_t **first, wchar_t **second);

// Only the system folder's copy of a library: never one planted beside the
// program.
inline HMODULE LoadSystemLibrary(const wchar_t *name)
{
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// GetProcAddress gives a routine of no particular type; the type is the caller's.
template <typename Routine>
bool LoadRoutine(HMODULE module, const char *name, Routine &routine)
{
    routine = reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return routine != nullptr;
}

// The object library's routines. ole32 serves only the shortcut and dialog
// roads, so it is not among the program's imports: the road that needs it
// loads it and hands it on, and a launch from a folder argument never loads it,
// nor what it brings with it. (The toolchain's delay-load libraries are broken
// for x86.)
struct ObjectLibrary {
    decltype(&::OleInitialize) Initialize;
    decltype(&::OleUninitialize) Uninitialize;
    decltype(&::CoCreateInstance) CreateInstance;
    decltype(&::CoTaskMemFree) TaskMemFree;
};

// Fills library from the system folder's ole32.dll; false if it cannot.
bool LoadObjectLibrary(ObjectLibrary &library);

// Writes the full path of the shortcut's target into targetPath
// (kLinkTargetUnits); false if it has none, or more than a target path holds.
// The caller has initialised the object library on this thread.
bool ResolveShortcut(const ObjectLibrary &library, const wchar_t *linkPath, wchar_t *targetPath);

// Fills translated (kTargetPathUnits) with folder, a full path from ExaminePath,
// as a session without the user's drive letters finds it: a drive connected
// to a network share (connection, as WNetGetConnectionW gives it) becomes the
// share's path, a substituted one (device, as QueryDosDeviceW gives it:
// \??\C:\...) the folder it stands for; anything else stays. Either may be null.
bool TranslateForElevation(const wchar_t *folder, const wchar_t *connection, const wchar_t *device,
                           wchar_t *translated);

// TranslateForElevation with what this session says of folder's drive letter.
bool GetElevationFolder(const wchar_t *folder, wchar_t *translated);

// Asks for a folder with the browse dialog and opens the console there.
void PickTargetFolder();

// Shows "It is not a folder" and ends the process with exit code 0.
[[noreturn]] void FailNotAFolder();
