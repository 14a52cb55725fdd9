// The window toolkit layer: ownership, destruction order and notifications of components,
// forms with real windows, the window list and the message trampoline.
#include "tests/dde/dde_test_util.h"
#include "win/Forms.h"

#include <gtest/gtest.h>

#include <memory>

using namespace velkor;

namespace {

// Records its own destruction and every notification it receives.
class Probe : public TComponent {
  public:
    Probe(TComponent* owner, std::string name, std::vector<std::string>& log)
        : TComponent(owner), log_(log) {
        SetName(std::move(name));
    }
    ~Probe() override { log_.push_back("~" + Name()); }

  protected:
    void Notification(TComponent* component, TOperation operation) override {
        log_.push_back(Name() + (operation == TOperation::Insert ? " +" : " -") +
                       component->Name());
    }

  private:
    std::vector<std::string>& log_;
};

class CountingForm : public TForm {
  public:
    using TForm::TForm;
    int userMessages = 0;

  protected:
    LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam) override {
        if (msg == WM_USER + 7) {
            ++userMessages;
            return 42;
        }
        return TForm::WndProc(msg, wparam, lparam);
    }
};

class CountingEdit : public TWinControl {
  public:
    CountingEdit(TComponent* owner, TWinControl& parent)
        : TWinControl(owner, parent, "EDIT", WS_VISIBLE) {}
    int userMessages = 0;

  protected:
    LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam) override {
        if (msg == WM_USER + 7) ++userMessages;
        return TWinControl::WndProc(msg, wparam, lparam);
    }
};

} // namespace

TEST(Component, OwnerKeepsOrderAndDestroysLastFirst) {
    std::vector<std::string> log;
    {
        Probe owner(nullptr, "owner", log);
        auto* a = new Probe(&owner, "a", log);
        auto* b = new Probe(&owner, "b", log);
        new Probe(a, "a1", log);
        ASSERT_EQ(owner.Components().size(), 2u);
        EXPECT_EQ(owner.Components()[0], a);
        EXPECT_EQ(owner.Components()[1], b);
        EXPECT_EQ(owner.FindComponent("b"), b);
        EXPECT_EQ(owner.FindComponent("a1"), nullptr); // only its own components
        EXPECT_EQ(b->Owner(), &owner);
        log.clear();
    }
    // The owner is being destroyed: it is told nothing more, and the children go last first.
    EXPECT_EQ(log, (std::vector<std::string>{"~owner", "~b", "~a", "~a1"}));
}

TEST(Component, DeletingAChildTakesItOutOfItsOwner) {
    std::vector<std::string> log;
    Probe owner(nullptr, "owner", log);
    auto* a = new Probe(&owner, "a", log);
    new Probe(&owner, "b", log);
    EXPECT_EQ(log.size(), 2u); // two insertions
    log.clear();
    delete a;
    ASSERT_EQ(owner.Components().size(), 1u);
    EXPECT_EQ(owner.Components()[0]->Name(), "b");
    EXPECT_EQ(log, (std::vector<std::string>{"~a", "owner -a"}));
}

TEST(Component, FreeNotificationWorksBothWays) {
    std::vector<std::string> log;
    auto x = std::make_unique<Probe>(nullptr, "x", log);
    auto y = std::make_unique<Probe>(nullptr, "y", log);
    auto z = std::make_unique<Probe>(nullptr, "z", log);
    x->FreeNotification(y.get());
    x->FreeNotification(z.get());
    x->RemoveFreeNotification(z.get());
    y.reset();
    z.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"~y", "x -y", "~z"}));
    log.clear();
    auto w = std::make_unique<Probe>(nullptr, "w", log);
    w->FreeNotification(x.get());
    x.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"~x", "w -x"}));
}

TEST(Forms, WindowListCaptionAndTrampoline) {
    TApplication& app = TestApplication();
    const size_t before = app.Forms().size();
    auto* first = new CountingForm(app, &app, "first form");
    auto* second = new CountingForm(app, &app, "second");
    ASSERT_EQ(app.Forms().size(), before + 2);
    EXPECT_EQ(app.Forms()[before], first);
    EXPECT_EQ(app.Forms()[before + 1], second);

    ASSERT_NE(first->Handle(), nullptr);
    char text[64] = "";
    GetWindowTextA(first->Handle(), text, sizeof text);
    EXPECT_STREQ(text, "first form");
    second->SetCaption("renamed");
    EXPECT_EQ(second->Caption(), "renamed");

    EXPECT_EQ(SendMessageA(first->Handle(), WM_USER + 7, 0, 0), 42);
    EXPECT_EQ(first->userMessages, 1);
    EXPECT_EQ(second->userMessages, 0);
    EXPECT_EQ(TWinControl::FromHandle(second->Handle()), second);

    auto* edit = new CountingEdit(first, *first);
    ASSERT_NE(edit->Handle(), nullptr);
    EXPECT_EQ(GetParent(edit->Handle()), first->Handle());
    EXPECT_EQ(TWinControl::FromHandle(edit->Handle()), edit);
    SendMessageA(edit->Handle(), WM_USER + 7, 0, 0);
    EXPECT_EQ(edit->userMessages, 1);
    SetWindowTextA(edit->Handle(), "typed"); // the control's own procedure still runs
    EXPECT_EQ(edit->Caption(), "typed");

    HWND firstWindow = first->Handle();
    HWND editWindow = edit->Handle();
    delete first;
    EXPECT_FALSE(IsWindow(firstWindow));
    EXPECT_FALSE(IsWindow(editWindow));
    ASSERT_EQ(app.Forms().size(), before + 1);
    EXPECT_EQ(app.Forms()[before], second);

    // A window destroyed from outside leaves an object without a handle, not a dangling one.
    DestroyWindow(second->Handle());
    EXPECT_EQ(second->Handle(), nullptr);
    EXPECT_EQ(second->Caption(), "");
    delete second;
    EXPECT_EQ(app.Forms().size(), before);
}

TEST(Forms, MainFormClosingEndsTheMessageLoop) {
    TApplication app;
    auto* main = new TForm(app, &app, "main");
    new TForm(app, &app, "other");
    EXPECT_EQ(app.MainForm(), main);
    PostMessageA(main->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(main->Handle(), nullptr);
    EXPECT_NE(app.Forms()[1]->Handle(), nullptr);
}
