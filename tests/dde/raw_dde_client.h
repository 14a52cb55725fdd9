// A DDE client that speaks the raw WM_DDE_* messages, for what DDEML refuses to send: an
// empty item name (atom 0), as mIRC's "/dde" command sends it.
#pragma once

#include <windows.h>

#include <deque>
#include <optional>
#include <string>
#include <string_view>

class RawDdeClient {
  public:
    RawDdeClient();
    ~RawDdeClient();
    RawDdeClient(const RawDdeClient&) = delete;
    RawDdeClient& operator=(const RawDdeClient&) = delete;

    // Broadcasts WM_DDE_INITIATE; true when a server answered.
    bool Initiate(const std::string& service, const std::string& topic);
    // The status word of the server's WM_DDE_ACK; none without an answer in time.
    std::optional<WORD> Poke(const std::string& item, std::string_view text);
    std::optional<WORD> Advise(const std::string& item);
    // A request answered with WM_DDE_ACK gives its status; WM_DDE_DATA gives 0x8000.
    std::optional<WORD> Request(const std::string& item);
    void Terminate();

  private:
    struct Reply {
        UINT message;
        WORD status;
    };
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    bool Post(UINT msg, LPARAM lparam);
    std::optional<Reply> Wait();

    HWND hwnd_ = nullptr;
    HWND server_ = nullptr;
    std::deque<Reply> replies_;
};

// Adds a global atom for a non-empty name; 0 for "".
ATOM ItemAtom(const std::string& item);
