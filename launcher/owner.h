// The one owner of what must be released: an interface pointer, an item list,
// an apartment entered, a setting changed for a while.
#pragma once

#include <unknwn.h>

// Hands value to release when the owner goes out of scope, unless value is
// empty (null, false): only what was obtained is released, once.
template <typename Value, typename Release>
class Owner {
public:
    Owner(Value value, Release release) : value_(value), release_(release) {}
    Owner(const Owner &) = delete;
    Owner &operator=(const Owner &) = delete;
    ~Owner()
    {
        if (value_) release_(value_);
    }

    Value Get() const { return value_; }
    Value operator->() const { return value_; }
    // Where a routine puts the value it hands out; the owner holds none yet.
    Value *Put() { return &value_; }

private:
    Value value_;
    Release release_;
};

// The release of an interface pointer.
inline void ReleaseInterface(IUnknown *pointer)
{
    pointer->Release();
}

// An owner of an interface pointer, empty until a routine puts one in it.
template <typename Interface>
using InterfaceOwner = Owner<Interface *, void (*)(IUnknown *)>;
