// Target selection: the roads to a candidate folder (an argument, the browse
// dialog), and the one error. Each road only finds a candidate; DecideFolder,
// behind OpenConsoleIn, decides on the folder.
#include "kelvane.h"
#include "libraries.h"
#include "owner.h"

#include <wchar.h>

namespace {

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

// The dialog road; the console is started while the item list is held, and
// the list is freed and the apartment left after the start.
bool OpenConsoleInPickedFolder()
{
    ObjectLibrary library;
    ShellLibrary shell;
    if (!LoadObjectLibrary(library) || !LoadShellLibrary(shell)) {
        return false;
    }
    Owner apartment(SUCCEEDED(library.Initialize(nullptr)), [&library](bool) { library.Uninitialize(); });
    UseThemedControls();

    // The same buffer takes the display name first, then the chosen path,
    // whatever its length.
    wchar_t pickerPath[kTargetPathUnits];
    BROWSEINFOW bi = {};
    bi.pszDisplayName = pickerPath;
    bi.lpszTitle = L"Select the target folder:";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    Owner itemList(shell.BrowseForFolder(&bi), library.TaskMemFree);
    if (itemList.Get() == nullptr) {
        return false;
    }

    // An entry without a file-system path must not be taken for a folder named
    // after its display name; a picked file is no folder.
    if (!shell.GetPathFromItemList(itemList.Get(), pickerPath, kTargetPathUnits, GPFIDL_DEFAULT)) {
        return false;
    }
    return OpenConsoleIn(pickerPath, false);
}

// Shows text, the one message, and ends the process with exit code 0.
[[noreturn]] void FailWith(const wchar_t *text)
{
    UseThemedControls();
    WindowLibrary window;
    if (LoadWindowLibrary(window)) {
        window.ShowMessage(nullptr, text, L"Kelvane by Tamrik", MB_ICONERROR);
    }
    ExitProcess(0);
}

} // namespace

[[noreturn]] void FailNotAFolder()
{
    FailWith(L"It is not a folder");
}

[[noreturn]] void FailWithSystemError(DWORD error)
{
    wchar_t text[512];
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, 512,
                       nullptr) == 0) {
        FailNotAFolder();
    }
    FailWith(text);
}

void PickTargetFolder()
{
    if (!OpenConsoleInPickedFolder()) {
        FailNotAFolder();
    }
}
