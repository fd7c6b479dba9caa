// Target selection: the entry, the three roads to a folder, and the one error.
#include "kelvane.h"

#include <objbase.h>
#include <shlobj.h>
#include <shellapi.h>
#include <wchar.h>

ObjectLibrary gObjectLibrary;

namespace {

// GetProcAddress gives a routine of no particular type; the type is the caller's.
template <typename Routine>
bool LoadRoutine(HMODULE module, const char *name, Routine &routine)
{
    routine = reinterpret_cast<Routine>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return routine != nullptr;
}

// The dialog and the message use the themed common controls (version 6). Only
// those roads need them, so their activation context is made there, from
// manifest resource 2, rather than for every launch by the process manifest.
// Should it fail, the controls are merely unthemed. It lasts until the end.
void UseThemedControls()
{
    ACTCTXW context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = GetModuleHandleW(nullptr);
    context.lpResourceName = MAKEINTRESOURCEW(2);  // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
    HANDLE activationContext = CreateActCtxW(&context);
    ULONG_PTR cookie = 0;
    if (activationContext != INVALID_HANDLE_VALUE) {
        ActivateActCtx(activationContext, &cookie);
    }
}

bool IsExistingFolder(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The platform's link reader can fault on a damaged file. Such a file is no
// shortcut, so the user gets the one message rather than a crash report.
LONG WINAPI FailOnFault(EXCEPTION_POINTERS *)
{
    FailNotAFolder();
}

} // namespace

bool LoadObjectLibrary()
{
    // Only the system folder's copy: never one planted beside the program.
    HMODULE ole32 = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return ole32 != nullptr && LoadRoutine(ole32, "OleInitialize", gObjectLibrary.Initialize) &&
           LoadRoutine(ole32, "OleUninitialize", gObjectLibrary.Uninitialize) &&
           LoadRoutine(ole32, "CoCreateInstance", gObjectLibrary.CreateInstance) &&
           LoadRoutine(ole32, "CoTaskMemFree", gObjectLibrary.TaskMemFree);
}

[[noreturn]] void FailNotAFolder()
{
    UseThemedControls();
    MessageBoxW(nullptr, L"It is not a folder", L"Kelvane by Tamrik", MB_ICONERROR);
    ExitProcess(0);
}

void PickTargetFolder()
{
    if (!LoadObjectLibrary()) {
        FailNotAFolder();
    }
    gObjectLibrary.Initialize(nullptr);
    UseThemedControls();

    // The same buffer takes the display name first, then the chosen path.
    wchar_t pickerPath[MAX_PATH];
    BROWSEINFOW bi = {};
    bi.pszDisplayName = pickerPath;
    bi.lpszTitle = L"Select the target folder:";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    PIDLIST_ABSOLUTE itemList = SHBrowseForFolderW(&bi);
    if (itemList == nullptr) {
        gObjectLibrary.Uninitialize();
        FailNotAFolder();
    }

    // An entry without a file-system path must not be tested as a folder named
    // after its display name.
    if (!SHGetPathFromIDListW(itemList, pickerPath)) {
        pickerPath[0] = L'\0';
    }
    if (!IsExistingFolder(pickerPath)) {
        gObjectLibrary.TaskMemFree(itemList);
        gObjectLibrary.Uninitialize();
        FailNotAFolder();
    }

    OpenConsoleIn(pickerPath);
    gObjectLibrary.TaskMemFree(itemList);
    gObjectLibrary.Uninitialize();
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The narrow command line cannot carry every folder name; split the wide one.
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr) {
        FailNotAFolder();
    }
    if (count < 2) {
        PickTargetFolder();
        return 0;
    }

    // A shell that quotes a path ending in a backslash, "C:\", hands over C:"
    // because the splitting rules read \" as a quote. No Windows path holds a
    // quote, so a last quote stands for that backslash.
    wchar_t *argument = args[1];
    size_t length = wcslen(argument);
    if (length > 0 && argument[length - 1] == L'"') {
        argument[length - 1] = L'\\';
    }

    DWORD attributes = GetFileAttributesW(argument);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        FailNotAFolder();
    }

    wchar_t targetPath[kTargetPathUnits];
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (length >= kTargetPathUnits) {
            FailNotAFolder();
        }
        wcscpy(targetPath, argument);
    } else {
        if (!LoadObjectLibrary()) {
            FailNotAFolder();
        }
        LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(FailOnFault);
        gObjectLibrary.Initialize(nullptr);
        bool resolved = ResolveShortcut(argument, targetPath);
        gObjectLibrary.Uninitialize();
        SetUnhandledExceptionFilter(previousFilter);
        if (!resolved) {
            FailNotAFolder();
        }
    }

    // A folder too long for the interpreter would leave it in another folder.
    if (!IsExistingFolder(targetPath) || !CanOpenConsoleIn(targetPath)) {
        FailNotAFolder();
    }
    OpenConsoleIn(targetPath);
    return 0;
}
