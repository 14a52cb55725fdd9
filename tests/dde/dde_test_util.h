// Shared pieces of the DDE tests: the test process's application, poking through the
// unit's own client conversation, and helper programs started from copies.
#pragma once

#include "dde/MyDdemanClient.h"
#include "harness/kit/Process.h"
#include "win/Forms.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The application object that the test binary's main creates with its DDE manager.
velkor::TApplication& TestApplication();
void SetTestApplication(velkor::TApplication& app);

// Pokes through the client conversation and handles messages until the poke is answered:
// whether it was acknowledged; none when PokeText did not queue it or no answer came.
std::optional<bool> PokeAndWait(velkor::TDdeClientConv& conv, const std::string& item,
                                std::string_view text, DWORD ms = 15000);

// The directory of the harness's helper programs, with a trailing separator.
std::string HelperDir();
// A fresh directory for this test run's files, with a trailing backslash.
std::string RunDir();
// Copies the helper dde_server_app.exe to RunDir() under `fileName`; returns the path.
std::string CopyServerApp(const std::string& fileName);

// A started helper program "EXE TAG MODE", ended with the object if it still runs: its
// windows are closed, which lets it end its conversations.
class HelperProcess : public velkor::kit::Process {
  public:
    HelperProcess(const std::string& exePath, const std::string& mode)
        : HelperProcess(exePath, mode, NextTag()) {}
    ~HelperProcess() { End(); }

    // Waits for the helper's named event "velkor-test-TAG-<what>" while handling messages.
    bool WaitEvent(const char* what, DWORD ms = 10000);
    void Signal(const char* what);
    const std::string& Tag() const { return tag_; }

  private:
    HelperProcess(const std::string& exePath, const std::string& mode, std::string tag)
        : Process(exePath, tag + " " + mode), tag_(std::move(tag)) {}
    static std::string NextTag();
    HANDLE Event(const char* what) const;

    std::string tag_;
};
