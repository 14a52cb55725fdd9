// Forms: components, windowed controls, forms and the application's message loop.
#include "win/Forms.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace velkor {

namespace {

constexpr char kFormClass[] = "VelkorForm";
constexpr UINT_PTR kSubclassId = 1;
// Names the object of a subclassed control (GetWindowSubclass has no import by name).
constexpr char kControlProp[] = "VelkorControl";

void RegisterFormClass(WNDPROC proc) {
    static const bool registered = [proc] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kFormClass;
        return RegisterClassExA(&wc) != 0;
    }();
    if (!registered) throw std::runtime_error("the form window class cannot be registered");
}

} // namespace

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) : owner_(nullptr) {
    if (owner) owner->Insert(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Copy first: a notified component may unregister itself while we walk the list.
    const auto notifies = freeNotifies_;
    freeNotifies_.clear();
    for (TComponent* c : notifies) {
        auto& theirs = c->freeNotifies_;
        theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
        c->Notification(this, TOperation::Remove);
    }
    DestroyComponents();
    if (owner_) owner_->Remove(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (TComponent* c : components_)
        if (c->name_ == name) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
        freeNotifies_.push_back(component);
    auto& theirs = component->freeNotifies_;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component),
                        freeNotifies_.end());
    auto& theirs = component->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        Remove(last);
        delete last;
    }
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::Insert(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
    Notification(component, TOperation::Insert);
}

void TComponent::Remove(TComponent* component) {
    auto it = std::find(components_.begin(), components_.end(), component);
    if (it == components_.end()) return;
    components_.erase(it);
    component->owner_ = nullptr;
    if (!destroying_) Notification(component, TOperation::Remove);
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner) : TComponent(owner) {}

TWinControl::TWinControl(TComponent* owner, TWinControl& parent, const char* className, DWORD style,
                         DWORD exStyle, int id)
    : TComponent(owner) {
    HWND hwnd = CreateWindowExA(exStyle, className, "", style | WS_CHILD, 0, 0, 0, 0,
                                parent.Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleA(nullptr), nullptr);
    if (!hwnd) throw std::runtime_error(std::string("cannot create a ") + className + " control");
    hwnd_.reset(hwnd);
    subclassed_ = SetWindowSubclass(hwnd, SubclassProc, kSubclassId,
                                    reinterpret_cast<DWORD_PTR>(this)) != FALSE;
    if (subclassed_) SetPropA(hwnd, kControlProp, this);
}

TWinControl::~TWinControl() {
    // The window outlives nothing of this object: unbind it before it goes, so that the
    // messages of its destruction reach only the default handling.
    HWND hwnd = hwnd_.get();
    if (hwnd && IsWindow(hwnd)) {
        if (subclassed_) {
            RemoveWindowSubclass(hwnd, SubclassProc, kSubclassId);
            RemovePropA(hwnd, kControlProp);
        } else
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    }
    hwnd_.reset();
}

std::string TWinControl::Caption() const {
    HWND hwnd = Handle();
    if (!hwnd) return {};
    std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
    const int n = GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

void TWinControl::SetCaption(const std::string& caption) {
    if (Handle()) SetWindowTextA(Handle(), caption.c_str());
}

TWinControl* TWinControl::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    char cls[64] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpA(cls, kFormClass) == 0)
        return reinterpret_cast<TWinControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return static_cast<TWinControl*>(GetPropA(hwnd, kControlProp));
}

void TWinControl::CreateOwnWindow(const std::string& caption, DWORD style, DWORD exStyle,
                                  HWND parent) {
    RegisterFormClass(OwnClassProc);
    HWND hwnd = CreateWindowExA(exStyle, kFormClass, caption.c_str(), style, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr,
                                GetModuleHandleA(nullptr), this);
    if (!hwnd) throw std::runtime_error("cannot create the window \"" + caption + "\"");
    hwnd_.reset(hwnd);
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (const auto reflected = Reflect(msg, wparam, lparam)) return *reflected;
    return DefaultProc(msg, wparam, lparam);
}

std::optional<LRESULT> TWinControl::Reflect(UINT msg, WPARAM wparam, LPARAM lparam) {
    HWND from = nullptr;
    if (msg == WM_COMMAND)
        from = reinterpret_cast<HWND>(lparam); // 0 for a menu
    else if (msg == WM_NOTIFY)
        from = reinterpret_cast<const NMHDR*>(lparam)->hwndFrom;
    // Inside this window: a panel's child, or a form's control in a panel when the dialog
    // keys name the default button.
    TWinControl* control = from && IsChild(Handle(), from) ? FromHandle(from) : nullptr;
    if (!control) return std::nullopt;
    LRESULT result = 0;
    RunHandler(GetAncestor(Handle(), GA_ROOT), [&] {
        if (msg == WM_COMMAND)
            control->Command(HIWORD(wparam));
        else
            result = control->Notify(*reinterpret_cast<NMHDR*>(lparam));
    });
    return result;
}

