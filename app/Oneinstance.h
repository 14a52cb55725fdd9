// Oneinstance: one velkor per DDE service name. The first start holds a named block of
// shared memory that tells later starts where its window is; a later start for the same
// service finds it there, says so and ends before it registers any DDE name.
#pragma once

#include "win/Handles.h"

#include <windows.h>

#include <string>

namespace velkor {

class TInstanceLock {
  public:
    // Takes the lock for `service`, or finds it taken by a running velkor.
    explicit TInstanceLock(const std::string& service);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // False when another velkor serves the service already.
    bool First() const { return first_; }
    // The first start tells where its window is, once it has one.
    void SetWindow(HWND window);
    // A later start: tells the user, brings the first velkor's window to the front.
    void ShowFirst() const;

  private:
    std::string service_;
    UniqueKernelObject mapping_;
    volatile LONG64* window_ = nullptr; // in the shared block: the first window's handle
    bool first_ = true;
};

} // namespace velkor
