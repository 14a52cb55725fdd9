// One chat window shared by the hostile DDE cases (restarted only when a case needs a fresh
// one or the last case broke it), and the checks every case ends with.
#pragma once

#include "harness/kit/DdeClients.h"
#include "harness/kit/DdeServers.h"
#include "harness/kit/Desktop.h"
#include "harness/kit/Pump.h"
#include "harness/kit/Velkor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

using namespace velkor::kit;

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class Hostile : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static Velkor& App() { return *app_; }
    static CommandServer& Mirc() { return *mirc_; }
    // Ends the running program and starts a new one with the start settings.
    static void Restart();

    // Pokes "#velkor probe <tag>" and checks that it was acknowledged and is the last line
    // shown: the window still answers after whatever came before.
    static ::testing::AssertionResult PokeAndSee(const std::string& tag);
    static void ClearDisplay();
    // A settings dialog by its menu command, `entry` confirmed or cancelled; the dialog's
    // HWND while open is given to `whileOpen` first, if set.
    static void Setting(int menuId, const char* caption, const std::string& entry, bool confirm,
                        const std::function<void(HWND dialog)>& whileOpen = {});

    // Hides the chat window while it lives: the RichEdit then appends without painting,
    // which is not under test where many lines go in.
    class Unpainted {
      public:
        Unpainted() { ShowWindow(App().Main(), SW_HIDE); }
        ~Unpainted() { ShowWindow(App().Main(), SW_SHOWNOACTIVATE); }
        Unpainted(const Unpainted&) = delete;
        Unpainted& operator=(const Unpainted&) = delete;
    };

  private:
    static inline std::unique_ptr<CommandServer> mirc_;
    static inline std::unique_ptr<Velkor> app_;
};
