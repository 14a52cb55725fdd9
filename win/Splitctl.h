// Splitctl: the splitter bar between the display and the input box. Dragging it with the
// left button moves the top edge of its resizing control by the distance dragged.
#pragma once

#include "win/Forms.h"

#include <functional>

namespace velkor {

class TSplitter : public TWinControl {
  public:
    static constexpr int ThicknessAt96 = 4; // pixels at 96 dpi

    TSplitter(TComponent* owner, TWinControl& parent);

    // The bar's height in pixels, which the parent's layout gives it for its DPI; also the
    // margin that keeps the pointer off the parent's edges while dragging.
    int Thickness() const { return thickness_; }
    void SetThickness(int pixels) { thickness_ = pixels > 0 ? pixels : 1; }

    // The control below the bar whose height the drag changes (the input box).
    TWinControl* ResizingControl = nullptr;
    // Called on release with the vertical distance dragged (down is positive).
    std::function<void(int dy)> OnMoved;

  protected:
    LRESULT WndProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

  private:
    int ParentY(LPARAM lparam) const;
    void DrawOutline(int y) const;
    void EndDrag(bool apply, int y);

    int thickness_ = ThicknessAt96;
    bool dragging_ = false;
    int startY_ = 0;   // pointer, in the parent's client coordinates, at the press
    int outlineY_ = 0; // where the inverted outline is drawn now
};

} // namespace velkor
