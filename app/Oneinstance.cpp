// Oneinstance: the lock on the service name and the hand-over to the running velkor.
#include "app/Oneinstance.h"

#include "app/Starttext.h"

namespace velkor {

TInstanceLock::TInstanceLock(const std::string& service) : service_(service) {
    // "Local\": one lock per session, as DDE names are one set per desktop session.
    const std::string name = "Local\\" + InstanceObjectName(service);
    mapping_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(LONG64), name.c_str()));
    // Without the block (no memory, or a name of another kind) nothing is known: start.
    if (!mapping_) return;
    first_ = GetLastError() != ERROR_ALREADY_EXISTS;
    window_ = static_cast<volatile LONG64*>(
        MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG64)));
}

TInstanceLock::~TInstanceLock() {
    if (window_) {
        if (first_) InterlockedExchange64(window_, 0);
        UnmapViewOfFile(const_cast<LONG64*>(window_));
    }
}

void TInstanceLock::SetWindow(HWND window) {
    if (first_ && window_)
        InterlockedExchange64(window_, static_cast<LONG64>(reinterpret_cast<INT_PTR>(window)));
}

void TInstanceLock::ShowFirst() const {
    MessageBoxA(nullptr, AlreadyRunningText(service_).c_str(), "velkor",
                MB_OK | MB_ICONINFORMATION);
    // Still the foreground program after the box: the first velkor may take the front.
    // A first start that has no window yet has nothing to show.
    const HWND first =
        window_ ? reinterpret_cast<HWND>(static_cast<INT_PTR>(InterlockedOr64(window_, 0)))
                : nullptr;
    if (!first || !IsWindow(first)) return;
    if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
    SetForegroundWindow(first);
}

} // namespace velkor
