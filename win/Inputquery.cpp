// Inputquery: the dialog is built from an in-memory template, so it needs no resource.
#include "win/Inputquery.h"

#include <stdexcept>
#include <string_view>
#include <vector>

namespace velkor {

namespace {

constexpr int kPromptId = 101;

// A DLGTEMPLATE with its items, written word by word; items start on a DWORD boundary.
class DialogTemplate {
  public:
    void Header(DWORD style, short cx, short cy, std::string_view title, short points,
                std::string_view font) {
        Dword(style);
        Dword(0);
        count_ = words_.size();
        Word(0); // item count, filled in by Item()
        Word(0);
        Word(0);
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(0); // no menu
        Word(0); // standard dialog class
        Text(title);
        Word(static_cast<WORD>(points));
        Text(font);
    }

    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
              std::string_view text) {
        while (words_.size() % 2)
            Word(0);
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(id);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0); // no creation data
        ++words_[count_];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    // Texts of a template are UTF-16; these are ASCII.
    void Text(std::string_view s) {
        for (char c : s)
            Word(static_cast<unsigned char>(c));
        Word(0);
    }

    std::vector<WORD> words_;
    std::size_t count_ = 0;
};

struct QueryState {
    const std::string* prompt;
    const std::string* value;
    std::string result;
};

INT_PTR CALLBACK QueryProc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        const auto* state = reinterpret_cast<QueryState*>(lparam);
        // The template's texts are UTF-16 of ASCII; the ANSI texts are set here.
        SetDlgItemTextA(dialog, kPromptId, state->prompt->c_str());
        HWND field = GetDlgItem(dialog, InputQueryFieldId);
        SendMessageA(field, EM_LIMITTEXT, InputQueryMaxLength, 0);
        SetWindowTextA(field, state->value->c_str());
        SendMessageA(field, EM_SETSEL, 0, -1);
        SetFocus(field);
        return FALSE; // focus set here
    }
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            auto* state = reinterpret_cast<QueryState*>(GetWindowLongPtrA(dialog, DWLP_USER));
            HWND field = GetDlgItem(dialog, InputQueryFieldId);
            std::string text(static_cast<size_t>(GetWindowTextLengthA(field)) + 1, '\0');
            const int n = GetWindowTextA(field, text.data(), static_cast<int>(text.size()));
            text.resize(n > 0 ? static_cast<size_t>(n) : 0);
            state->result = std::move(text);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

std::optional<std::string> InputQuery(HWND owner, const std::string& caption,
                                      const std::string& prompt, const std::string& value) {
    constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;
    DialogTemplate t;
    t.Header(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 180, 63,
             caption, 8, "MS Shell Dlg");
    t.Item(SS_LEFT, 8, 6, 164, 9, kPromptId, kStatic, "");
    t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 18, 164, 13, InputQueryFieldId, kEdit, "");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 68, 42, 50, 14, IDOK, kButton, "OK");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 122, 42, 50, 14, IDCANCEL, kButton, "Cancel");

    QueryState state{&prompt, &value, {}};
    const INT_PTR answer = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.Get(), owner,
                                                   QueryProc, reinterpret_cast<LPARAM>(&state));
    if (answer == -1) throw std::runtime_error("The input dialog cannot be shown.");
    if (answer != IDOK) return std::nullopt;
    return state.result;
}

} // namespace velkor
