// Mainmenu: the chat window's main and pop-up menus and the commands they run: settings
// dialogs, encryption switch, status bar, clearing and saving the display, About, Exit.
#include "app/Main.h"

#include "app/Menuids.h"
#include "app/Richdisplay.h"
#include "app/help.h"
#include "win/Inputquery.h"

#include <commdlg.h>

namespace velkor {

namespace {

using namespace menuid;

// A menu item and the handler it runs; no id: a separator.
struct TMenuItem {
    int id = 0;
    const char* caption = nullptr;
    void (TfMain::*handler)() = nullptr;
};

void AppendSubmenu(HMENU menu, HMENU submenu, const char* caption) {
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), caption);
}

} // namespace

void TfMain::CreateMenus() {
    // Each item is made with its handler: the pop-up items have ids of their own (their
    // check marks are their own) and run their main-menu namesake's handler.
    const auto items = [this](HMENU menu, std::initializer_list<TMenuItem> entries) {
        for (const TMenuItem& e : entries) {
            if (!e.id) {
                AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(e.id), e.caption);
            AddCommand(e.id, [this, handler = e.handler] { (this->*handler)(); });
        }
        return menu;
    };
    const auto submenu = [&items](std::initializer_list<TMenuItem> entries) {
        return items(CreatePopupMenu(), entries);
    };

    UniqueMenu bar(CreateMenu());
    AppendSubmenu(bar.get(),
                  submenu({{Clearbuffer1, "&Clear buffer", &TfMain::Clearbuffer1Click},
                           {Savebuffer1, "&Save buffer", &TfMain::Savebuffer1Click},
                           {},
                           {Exit1, "E&xit", &TfMain::Exit1Click}}),
                  "&File");
    AppendSubmenu(
        bar.get(),
        submenu({{Setkey1, "&Set key", &TfMain::Setkey1Click}, {On1, "&On", &TfMain::On1Click}}),
        "&Encryption");
    AppendSubmenu(bar.get(), submenu({{Channel1, "&Channel", &TfMain::Channel1Click}}), "&IRC");
    HMENU options = submenu({{Bufferlines1, "&Buffer lines", &TfMain::Bufferlines1Click},
                             {Commandbuffer1, "&Command buffer", &TfMain::Commandbuffer1Click}});
    AppendSubmenu(options,
                  submenu({{ServerID1, "&ServerID", &TfMain::ServerID1Click},
                           {Manualconnect1, "&Manual connect", &TfMain::Manualconnect1Click}}),
                  "&DDE");
    items(options, {{HideStatusBar1, "&Hide StatusBar", &TfMain::HideStatusBar1Click}});
    AppendSubmenu(bar.get(), options, "&Options");
    AppendSubmenu(bar.get(), submenu({{About1, "&About...", &TfMain::About1Click}}), "&Help");
    if (!SetMenu(Handle(), bar.get())) throw std::runtime_error("The menu cannot be shown.");
    MainMenu1 = bar.release(); // destroyed with the window from now on

    // The pop-up menu of the display.
    PopupMenu1.reset(CreatePopupMenu());
    HMENU popup = PopupMenu1.get();
    items(popup, {{Clearbuffer2, "Clear buffer", &TfMain::Clearbuffer1Click},
                  {Savebuffer2, "Save buffer", &TfMain::Savebuffer1Click}});
    AppendSubmenu(
        popup,
        submenu({{Setkey2, "Set key", &TfMain::Setkey1Click}, {On2, "On", &TfMain::On1Click}}),
        "Encryption");
    AppendSubmenu(popup, submenu({{Channel2, "Channel", &TfMain::Channel1Click}}), "IRC");
    HMENU options2 = submenu({{Bufferlines2, "Buffer lines", &TfMain::Bufferlines1Click},
                              {Commandbuffer2, "Command buffer", &TfMain::Commandbuffer1Click}});
    AppendSubmenu(options2,
                  submenu({{ServerID2, "ServerID", &TfMain::ServerID1Click},
                           {Manualconnect2, "Manual connect", &TfMain::Manualconnect1Click}}),
                  "DDE");
    items(options2, {{Hidestatusbar2, "Hide statusbar", &TfMain::HideStatusBar1Click}});
    AppendSubmenu(popup, options2, "Options");
    AppendSubmenu(popup, submenu({{About2, "About...", &TfMain::About1Click}}), "Help");
    items(popup, {{Exit2, "Exit", &TfMain::Exit1Click}});
}

void TfMain::RunSettingDialog(chat::TSettingDialog dialog) {
    const chat::TDialogText text = chat::DialogText(dialog);
    const auto entry = InputQuery(Handle(), std::string(text.Caption), std::string(text.Prompt),
                                  chat::DialogStartText(settings_, dialog));
    chat::ApplyDialogEntry(settings_, dialog, entry);
}

void TfMain::Setkey1Click() {
    RunSettingDialog(chat::TSettingDialog::SetKey);
    UpdateStatusLine();
}

void TfMain::Channel1Click() {
    RunSettingDialog(chat::TSettingDialog::Channel);
    UpdateStatusLine();
}

void TfMain::Bufferlines1Click() {
    RunSettingDialog(chat::TSettingDialog::BufferLines);
    UpdateStatusLine();
}

void TfMain::Commandbuffer1Click() {
    RunSettingDialog(chat::TSettingDialog::CommandBuffer);
    UpdateStatusLine();
}

void TfMain::ServerID1Click() {
    RunSettingDialog(chat::TSettingDialog::ServerID);
    Manualconnect1Click(); // relinks also after Cancel
}

void TfMain::On1Click() {
    settings_.EncryptionOn = !settings_.EncryptionOn;
    const UINT mark = settings_.EncryptionOn ? MF_CHECKED : MF_UNCHECKED;
    CheckMenuItem(MainMenu1, On1, MF_BYCOMMAND | mark);
    CheckMenuItem(PopupMenu1.get(), On2, MF_BYCOMMAND | mark);
    UpdateStatusLine();
}

void TfMain::HideStatusBar1Click() {
    // Only the main-menu item carries the mark; the pop-up item never does.
    const bool hide = !(GetMenuState(MainMenu1, HideStatusBar1, MF_BYCOMMAND) & MF_CHECKED);
    CheckMenuItem(MainMenu1, HideStatusBar1, MF_BYCOMMAND | (hide ? MF_CHECKED : MF_UNCHECKED));
    ShowWindow(StatusBar1->Handle(), hide ? SW_HIDE : SW_SHOW);
    Layout();
}

void TfMain::Clearbuffer1Click() {
    // Echoes of lines still on their way go too: a failure is then shown as a new line.
    echoes_.Removed(TRichDisplay(Display->Handle()).TextLength());
    updatingDisplay_ = true;
    SetWindowTextA(Display->Handle(), "");
    updatingDisplay_ = false;
}

void TfMain::Savebuffer1Click() {
    // The name is offered afresh each time: the channel name and ".log".
    std::string name = settings_.ChannelName + ".log";
    char path[MAX_PATH * 4] = "";
    name.copy(path, sizeof path - 1);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Handle();
    dialog.lpstrFilter =
        "Log Files (*.log)\0*.log\0Text Files (*.txt)\0*.txt\0Any File (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrDefExt = "log";
    // No overwrite prompt: an existing file is replaced.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&dialog)) return; // cancelled
    SaveRtf(Display->Handle(), path);
}

void TfMain::Exit1Click() {
    Close();
}

void TfMain::About1Click() {
    auto* about = new TfHelp(Application(), *this);
    about->Show();
}

} // namespace velkor
