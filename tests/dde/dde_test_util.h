// Shared pieces of the DDE tests: the test process's application, a plain DDEML client
// instance beside the process's DDE manager, and helper processes started from copies.
#pragma once

#include "app/win/Forms.h"
#include "dde/DdeHandles.h"
#include "dde/MyDdemanClient.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The application object that the test binary's main creates with its DDE manager.
velkor::TApplication& TestApplication();
void SetTestApplication(velkor::TApplication& app);

// Handles messages for `ms` milliseconds.
void Pump(DWORD ms);

// Pokes through the client conversation and handles messages until the poke is answered:
// whether it was acknowledged; none when PokeText did not queue it or no answer came.
std::optional<bool> PokeAndWait(velkor::TDdeClientConv& conv, const std::string& item,
                                std::string_view text, DWORD ms = 15000);

// A second DDEML instance of the test process: a client that sees only its own callback.
class DdemlClient {
  public:
    DdemlClient();
    ~DdemlClient();
    DdemlClient(const DdemlClient&) = delete;
    DdemlClient& operator=(const DdemlClient&) = delete;

    DWORD Id() const { return instance_.get(); }
    velkor::DdeConv Connect(const std::string& service, const std::string& topic);
    // The status word of a synchronous poke of exactly `bytes`; none when the call failed.
    std::optional<DWORD> Poke(HCONV conv, const std::string& item, std::string_view bytes,
                              DWORD timeoutMs = 5000, UINT format = CF_TEXT);
    // The bytes of the answer, zero bytes included; none when refused. Wine's DDEML server
    // follows its WM_DDE_DATA with a stray WM_DDE_ACK that a client would take as the
    // answer to its next request: it is swallowed here.
    std::optional<std::string> Request(HCONV conv, const std::string& item);
    bool AdviseStart(HCONV conv, const std::string& item);
    bool AdviseStop(HCONV conv, const std::string& item);
    std::optional<DWORD> Execute(HCONV conv, const std::string& command);

    // The data of every XTYP_ADVDATA received, in order.
    std::vector<std::string> advised;
    int disconnects = 0;

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR, ULONG_PTR);
    velkor::DdeInstance instance_;
};

// The directory of the test executable, with a trailing backslash.
std::string ExeDir();
// A fresh directory for this test run's files, with a trailing backslash.
std::string RunDir();
// Copies the helper dde_server_app.exe to RunDir() under `fileName`; returns the path.
std::string CopyServerApp(const std::string& fileName);

// A started helper program, ended with the object if it still runs.
class HelperProcess {
  public:
    HelperProcess(const std::string& exePath, const std::string& mode);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    // Waits for the helper's named event "velkor-test-TAG-<what>" while handling messages.
    bool WaitFor(const char* what, DWORD ms = 10000);
    void Signal(const char* what);
    // The exit code once the helper ended within `ms`.
    std::optional<DWORD> WaitExit(DWORD ms);
    DWORD ProcessId() const { return processId_; }
    const std::string& Tag() const { return tag_; }

  private:
    HANDLE Event(const char* what) const;

    std::string tag_;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};
