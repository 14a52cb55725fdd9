// One chat window shared by the hostile DDE cases (restarted only when a case needs a fresh
// one or the last case broke it), and the checks every case ends with.
#pragma once

#include "tests/hostile/hostile_dde.h"
#include "tests/window/window_driver.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

class Hostile : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static Velkor& App() { return *app_; }
    static MircServer& Mirc() { return *mirc_; }
    // Ends the running program and starts a new one with the start settings.
    static void Restart();

    // Pokes "#velkor probe <tag>" and checks that it was acknowledged and is the last line
    // shown: the window still answers after whatever came before.
    static ::testing::AssertionResult PokeAndSee(const std::string& tag);
    static void ClearDisplay();
    // Opens a settings dialog by its menu command, enters `entry` and confirms or cancels;
    // the dialog's HWND while open is given to `whileOpen` first, if set.
    static void Setting(int menuId, const char* caption, const std::string& entry, bool confirm,
                        const std::function<void(HWND dialog)>& whileOpen = {});
    // An error or message box of the program ("#32770" titled "velkor"), or nullptr.
    static HWND MessageBox();
    // WM_GETTEXTLENGTH of the display: cheap where reading a large display is not.
    static std::size_t DisplayLength();
    // The length as the control keeps it, a paragraph break one character: what its text
    // limit counts.
    static std::size_t StoredLength();
    // Answers a message within `ms` (a large line can keep it busy for seconds).
    static bool Alive(DWORD ms = 5000);

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
    static inline std::unique_ptr<MircServer> mirc_;
    static inline std::unique_ptr<Velkor> app_;
};