LRESULT TWinControl::DefaultProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (subclassed_) return DefSubclassProc(Handle(), msg, wparam, lparam);
    return DefWindowProcA(Handle(), msg, wparam, lparam);
}

LRESULT TWinControl::Dispatch(UINT msg, WPARAM wparam, LPARAM lparam) {
    const LRESULT result = WndProc(msg, wparam, lparam);
    if (msg == WM_NCDESTROY) hwnd_.release();
    return result;
}

LRESULT CALLBACK TWinControl::OwnClassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lparam);
        auto* self = static_cast<TWinControl*>(cs->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        // CreateWindowEx has not returned yet: the handle is needed by the messages of
        // creation that reach WndProc.
        self->hwnd_.reset(hwnd);
    }
    auto* self = reinterpret_cast<TWinControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    return self->Dispatch(msg, wparam, lparam);
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR, DWORD_PTR self) {
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, kSubclassId);
        RemovePropA(hwnd, kControlProp);
        auto* control = reinterpret_cast<TWinControl*>(self);
        control->subclassed_ = false;
        control->hwnd_.release();
        return DefSubclassProc(hwnd, msg, wparam, lparam);
    }
    return reinterpret_cast<TWinControl*>(self)->Dispatch(msg, wparam, lparam);
}

// ---- TForm ----

TForm::TForm(TApplication& application, TComponent* owner, const std::string& caption, DWORD style)
    : TWinControl(owner), application_(application) {
    CreateOwnWindow(caption, style, 0, nullptr);
    dpi_ = WindowDpi(Handle());
    application_.AddForm(this);
}

TForm::~TForm() {
    // Components may still look at their form (its caption, its handle) as they go.
    DestroyComponents();
    application_.RemoveForm(this);
}

void TForm::Show(int showCommand) {
    if (Handle()) ShowWindow(Handle(), showCommand);
}

void TForm::Close() {
    if (Handle()) SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

void TForm::AddCommand(int id, std::function<void()> handler) {
    commands_[id] = std::move(handler);
}

void TForm::RunCommand(WPARAM wparam) {
    const int id = LOWORD(wparam);
    if (const auto it = commands_.find(id); it != commands_.end()) {
        RunHandler(Handle(), it->second);
        return;
    }
    for (TComponent* component : Components())
        if (auto* control = dynamic_cast<TWinControl*>(component);
            control && control->Handle() && GetDlgCtrlID(control->Handle()) == id) {
            Reflect(WM_COMMAND, wparam, reinterpret_cast<LPARAM>(control->Handle()));
            return;
        }
}

LRESULT TForm::WndProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_COMMAND && lparam == 0) {
        RunCommand(wparam);
        return 0;
    }
    if (msg == WM_DESTROY && application_.MainForm() == this) PostQuitMessage(0);
    if (msg == WM_DPICHANGED) {
        // Moved to a monitor of another DPI (or its scale changed): take the size the
        // system suggests for it, then rebuild fonts and layout.
        dpi_ = HIWORD(wparam) ? HIWORD(wparam) : 96;
        const auto* r = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(Handle(), nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        DpiChanged();
        return 0;
    }
    return TWinControl::WndProc(msg, wparam, lparam);
}

// ---- TApplication ----

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() {
    DestroyComponents();
}

void TApplication::RemoveForm(TForm* form) {
    forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
}

bool TApplication::Dispatch(MSG& msg) {
    if (OnMessage && OnMessage(msg)) return true;
    TranslateAndDispatch(msg);
    return true;
}

void TApplication::TranslateAndDispatch(MSG& msg) {
    if (msg.hwnd && msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
        HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        const auto* form = dynamic_cast<const TForm*>(TWinControl::FromHandle(root));
        if (form && form->DialogKeys && IsDialogMessageA(root, &msg)) return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

int TApplication::Run() {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(msg.wParam);
        // -1 is an error for this one message (Wine gives it for a DDE message whose
        // data could not be mapped, e.g. a poke of more than about 2 MB): skip it.
        if (got == -1) continue;
        Dispatch(msg);
    }
}

bool TApplication::ProcessMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        Dispatch(msg);
    }
    return true;
}

void RunHandler(HWND owner, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        MessageBoxA(owner, e.what(), "velkor", MB_OK | MB_ICONERROR);
    }
}

} // namespace velkor
