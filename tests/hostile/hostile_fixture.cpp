// The shared chat window of the hostile DDE cases and their closing checks.
#include "tests/hostile/hostile_fixture.h"

#include "app/Menuids.h"

void Hostile::SetUpTestSuite() {
    mirc_ = std::make_unique<CommandServer>();
    app_ = std::make_unique<Velkor>();
}

void Hostile::TearDownTestSuite() {
    app_.reset();
    mirc_.reset();
}

void Hostile::Restart() {
    app_.reset();
    app_ = std::make_unique<Velkor>();
}

void Hostile::SetUp() {
    // A case that broke the window has failed already; the next one gets a fresh window.
    if (!app_->Alive() || app_->MessageBoxWindow()) Restart();
    ClearDisplay();
}

void Hostile::ClearDisplay() {
    App().Menu(velkor::menuid::Clearbuffer1);
    // By its length: reading a display of thousands of lines takes seconds under Wine.
    WaitFor([] { return App().DisplayLength() == 0; });
}

::testing::AssertionResult Hostile::PokeAndSee(const std::string& tag) {
    // As mIRC's remote event: a conversation of its own, item "", a bounded initiate (a
    // hung program on the desktop does not hold the probe, as it would hold DdeConnect).
    RawDdeClient client;
    if (!client.Initiate())
        return ::testing::AssertionFailure() << "no conversation with velkor|velkor";
    const std::string line = "#velkor probe " + tag;
    const auto reply = client.Poke("", line + '\0');
    if (!Acked(reply))
        return ::testing::AssertionFailure() << "probe " << tag << " not acknowledged: status "
                                             << (reply ? int(reply->status) : -1);
    const auto lines = App().DisplayLines();
    if (lines.empty() || lines.back() != "<probe> " + tag)
        return ::testing::AssertionFailure()
               << "probe " << tag << " not shown; last line: "
               << (lines.empty() ? "(none)" : lines.back().substr(0, 80));
    return ::testing::AssertionSuccess();
}

void Hostile::Setting(int menuId, const char* caption, const std::string& entry, bool confirm,
                      const std::function<void(HWND dialog)>& whileOpen) {
    ASSERT_TRUE(App().Setting(menuId, caption, entry, confirm, whileOpen)) << caption;
}
