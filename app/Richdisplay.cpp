// Richdisplay: RichEdit line counting, trimming, appending, scrolling and RTF stream-out.
#include "app/Richdisplay.h"

#include "win/Controls.h"

#include <richedit.h>

#include <stdexcept>

namespace velkor {

namespace {

// Where the character at `index` is drawn, in client coordinates. The POINTL form: the
// rich-text control of Windows takes no other.
POINTL CharPosition(HWND richEdit, LRESULT index) {
    POINTL p{};
    SendMessageA(richEdit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&p), index);
    return p;
}

} // namespace

bool TRichDisplay::ViewAtEnd() const {
    // Where the text ends (below the last line) against the view's bottom: the control's
    // layout, current also while redraw is off, where its scroll bar may not be.
    RECT client;
    GetClientRect(hwnd_, &client);
    return CharPosition(hwnd_, static_cast<LRESULT>(TextLength())).y <= client.bottom;
}

TRichDisplay::TRichDisplay(HWND richEdit, bool keepView) : hwnd_(richEdit) {
    if (keepView && !ViewAtEnd()) {
        holding_ = true;
        SendMessageA(hwnd_, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&held_));
    }
}

bool TRichDisplay::RestoreView() {
    if (!holding_) return false;
    POINT p{held_.x, held_.y > shiftedUp_ ? held_.y - shiftedUp_ : 0};
    SendMessageA(hwnd_, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&p));
    return true;
}

std::int32_t TRichDisplay::LineCount() const {
    const auto count = static_cast<std::int32_t>(SendMessageA(hwnd_, EM_GETLINECOUNT, 0, 0));
    // The control counts the empty position after the last break (and 1 when empty).
    const LRESULT lastStart = SendMessageA(hwnd_, EM_LINEINDEX, count - 1, 0);
    const LRESULT lastLength = SendMessageA(hwnd_, EM_LINELENGTH, lastStart, 0);
    return lastLength == 0 ? count - 1 : count;
}

void TRichDisplay::ReplaceRange(LONG from, LONG to, const std::string& text) {
    CHARRANGE range{from, to};
    SendMessageA(hwnd_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    // Not EM_SETTEXTEX: it reads a text that starts with "{\rtf" as a document, and a
    // poked line must show as the characters it is. EM_REPLACESEL passes read-only.
    SendMessageA(hwnd_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TRichDisplay::DeleteFirstLine() {
    DeleteFirstLines(1);
}

void TRichDisplay::DeleteFirstLines(std::int32_t count) {
    if (count <= 0) return;
    LRESULT next = SendMessageA(hwnd_, EM_LINEINDEX, static_cast<WPARAM>(count), 0);
    if (next < 0) // no line after them: everything goes
        next = static_cast<LRESULT>(TextLength());
    if (holding_) // the text below moves up by the height of what goes
        shiftedUp_ += CharPosition(hwnd_, next).y - CharPosition(hwnd_, 0).y;
    ReplaceRange(0, static_cast<LONG>(next), "");
}

void TRichDisplay::AppendLine(std::string_view text) {
    // The control would cut at its limit silently, and with the text its line break, so
    // that the next line would run on: cut here and keep the break. The caller has made
    // room, so this cuts only a text longer than the whole display.
    const std::int64_t room = TextLimit() - TextLength() - 2;
    if (room <= 0) return;
    if (static_cast<std::int64_t>(text.size()) > room)
        text = text.substr(0, static_cast<size_t>(room));
    ReplaceRange(-1, -1, std::string(text) + "\r\n");
}

void TRichDisplay::InsertText(std::int64_t position, std::string_view text) {
    // Within the limit: the control would drop what does not fit.
    const std::int64_t room = TextLimit() - TextLength();
    if (room <= 0) return;
    if (static_cast<std::int64_t>(text.size()) > room)
        text = text.substr(0, static_cast<size_t>(room));
    const auto at = static_cast<LONG>(position);
    ReplaceRange(at, at, std::string(text));
}

std::int64_t TRichDisplay::TextLength() const {
    // The last line as the control counts it (the empty one after a final break, if so)
    // ends the text; its start and length are in the control's own positions.
    const LRESULT count = SendMessageA(hwnd_, EM_GETLINECOUNT, 0, 0);
    const LRESULT lastStart = SendMessageA(hwnd_, EM_LINEINDEX, count - 1, 0);
    const LRESULT lastLength = SendMessageA(hwnd_, EM_LINELENGTH, lastStart, 0);
    return static_cast<std::int64_t>(lastStart) + static_cast<std::int64_t>(lastLength);
}

std::int64_t TRichDisplay::LineStart(std::int32_t line) const {
    return static_cast<std::int64_t>(SendMessageA(hwnd_, EM_LINEINDEX, line, 0));
}

std::int64_t TRichDisplay::TextLimit() const {
    return static_cast<std::int64_t>(SendMessageA(hwnd_, EM_GETLIMITTEXT, 0, 0));
}

void TRichDisplay::ScrollLines(std::int32_t lines) {
    if (!holding_) SendMessageA(hwnd_, EM_LINESCROLL, 0, lines);
}

std::string SelectedText(HWND richEdit) {
    CHARRANGE range{};
    SendMessageA(richEdit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    if (range.cpMax <= range.cpMin) return {};
    // Room for the text and its zero; a CR LF pair of the text counts as one position.
    std::string text(static_cast<size_t>(range.cpMax - range.cpMin) * 2 + 1, '\0');
    const LRESULT n =
        SendMessageA(richEdit, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    std::string lines;
    lines.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            lines += c;
        }
    }
    return lines;
}

namespace {

DWORD CALLBACK WriteRtf(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* written) {
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(cookie), buffer, static_cast<DWORD>(count), &done,
                   nullptr) ||
        done != static_cast<DWORD>(count))
        return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    *written = static_cast<LONG>(done);
    return 0;
}

std::string SystemMessage(DWORD code) {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

} // namespace

void SaveRtf(HWND richEdit, const std::string& path) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("Cannot create file \"" + path + "\". " +
                                 SystemMessage(GetLastError()));
    }
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(file.get()), 0, WriteRtf};
    SendMessageA(richEdit, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    if (stream.dwError != 0)
        throw std::runtime_error("Cannot write file \"" + path + "\". " +
                                 SystemMessage(stream.dwError));
}

} // namespace velkor
