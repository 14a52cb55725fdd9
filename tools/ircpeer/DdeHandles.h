// Owning wrappers for the handles of DDE: the DDEML instance, its string and conversation
// handles, global atoms and global memory blocks.
#pragma once

#include <windows.h>

#include <ddeml.h>

#include <string>
#include <utility>

namespace ircpeer {

// One DDEML instance of this thread. Throws std::runtime_error when DDE cannot start.
class DdeInstance {
  public:
    DdeInstance(PFNCALLBACK callback, DWORD flags);
    ~DdeInstance();
    DdeInstance(const DdeInstance&) = delete;
    DdeInstance& operator=(const DdeInstance&) = delete;
    DdeInstance(DdeInstance&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
    DdeInstance& operator=(DdeInstance&& other) noexcept;

    DWORD Id() const { return id_; }

  private:
    DWORD id_ = 0;
};

// A DDEML string handle (HSZ). DdeCreateStringHandle("") gives 0: an empty name has no handle.
class DdeString {
  public:
    DdeString() = default;
    DdeString(DWORD instance, const std::string& text);
    ~DdeString();
    DdeString(const DdeString&) = delete;
    DdeString& operator=(const DdeString&) = delete;
    DdeString(DdeString&& other) noexcept
        : instance_(other.instance_), hsz_(std::exchange(other.hsz_, nullptr)) {}
    DdeString& operator=(DdeString&& other) noexcept;

    HSZ Get() const { return hsz_; }

  private:
    DWORD instance_ = 0;
    HSZ hsz_ = nullptr;
};

// The text of a string handle; empty for a zero handle.
std::string QueryDdeString(DWORD instance, HSZ hsz);

// A client conversation opened with DdeConnect.
class DdeConversation {
  public:
    DdeConversation() = default;
    explicit DdeConversation(HCONV conv) : conv_(conv) {}
    ~DdeConversation();
    DdeConversation(const DdeConversation&) = delete;
    DdeConversation& operator=(const DdeConversation&) = delete;
    DdeConversation(DdeConversation&& other) noexcept
        : conv_(std::exchange(other.conv_, nullptr)) {}
    DdeConversation& operator=(DdeConversation&& other) noexcept;

    HCONV Get() const { return conv_; }

  private:
    HCONV conv_ = nullptr;
};

// A global atom, as raw DDE messages name services, topics and items.
class GlobalAtom {
  public:
    explicit GlobalAtom(const std::string& name) : atom_(GlobalAddAtomA(name.c_str())) {}
    ~GlobalAtom();
    GlobalAtom(const GlobalAtom&) = delete;
    GlobalAtom& operator=(const GlobalAtom&) = delete;
    GlobalAtom(GlobalAtom&& other) noexcept : atom_(std::exchange(other.atom_, 0)) {}
    GlobalAtom& operator=(GlobalAtom&& other) noexcept;

    ATOM Get() const { return atom_; }

  private:
    ATOM atom_ = 0;
};

// A global memory block handed to another process in a DDE message. Release() gives up
// ownership once the message is on its way, because the receiver frees it.
class GlobalBlock {
  public:
    GlobalBlock() = default;
    GlobalBlock(UINT flags, SIZE_T size) : mem_(GlobalAlloc(flags, size)) {}
    ~GlobalBlock();
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    GlobalBlock(GlobalBlock&& other) noexcept : mem_(std::exchange(other.mem_, nullptr)) {}
    GlobalBlock& operator=(GlobalBlock&& other) noexcept;

    HGLOBAL Get() const { return mem_; }
    HGLOBAL Release() { return std::exchange(mem_, nullptr); }

  private:
    HGLOBAL mem_ = nullptr;
};

} // namespace ircpeer
