// Controls: fonts, the clipboard, hookable controls and panels.
#include "win/Controls.h"

#include <cstring>
#include <stdexcept>

namespace velkor {

UniqueFont CreatePointFont(const char* face, int points, UINT dpi, bool bold, bool fixed) {
    const int height = -MulDiv(points, static_cast<int>(dpi ? dpi : ScreenDpi()), 72);
    return UniqueFont(
        CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                    fixed ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH | FF_DONTCARE, face));
}

UniqueFont CreateStatusFont(UINT dpi) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return UniqueFont(nullptr);
    // The system gives its sizes for the system DPI; the window's monitor may differ.
    LOGFONTA font = metrics.lfStatusFont;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(ScreenDpi()));
    return UniqueFont(CreateFontIndirectA(&font));
}

ClipboardLock::ClipboardLock(HWND owner) {
    // Another program may hold the clipboard for a moment: try a few times.
    open_ = false;
    for (int attempt = 0; attempt < 10 && !open_; ++attempt) {
        open_ = OpenClipboard(owner) != FALSE;
        if (!open_) Sleep(10);
    }
}

ClipboardLock::~ClipboardLock() {
    if (open_) CloseClipboard();
}

void CopyTextToClipboard(HWND owner, std::string_view text) {
    UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, text.size() + 1));
    if (!memory) throw std::runtime_error("Out of memory while copying to the clipboard.");
    auto* bytes = static_cast<char*>(GlobalLock(memory.get()));
    if (!bytes) throw std::runtime_error("Out of memory while copying to the clipboard.");
    std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = '\0';
    GlobalUnlock(memory.get());

    ClipboardLock clipboard(owner);
    if (!clipboard) throw std::runtime_error("Cannot open clipboard.");
    EmptyClipboard();
    // On success the clipboard owns the memory; on failure it is still ours to free.
    if (SetClipboardData(CF_TEXT, memory.get()))
        memory.release();
    else
        throw std::runtime_error("Cannot write to the clipboard.");
}

TControl::TControl(TComponent* owner, TWinControl& parent, const char* className, DWORD style,
                   DWORD exStyle, int id)
    : TWinControl(owner, parent, className, style, exStyle, id) {}

void TControl::SetBounds(int left, int top, int width, int height) {
    MoveWindow(Handle(), left, top, width < 0 ? 0 : width, height < 0 ? 0 : height, TRUE);
}

void TControl::SetFont(HFONT font) {
    SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

LRESULT TControl::WndProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (OnMessage) {
        if (const auto result = OnMessage(msg, wparam, lparam)) return *result;
    }
    return TWinControl::WndProc(msg, wparam, lparam);
}

void TControl::Command(WORD code) {
    if (OnCommand) OnCommand(code);
}

LRESULT TControl::Notify(NMHDR& header) {
    return OnNotify ? OnNotify(header) : 0;
}

TPanel::TPanel(TComponent* owner, TWinControl& parent, DWORD exStyle)
    : TControl(owner, parent, "STATIC", WS_VISIBLE | WS_CLIPCHILDREN, exStyle) {}

} // namespace velkor
