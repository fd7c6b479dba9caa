// Shortcut resolution: Windows' link reader, a shell-link file to its target's
// path.
#include "kelvane.h"
#include "libraries.h"
#include "owner.h"

#include <objbase.h>
#include <shlobj.h>

namespace {

// Set only while a shortcut is read: the platform's link reader can fault on a
// damaged file, and such a file is no shortcut, so the user gets the one
// message instead of a crash report. Should the message itself fault, the
// filter runs again and ends the process at once, still with exit code 0.
LONG WINAPI FailOnFault(EXCEPTION_POINTERS *)
{
    static LONG entered = 0;
    if (InterlockedExchange(&entered, 1) != 0) {
        ExitProcess(0);
    }
    FailNotAFolder();
}

// Loads and resolves the link and reads its target's path, in its short form
// where it has one, into target (units). Both interfaces are released, the
// persist file first, before this returns.
bool ReadTargetPath(const ObjectLibrary &library, const wchar_t *linkPath, wchar_t *target, int units)
{
    // Declared first, so it is released last: after the persist file it serves.
    InterfaceOwner<IShellLinkW> shellLink(nullptr, ReleaseInterface);
    HRESULT hr = library.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(shellLink.Put()));
    if (hr != S_OK) return false;

    InterfaceOwner<IPersistFile> persistFile(nullptr, ReleaseInterface);
    hr = shellLink->QueryInterface(IID_PPV_ARGS(persistFile.Put()));
    if (hr != S_OK) return false;

    // Only the shell-link object tells a shortcut from any other file.
    hr = persistFile->Load(linkPath, STGM_READ);
    if (hr != S_OK) return false;

    // Bring a moved target up to date, without ever showing a dialog.
    hr = shellLink->Resolve(nullptr, SLR_NO_UI | SLR_NOLINKINFO);
    if (hr != S_OK) return false;

    // S_FALSE here means a target without a file-system path.
    WIN32_FIND_DATAW findData;
    hr = shellLink->GetPath(target, units, &findData, SLGP_SHORTPATH);
    return hr == S_OK;
}

} // namespace

bool ResolveShortcut(const wchar_t *linkPath, wchar_t *target, int units)
{
    ObjectLibrary library;
    if (!LoadObjectLibrary(library)) {
        return false;
    }
    // The message's library is loaded before the fault filter is set, so that
    // the filter loads none.
    WindowLibrary window;
    LoadWindowLibrary(window);
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(FailOnFault);
    Owner faultFilter(true, [previous](bool) { SetUnhandledExceptionFilter(previous); });
    // Owners of what the apartment hands out end before it.
    Owner apartment(SUCCEEDED(library.Initialize(nullptr)), [&library](bool) { library.Uninitialize(); });
    return ReadTargetPath(library, linkPath, target, units);
}
