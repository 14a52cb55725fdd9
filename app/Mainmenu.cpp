// Mainmenu: the chat window's main and pop-up menus and the commands they run: settings
// dialogs, encryption switch, status bar, clearing and saving the display, About, Exit.
#include "app/Main.h"

#include "app/Menuids.h"
#include "app/Richdisplay.h"
#include "app/help.h"
#include "app/win/Inputquery.h"

#include <commdlg.h>

namespace velkor {

namespace {

using namespace menuid;

struct TMenuEntry {
    int id; // 0: separator
    const char* caption;
};

HMENU Submenu(std::initializer_list<TMenuEntry> entries) {
    HMENU menu = CreatePopupMenu();
    for (const TMenuEntry& e : entries)
        AppendMenuA(menu, e.id ? MF_STRING : MF_SEPARATOR, static_cast<UINT_PTR>(e.id), e.caption);
    return menu;
}

void AppendSubmenu(HMENU menu, HMENU submenu, const char* caption) {
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu), caption);
}

} // namespace

void TfMain::CreateMenus() {
    UniqueMenu bar(CreateMenu());
    AppendSubmenu(bar.get(),
                  Submenu({{Clearbuffer1, "&Clear buffer"},
                           {Savebuffer1, "&Save buffer"},
                           {0, nullptr},
                           {Exit1, "E&xit"}}),
                  "&File");
    AppendSubmenu(bar.get(), Submenu({{Setkey1, "&Set key"}, {On1, "&On"}}), "&Encryption");
    AppendSubmenu(bar.get(), Submenu({{Channel1, "&Channel"}}), "&IRC");
    HMENU options = Submenu({{Bufferlines1, "&Buffer lines"}, {Commandbuffer1, "&Command buffer"}});
    AppendSubmenu(options, Submenu({{ServerID1, "&ServerID"}, {Manualconnect1, "&Manual connect"}}),
                  "&DDE");
    AppendMenuA(options, MF_STRING, HideStatusBar1, "&Hide StatusBar");
    AppendSubmenu(bar.get(), options, "&Options");
    AppendSubmenu(bar.get(), Submenu({{About1, "&About..."}}), "&Help");
    if (!SetMenu(Handle(), bar.get())) throw std::runtime_error("The menu cannot be shown.");
    MainMenu1 = bar.release(); // destroyed with the window from now on

    // The pop-up menu of the display.
    PopupMenu1.reset(CreatePopupMenu());
    HMENU popup = PopupMenu1.get();
    AppendMenuA(popup, MF_STRING, Clearbuffer2, "Clear buffer");
    AppendMenuA(popup, MF_STRING, Savebuffer2, "Save buffer");
    AppendSubmenu(popup, Submenu({{Setkey2, "Set key"}, {On2, "On"}}), "Encryption");
    AppendSubmenu(popup, Submenu({{Channel2, "Channel"}}), "IRC");
    HMENU options2 = Submenu({{Bufferlines2, "Buffer lines"}, {Commandbuffer2, "Command buffer"}});
    AppendSubmenu(options2, Submenu({{ServerID2, "ServerID"}, {Manualconnect2, "Manual connect"}}),
                  "DDE");
    AppendMenuA(options2, MF_STRING, Hidestatusbar2, "Hide statusbar");
    AppendSubmenu(popup, options2, "Options");
    AppendSubmenu(popup, Submenu({{About2, "About..."}}), "Help");
    AppendMenuA(popup, MF_STRING, Exit2, "Exit");
}

void TfMain::Command(int id) {
    RunHandler(Handle(), [this, id] {
        switch (MainMenuItemOf(id)) {
        case Clearbuffer1:
            Clearbuffer1Click();
            break;
        case Savebuffer1:
            Savebuffer1Click();
            break;
        case Exit1:
            Exit1Click();
            break;
        case Setkey1:
            Setkey1Click();
            break;
        case On1:
            On1Click();
            break;
        case Channel1:
            Channel1Click();
            break;
        case Bufferlines1:
            Bufferlines1Click();
            break;
        case Commandbuffer1:
            Commandbuffer1Click();
            break;
        case ServerID1:
            ServerID1Click();
            break;
        case Manualconnect1:
            Manualconnect1Click();
            break;
        case HideStatusBar1:
            HideStatusBar1Click();
            break;
        case About1:
            About1Click();
            break;
        default:
            break;
        }
    });
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
