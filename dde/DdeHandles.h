// DdeHandles: owning wrappers for the DDEML instance, string handles, data handles and
// conversations, and reading a string handle's text.
#pragma once

#include <windows.h>

#include <ddeml.h>

#include <string>
#include <utility>

namespace velkor {

// Names of this unit are made in the Windows ANSI code page.
constexpr int kDdeCodePage = CP_WINANSI; // 1004

// A DDEML instance identifier, uninitialised with the owner.
class DdeInstance {
  public:
    DdeInstance() = default;
    explicit DdeInstance(DWORD id) : id_(id) {}
    ~DdeInstance() { reset(); }
    DdeInstance(const DdeInstance&) = delete;
    DdeInstance& operator=(const DdeInstance&) = delete;
    DdeInstance(DdeInstance&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
    DdeInstance& operator=(DdeInstance&& other) noexcept {
        if (this != &other) {
            reset();
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }

    DWORD get() const { return id_; }
    void reset() {
        if (id_) DdeUninitialize(std::exchange(id_, 0));
    }

  private:
    DWORD id_ = 0;
};

// A string handle made by this unit, released with the owner.
class DdeString {
  public:
    DdeString() = default;
    // An empty text gives no handle: DDEML answers 0 for "".
    DdeString(DWORD instance, const std::string& text)
        : instance_(instance),
          hsz_(text.empty() ? nullptr
                            : DdeCreateStringHandleA(instance, text.c_str(), kDdeCodePage)) {}
    ~DdeString() { reset(); }
    DdeString(const DdeString&) = delete;
    DdeString& operator=(const DdeString&) = delete;
    DdeString(DdeString&& other) noexcept
        : instance_(other.instance_), hsz_(std::exchange(other.hsz_, nullptr)) {}
    DdeString& operator=(DdeString&& other) noexcept {
        if (this != &other) {
            reset();
            instance_ = other.instance_;
            hsz_ = std::exchange(other.hsz_, nullptr);
        }
        return *this;
    }

    HSZ get() const { return hsz_; }
    explicit operator bool() const { return hsz_ != nullptr; }
    void reset() {
        if (hsz_) DdeFreeStringHandle(instance_, std::exchange(hsz_, nullptr));
    }

  private:
    DWORD instance_ = 0;
    HSZ hsz_ = nullptr;
};

// A data handle this unit made and still owns; release() hands it to DDEML (a
// transaction or a callback result takes it over).
class DdeData {
  public:
    DdeData() = default;
    explicit DdeData(HDDEDATA data) : data_(data) {}
    ~DdeData() {
        if (data_) DdeFreeDataHandle(data_);
    }
    DdeData(const DdeData&) = delete;
    DdeData& operator=(const DdeData&) = delete;
    DdeData(DdeData&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    DdeData& operator=(DdeData&& other) noexcept {
        if (this != &other) {
            if (data_) DdeFreeDataHandle(data_);
            data_ = std::exchange(other.data_, nullptr);
        }
        return *this;
    }

    HDDEDATA get() const { return data_; }
    HDDEDATA release() { return std::exchange(data_, nullptr); }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    HDDEDATA data_ = nullptr;
};

// An open conversation, ended with the owner.
class DdeConv {
  public:
    DdeConv() = default;
    explicit DdeConv(HCONV conv) : conv_(conv) {}
    ~DdeConv() {
        if (conv_) DdeDisconnect(conv_);
    }
    DdeConv(const DdeConv&) = delete;
    DdeConv& operator=(const DdeConv&) = delete;
    DdeConv(DdeConv&& other) noexcept : conv_(std::exchange(other.conv_, nullptr)) {}
    DdeConv& operator=(DdeConv&& other) noexcept {
        if (this != &other) {
            if (conv_) DdeDisconnect(conv_);
            conv_ = std::exchange(other.conv_, nullptr);
        }
        return *this;
    }

    HCONV get() const { return conv_; }
    HCONV release() { return std::exchange(conv_, nullptr); }
    explicit operator bool() const { return conv_ != nullptr; }

  private:
    HCONV conv_ = nullptr;
};

// The text of a string handle, at most 4095 characters; "" for the zero handle.
// Wine writes "" for a zero handle but still returns 1, so the handle is tested, not the
// returned length.
inline std::string DdeQueryText(DWORD instance, HSZ hsz) {
    if (!hsz) return {};
    char buffer[4096] = "";
    DdeQueryStringA(instance, hsz, buffer, sizeof buffer, kDdeCodePage);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

} // namespace velkor
