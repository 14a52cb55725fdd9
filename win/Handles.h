// Handles: the one owner of a handle, UniqueHandle, and the owners of the Win32 handles the
// program holds (windows, menus, fonts, modules, global memory and atoms, files). The DDE
// unit's owners are in dde/DdeHandles.h.
#pragma once

#include <windows.h>

#include <utility>

namespace velkor {

// The release of a handle by a function of the system that takes the handle alone.
template <auto Function> struct FreeWith {
    template <typename H> void operator()(H handle) const { Function(handle); }
};

// Owns a handle and releases it with a `Free` object (which may carry what the release
// needs besides the handle); `Null` is the value that holds nothing. Copy deleted, move
// allowed: no handle is released twice.
template <typename H, typename Free, H Null = H{}> class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(H handle, Free free = Free{}) : handle_(handle), free_(std::move(free)) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(other.release()), free_(std::move(other.free_)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release()); // ours goes with our own Free
            free_ = std::move(other.free_);
        }
        return *this;
    }

    H get() const { return handle_; }
    // Hands the handle over: this owner holds nothing afterwards.
    H release() { return std::exchange(handle_, Null); }
    // Holds `handle` and releases the one held before, unless it is the same one. The new
    // handle is in place before the old one goes: a release that sends messages finds the
    // owner already updated.
    void reset(H handle = Null) {
        if (handle == handle_) return;
        const H old = std::exchange(handle_, handle);
        if (old != Null) free_(old);
    }
    explicit operator bool() const { return handle_ != Null; }

  private:
    H handle_ = Null;
    [[no_unique_address]] Free free_{};
};

// A window that may already be gone (destroyed with its parent) when its owner lets go.
struct DestroyLiveWindow {
    void operator()(HWND hwnd) const {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }
};

struct DeleteGdiObject {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

using UniqueHwnd = UniqueHandle<HWND, DestroyLiveWindow>;
using UniqueMenu = UniqueHandle<HMENU, FreeWith<DestroyMenu>>;
using UniqueFont = UniqueHandle<HFONT, DeleteGdiObject>;
using UniqueModule = UniqueHandle<HMODULE, FreeWith<FreeLibrary>>;
using UniqueGlobal = UniqueHandle<HGLOBAL, FreeWith<GlobalFree>>;
using UniqueAtom = UniqueHandle<ATOM, FreeWith<GlobalDeleteAtom>>;
// Events, threads, processes: 0 when creation failed.
using UniqueKernelObject = UniqueHandle<HANDLE, FreeWith<CloseHandle>>;

// CreateFile fails with INVALID_HANDLE_VALUE, not 0: that one is never closed.
struct CloseFile {
    void operator()(HANDLE file) const {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
};
using UniqueFile = UniqueHandle<HANDLE, CloseFile>;

} // namespace velkor
