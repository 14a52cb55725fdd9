// Forms: the small window toolkit the program is built on. Components with an owner and a
// name, windowed controls that get their own notifications back from their parent, top-level
// windows (forms) with a caption and a table of menu commands, the application with its
// ordered list of forms and a message loop that survives GetMessage errors.
#pragma once

#include "win/Handles.h"
#include "win/Platform.h"

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velkor {

class TComponent;
using TNotifyEvent = std::function<void(TComponent& sender)>;

// A named object with an owner. The owner destroys its components, last created first;
// deleting a component takes it out of its owner. Components are created on the heap
// with their owner (`new TSomething(owner)`) and are neither copied nor moved.
class TComponent {
  public:
    enum class TOperation { Insert, Remove };

    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TComponent* Owner() const { return owner_; }
    const std::vector<TComponent*>& Components() const { return components_; }
    TComponent* FindComponent(const std::string& name) const;

    // Asks for Notification(component, Remove) when `component` is destroyed; the interest
    // is mutual, so whichever of the two goes first tells the other.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // Destroys the owned components now. A derived destructor calls it first when its
    // components still need the derived part of the object while they go.
    void DestroyComponents();

  protected:
    // Told when a component is inserted into or removed from this owner, and when a
    // component registered with FreeNotification is destroyed.
    virtual void Notification(TComponent* component, TOperation operation);

  private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);

    std::string name_;
    TComponent* owner_;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    bool destroying_ = false;
};

// A component with a real window. The one window procedure trampoline binds the object
// to its window (at WM_NCCREATE for the toolkit's own class, by subclassing for system
// control classes) and forwards every message to the virtual WndProc. A control's
// notifications, which Windows sends to its parent (WM_COMMAND, WM_NOTIFY), are handed back
// to the control's own object: Command and Notify, run as handlers (RunHandler).
class TWinControl : public TComponent {
  public:
    // A child control of a system class ("EDIT", "RichEdit20A", ...) inside `parent`.
    TWinControl(TComponent* owner, TWinControl& parent, const char* className, DWORD style,
                DWORD exStyle = 0, int id = 0);
    ~TWinControl() override;

    HWND Handle() const { return hwnd_.get(); }
    std::string Caption() const;
    void SetCaption(const std::string& caption);

    static TWinControl* FromHandle(HWND hwnd);

  protected:
    explicit TWinControl(TComponent* owner);
    // Creates the window of the toolkit's own class, bound to this object.
    void CreateOwnWindow(const std::string& caption, DWORD style, DWORD exStyle, HWND parent);

    virtual LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam);
    // The handling the window would get without this object.
    LRESULT DefaultProc(UINT msg, WPARAM wparam, LPARAM lparam);

    // A notification of this control: the code of its WM_COMMAND, or the header of its
    // WM_NOTIFY and the answer to give.
    virtual void Command(WORD) {}
    virtual LRESULT Notify(NMHDR&) { return 0; }
    // Hands a WM_COMMAND or WM_NOTIFY that this window got to the control that sent it, if
    // that is an object inside this window; nullopt when it is not.
    std::optional<LRESULT> Reflect(UINT msg, WPARAM wparam, LPARAM lparam);

  private:
    static LRESULT CALLBACK OwnClassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR id, DWORD_PTR self);
    LRESULT Dispatch(UINT msg, WPARAM wparam, LPARAM lparam);

    UniqueHwnd hwnd_;
    bool subclassed_ = false;
};

class TApplication;

// A top-level window of the program. It is listed in its application's window list from
// construction until destruction; the first form listed is the main form, and destroying
// the main form's window ends the message loop.
class TForm : public TWinControl {
  public:
    TForm(TApplication& application, TComponent* owner, const std::string& caption,
          DWORD style = WS_OVERLAPPEDWINDOW);
    ~TForm() override;

    TApplication& Application() const { return application_; }
    void Show(int showCommand = SW_SHOWNORMAL);
    void Close();

    // Dots per inch of the monitor the window is on; sizes given for 96 dpi scale by it.
    UINT Dpi() const { return dpi_; }
    int Scaled(int pixelsAt96) const { return MulDiv(pixelsAt96, static_cast<int>(dpi_), 96); }

    // The handler of a command without a control (a menu item, or IsDialogMessage's IDCANCEL
    // for Escape), registered where the item is made.
    void AddCommand(int id, std::function<void()> handler);

    // The message loop gives this form's keyboard messages to IsDialogMessage first: Tab
    // and Shift+Tab move between its tab stops, Enter presses the default button
    // (DM_GETDEFID, else IDOK) and Escape sends IDCANCEL.
    bool DialogKeys = false;

  protected:
    LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam) override;
    // After WM_DPICHANGED has set the new DPI and moved the window: rebuild what depends on it.
    virtual void DpiChanged() {}

  private:
    // A WM_COMMAND without a control's window: the handler of its id; else it goes to the
    // control of this form with that id (IsDialogMessage may name the default button by its
    // id alone).
    void RunCommand(WPARAM wparam);

    TApplication& application_;
    UINT dpi_ = 96;
    std::map<int, std::function<void()>> commands_;
};

// The application object: owns the components created with it as owner and keeps the
// program's forms in creation order.
class TApplication : public TComponent {
  public:
    TApplication();
    ~TApplication() override;

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    const std::vector<TForm*>& Forms() const { return forms_; }
    TForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front(); }

    // Runs the message loop until WM_QUIT and returns its exit code.
    int Run();
    // Handles the waiting messages, then returns; false once WM_QUIT was seen.
    bool ProcessMessages();

    // Offered each message before it is dispatched; true means it was handled.
    std::function<bool(MSG&)> OnMessage;

  private:
    friend class TForm;
    void AddForm(TForm* form) { forms_.push_back(form); }
    void RemoveForm(TForm* form);
    bool Dispatch(MSG& msg);
    // Dialog keys to the form that wants them, else translate and dispatch.
    static void TranslateAndDispatch(MSG& msg);

    std::string title_;
    std::vector<TForm*> forms_;
};

// Runs a handler; an exception it raises is shown in a message box with its text and the
// program goes on, as an application's default error handling does.
void RunHandler(HWND owner, const std::function<void()>& handler);

} // namespace velkor
