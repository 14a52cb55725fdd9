// Process: the one launcher of the programs a Wine test starts (velkor.exe, the IRC client
// stand-ins, helper programs), and the files they leave for the test to read.
#pragma once

#include "win/Handles.h"

#include <windows.h>

#include <optional>
#include <string>

namespace velkor::kit {

// A kernel object (process, thread, event), closed with its owner.
using KernelHandle = UniqueKernelObject;

class Process {
  public:
    enum class Output { Inherit, Discard };

    // Starts `exe` (slashes or backslashes) with `args` after it on the command line.
    explicit Process(const std::string& exe, const std::string& args = {},
                     Output output = Output::Inherit);
    // Kills it if it still runs.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return bool(process_); }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }
    // Asks it to end with WM_CLOSE, to `window` or else to every top-level window it has
    // (a killed Wine process can leave windows behind that slow every later DDE broadcast),
    // and handles messages while it goes; kills it after `ms`.
    void End(HWND window = nullptr, DWORD ms = 5000);
    // Ends it at once: no goodbye to its DDE partners, as when it is killed or crashes.
    void Kill();
    // The exit code once it ended within `ms`, handling messages meanwhile.
    std::optional<DWORD> WaitExit(DWORD ms);

  private:
    KernelHandle process_;
    DWORD id_ = 0;
};

std::string WindowsPath(std::string path);
// A path in the temporary folder, unique to this test process.
std::string TempPath(const std::string& name);
// The whole file, also while another process writes it; "" when it cannot be opened.
std::string ReadWholeFile(const std::string& path);

} // namespace velkor::kit
