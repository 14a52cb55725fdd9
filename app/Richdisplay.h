// Richdisplay: the chat display as the display rule sees it, on a RichEdit control; and
// the control's Rich Text Format stream-out to a file.
#pragma once

#include "chat/Chatlines.h"

#include <windows.h>

#include <string>

namespace velkor {

class TRichDisplay : public chat::TChatDisplay {
  public:
    // With `keepView` and the view scrolled back from the newest line, the changes leave
    // the view on the text it shows: ScrollLines does nothing, a trim moves the view up
    // with the text, and RestoreView undoes the control's own scroll to the caret.
    explicit TRichDisplay(HWND richEdit, bool keepView = false);

    // Lines as shown (a wrapped chat line counts once per shown line), without the empty
    // position after the final line break.
    std::int32_t LineCount() const override;
    void DeleteFirstLine() override;
    void DeleteFirstLines(std::int32_t count) override;
    void AppendLine(std::string_view text) override;
    void ScrollLines(std::int32_t lines) override;
    // Positions as the control keeps them: a paragraph break is one character.
    std::int64_t TextLength() const override;
    std::int64_t LineStart(std::int32_t line) const override;
    std::int64_t TextLimit() const override;
    void InsertText(std::int64_t position, std::string_view text) override;

    // True when the view was held (the user had scrolled back) and is now restored.
    bool RestoreView();
    // True when the newest line is in view.
    bool ViewAtEnd() const;

  private:
    void ReplaceRange(LONG from, LONG to, const std::string& text);

    HWND hwnd_;
    bool holding_ = false;
    POINT held_{};       // scroll position, in pixels, when the changes began
    LONG shiftedUp_ = 0; // height of the lines trimmed since
};

// The selected text with CR LF line ends (the control ends its paragraphs with a bare
// CR, which other programs do not read as a line break), or "" when nothing is selected.
std::string SelectedText(HWND richEdit);

// Writes the whole content as an RTF document to `path`, replacing the file; throws with
// the reason when the file cannot be created or written.
void SaveRtf(HWND richEdit, const std::string& path);

} // namespace velkor
