// Shortcut resolution: a shell-link file to the full path of its target.
#include "kelvane.h"

#include <objbase.h>
#include <shlobj.h>
#include <wchar.h>

namespace {

// Owns one interface pointer and releases it when the owner goes out of scope.
template <typename T>
class ComOwner {
public:
    ComOwner() = default;
    ComOwner(const ComOwner &) = delete;
    ComOwner &operator=(const ComOwner &) = delete;
    ~ComOwner()
    {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
    }

    T *operator->() const { return pointer_; }
    T **Put() { return &pointer_; }

private:
    T *pointer_ = nullptr;
};

// Loads and resolves the link and reads its target's path, in its short form
// where it has one, into target (capacity units). Both interfaces are released,
// the persist file first, before this returns.
bool ReadTargetPath(const ObjectLibrary &library, const wchar_t *linkPath, wchar_t *target, int capacity)
{
    // Declared first, so it is released last: after the persist file it serves.
    ComOwner<IShellLinkW> shellLink;
    HRESULT hr = library.CreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(shellLink.Put()));
    if (hr != S_OK) return false;

    ComOwner<IPersistFile> persistFile;
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
    hr = shellLink->GetPath(target, capacity, &findData, SLGP_SHORTPATH);
    return hr == S_OK;
}

} // namespace

bool ResolveShortcut(const ObjectLibrary &library, const wchar_t *linkPath, wchar_t *targetPath)
{
    // The reader may cut a long target to the buffer and still succeed, and a
    // cut path can name the target's parent; a whole target leaves the buffer's
    // last unit free.
    targetPath[0] = L'\0';
    if (!ReadTargetPath(library, linkPath, targetPath, kLinkTargetUnits)) return false;
    if (wcslen(targetPath) >= kTargetPathUnits) return false;

    // A relative target would be completed from this process's current folder,
    // which the link never named.
    return IsFullPath(targetPath);
}
