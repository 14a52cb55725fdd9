// Splitctl: the splitter bar; the drag draws an inverted outline on the parent window.
#include "win/Splitctl.h"

#include <windowsx.h>

namespace velkor {

TSplitter::TSplitter(TComponent* owner, TWinControl& parent) : TWinControl(owner) {
    CreateOwnWindow("", WS_CHILD | WS_VISIBLE, 0, parent.Handle());
}

int TSplitter::ParentY(LPARAM lparam) const {
    POINT p{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    MapWindowPoints(Handle(), GetParent(Handle()), &p, 1);
    return p.y;
}

void TSplitter::DrawOutline(int y) const {
    HWND parent = GetParent(Handle());
    RECT client;
    GetClientRect(parent, &client);
    // Drawn over the children too; drawing it twice at one place removes it.
    HDC dc = GetDCEx(parent, nullptr, DCX_CACHE | DCX_PARENTCLIP);
    PatBlt(dc, 0, y - thickness_ / 2, client.right, thickness_, DSTINVERT);
    ReleaseDC(parent, dc);
}

void TSplitter::EndDrag(bool apply, int y) {
    if (!dragging_) return;
    dragging_ = false;
    DrawOutline(outlineY_);
    ClipCursor(nullptr);
    if (GetCapture() == Handle()) ReleaseCapture();
    if (apply && OnMoved && y != startY_) OnMoved(y - startY_);
}

LRESULT TSplitter::WndProc(UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_SETCURSOR:
        SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_SIZENS)));
        return TRUE;
    case WM_LBUTTONDOWN: {
        HWND parent = GetParent(Handle());
        // The pointer stays inside the parent's client area shrunk by the bar's thickness.
        RECT area;
        GetClientRect(parent, &area);
        InflateRect(&area, -thickness_, -thickness_);
        MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&area), 2);
        ClipCursor(&area);
        SetCapture(Handle());
        dragging_ = true;
        startY_ = outlineY_ = ParentY(lparam);
        DrawOutline(outlineY_);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (dragging_) {
            DrawOutline(outlineY_);
            outlineY_ = ParentY(lparam);
            DrawOutline(outlineY_);
        }
        return 0;
    case WM_LBUTTONUP:
        EndDrag(true, ParentY(lparam));
        return 0;
    case WM_CAPTURECHANGED:
        // Capture taken away (another window, Alt+Tab): drop the drag without moving.
        if (reinterpret_cast<HWND>(lparam) != Handle()) EndDrag(false, startY_);
        return 0;
    default:
        return TWinControl::WndProc(msg, wparam, lparam);
    }
}

} // namespace velkor
