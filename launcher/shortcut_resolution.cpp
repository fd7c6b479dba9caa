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

// The records of a link that place its target relative to a folder: an
// environment variable, a special folder, a known folder (MS-SHLLINK's
// signatures; the toolchain's headers lack the last).
constexpr DWORD kFolderRecords[] = {EXP_SZ_LINK_SIG, EXP_SPECIAL_FOLDER_SIG, 0xA000000B};

// Whether the link holds the record of this signature.
bool HasRecord(IShellLinkDataList *dataList, DWORD signature)
{
    void *block = nullptr;
    if (dataList->CopyDataBlock(signature, &block) != S_OK) return false;
    LocalFree(block);
    return true;
}

// Under WOW64 a link that records its target relative to an environment
// variable or a known folder (as the shell records one below Program Files) is
// expanded with this 32-bit process's values: Program Files (x86) for Program
// Files. Without those records the link gives its target as recorded. Sets
// unsettled where one remains.
void SetAsideFolderRecords(IShellLinkW *shellLink, bool *unsettled)
{
    InterfaceOwner<IShellLinkDataList> dataList(nullptr, ReleaseInterface);
    DWORD flags = 0;
    if (shellLink->QueryInterface(IID_PPV_ARGS(dataList.Put())) != S_OK || dataList->GetFlags(&flags) != S_OK) {
        *unsettled = true;
        return;
    }
    for (DWORD signature : kFolderRecords) {
        if (HasRecord(dataList.Get(), signature)) {
            dataList->RemoveDataBlock(signature);
            *unsettled = *unsettled || HasRecord(dataList.Get(), signature);
        }
    }
    // Without its record, the link must not read its target as an expandable one.
    if ((flags & SLDF_HAS_EXP_SZ) != 0) {
        dataList->SetFlags(flags & ~SLDF_HAS_EXP_SZ);
        *unsettled = *unsettled || dataList->GetFlags(&flags) != S_OK || (flags & SLDF_HAS_EXP_SZ) != 0;
    }
}

// Loads and resolves the link and reads its target's path, in its short form
// where it has one. Both interfaces are released, the persist file first,
// before this returns.
bool ReadTargetPath(const ObjectLibrary &library, const wchar_t *linkPath, ShortcutRecord &record)
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

    if (RunsUnderWow64()) {
        SetAsideFolderRecords(shellLink.Get(), &record.unsettled);
    }

    // Bring a moved target up to date, without ever showing a dialog.
    hr = shellLink->Resolve(nullptr, SLR_NO_UI | SLR_NOLINKINFO);
    if (hr != S_OK) return false;

    // S_FALSE here means a target without a file-system path.
    WIN32_FIND_DATAW findData;
    hr = shellLink->GetPath(record.target, MAX_PATH, &findData, SLGP_SHORTPATH);
    return hr == S_OK;
}

} // namespace

bool ResolveShortcut(const wchar_t *linkPath, ShortcutRecord &record)
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
    return ReadTargetPath(library, linkPath, record);
}
