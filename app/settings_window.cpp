#include "app/settings_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <tlhelp32.h>

#include "app/app_state.h"
#include "app/hidden_window.h"
#include "app/settings_form.h"
#include "app/tray_commands.h"
#include "app/ui_text.h"
#include "log/diagnostic_log.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace tavelio {

namespace {

struct SettingsDialog {
    HWND window = nullptr;
    // What the file held at the opening, or the defaults once restored: the
    // values the window does not show are written back from it.
    Settings base;
    bool filling = false; // the controls change because the program fills them
    UniqueIcon bigIcon;
    UniqueIcon smallIcon;
};

std::unique_ptr<SettingsDialog> dialog;

std::u16string portable(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}
std::wstring wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

// A text with %1, %2... replaced by the values, in that order.
std::wstring withValues(std::wstring text, std::initializer_list<std::wstring> values) {
    wchar_t number = L'1';
    for (const std::wstring& value : values) {
        const std::wstring mark = {L'%', number++};
        if (const auto at = text.find(mark); at != std::wstring::npos) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}

HWND item(int id) {
    return GetDlgItem(dialog->window, id);
}
bool checked(int id) {
    return IsDlgButtonChecked(dialog->window, id) == BST_CHECKED;
}
void check(int id, bool on) {
    CheckDlgButton(dialog->window, id, on ? BST_CHECKED : BST_UNCHECKED);
}
std::wstring itemText(int id) {
    const HWND control = item(id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::vector<std::wstring> listedPrograms() {
    const HWND list = item(IDC_EXCLUDED_APPS);
    std::vector<std::wstring> names;
    const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        std::wstring name(static_cast<std::size_t>(SendMessageW(list, LB_GETTEXTLEN, index, 0)),
                          L'\0');
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name.data()));
        names.push_back(std::move(name));
    }
    return names;
}

void updateButtons() {
    const HWND list = item(IDC_EXCLUDED_APPS);
    // The file cannot hold an empty list (it reads as the defaults): the last
    // name stays, and unticking the box leaves every program in.
    EnableWindow(item(IDC_REMOVE_PROGRAM), SendMessageW(list, LB_GETCURSEL, 0, 0) != LB_ERR &&
                                               SendMessageW(list, LB_GETCOUNT, 0, 0) > 1);
    EnableWindow(item(IDC_OPEN_LOGS), diagnosticLog().isActive());
}

void markChanged() {
    if (!dialog->filling) {
        EnableWindow(item(IDC_APPLY), TRUE);
    }
}

void setNumber(int edit, int spin, NumberRange range, std::int32_t value) {
    value = range.clamp(value);
    SendMessageW(item(spin), UDM_SETRANGE32, static_cast<WPARAM>(range.low), range.high);
    SendMessageW(item(spin), UDM_SETPOS32, 0, value);
    SetDlgItemInt(dialog->window, edit, static_cast<UINT>(value), FALSE);
}

void fill(const Settings& s) {
    dialog->filling = true;
    const HWND combo = item(IDC_HOTKEY);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const HotkeyChoice choice = hotkeyChoiceOf(s);
    for (const UINT text : {IDS_HOTKEY_BOTH, IDS_HOTKEY_CTRL_ONLY, IDS_HOTKEY_CTRL_SHIFT_ONLY,
                            IDS_HOTKEY_AS_IN_FILE}) {
        if (text == IDS_HOTKEY_AS_IN_FILE && choice != HotkeyChoice::asInFile) {
            break;
        }
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(uiText(text).c_str()));
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(choice), 0);
    check(IDC_ROMAJI_ONLY, s.romajiOnly);
    check(IDC_ROMAJI_HINT, s.romajiHint);
    check(IDC_LOGGING, s.logging);
    check(IDC_START_AT_SIGN_IN, startsWithWindows());
    check(IDC_CLEAR_ON_SPACE, s.clearOnSpace);
    check(IDC_CLEAR_ON_CLICK, s.clearOnMouseClick);
    setNumber(IDC_BUFFER_LENGTH, IDC_BUFFER_LENGTH_SPIN, BufferMaxLengthRange, s.bufferMaxLength);
    setNumber(IDC_REINPUT_DELAY, IDC_REINPUT_DELAY_SPIN, ReinputDelayMsRange, s.reinputDelayMs);
    check(IDC_APP_MODE, appModeTicked(s));
    const HWND list = item(IDC_EXCLUDED_APPS);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::u16string& name : s.excludedApps) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(name).c_str()));
    }
    updateButtons();
    dialog->filling = false;
}

Settings collect() {
    const Settings& base = dialog->base;
    Settings s = base;
    const auto choice = SendMessageW(item(IDC_HOTKEY), CB_GETCURSEL, 0, 0);
    setHotkeyChoice(s, choice == CB_ERR ? hotkeyChoiceOf(base) : static_cast<HotkeyChoice>(choice),
                    base);
    s.romajiOnly = checked(IDC_ROMAJI_ONLY);
    s.romajiHint = checked(IDC_ROMAJI_HINT);
    s.logging = checked(IDC_LOGGING);
    s.clearOnSpace = checked(IDC_CLEAR_ON_SPACE);
    s.clearOnMouseClick = checked(IDC_CLEAR_ON_CLICK);
    s.bufferMaxLength = fieldNumber(portable(itemText(IDC_BUFFER_LENGTH)), BufferMaxLengthRange,
                                    base.bufferMaxLength);
    s.reinputDelayMs = fieldNumber(portable(itemText(IDC_REINPUT_DELAY)), ReinputDelayMsRange,
                                   base.reinputDelayMs);
    setAppModeTicked(s, checked(IDC_APP_MODE), base);
    s.excludedApps.clear();
    for (const std::wstring& name : listedPrograms()) {
        s.excludedApps.push_back(portable(name));
    }
    return s;
}

// A number field shows what it will save as soon as the user leaves it.
void settleNumber(int edit, NumberRange range) {
    const std::int32_t previous = range.clamp(
        edit == IDC_BUFFER_LENGTH ? dialog->base.bufferMaxLength : dialog->base.reinputDelayMs);
    const std::int32_t value = fieldNumber(portable(itemText(edit)), range, previous);
    if (std::to_wstring(value) != itemText(edit)) {
        SetDlgItemInt(dialog->window, edit, static_cast<UINT>(value), FALSE);
    }
}

void addProgram(const std::wstring& name) {
    if (name.empty()) {
        return;
    }
    // Refused here: once in the list, it would block every save.
    if (!storableProgramName(portable(name))) {
        MessageBoxW(dialog->window, withValues(uiText(IDS_PROGRAM_NOT_STORABLE), {name}).c_str(),
                    WindowTitle, MB_OK | MB_ICONWARNING);
        return;
    }
    const HWND list = item(IDC_EXCLUDED_APPS);
    for (const std::wstring& listed : listedPrograms()) {
        // Windows file names ignore case, and so does the filter.
        if (CompareStringOrdinal(listed.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return;
        }
    }
    const auto index = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    updateButtons();
    markChanged();
}

// The file picker runs its own message loop, so the hooks are answered while it is open.
void browseForProgram() {
    std::wstring filter = uiText(IDS_PROGRAM_FILTER);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    std::wstring path(MAX_PATH * 4, L'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof(request);
    request.hwndOwner = dialog->window;
    request.lpstrFilter = filter.c_str();
    request.lpstrFile = path.data();
    request.nMaxFile = static_cast<DWORD>(path.size());
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                    OFN_NOCHANGEDIR | OFN_DONTADDTORECENT;
    if (!GetOpenFileNameW(&request)) {
        return;
    }
    path.resize(wcsnlen(path.c_str(), path.size()));
    addProgram(path.substr(path.find_last_of(L"\\/") + 1));
}

// The image names of the programs running now, each once, in alphabetical order.
std::vector<std::wstring> runningPrograms() {
    std::vector<std::wstring> names;
    const UniqueHandle<HANDLE, CloseHandle> snapshot(
        CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        return names;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        names.emplace_back(entry.szExeFile);
    }
    const auto lessIgnoringCase = [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    };
    std::sort(names.begin(), names.end(), lessIgnoringCase);
    names.erase(std::unique(names.begin(), names.end(),
                            [&](const std::wstring& a, const std::wstring& b) {
                                return !lessIgnoringCase(a, b) && !lessIgnoringCase(b, a);
                            }),
                names.end());
    return names;
}

void pickRunningProgram() {
    const std::vector<std::wstring> names = runningPrograms();
    const UniqueHandle<HMENU, DestroyMenu> menu(CreatePopupMenu());
    if (!menu || names.empty()) {
        return;
    }
    for (std::size_t index = 0; index < names.size(); ++index) {
        AppendMenuW(menu.get(), MF_STRING, index + 1, names[index].c_str());
    }
    RECT button{};
    GetWindowRect(item(IDC_ADD_RUNNING), &button);
    const auto chosen = static_cast<std::size_t>(
        TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY, button.left, button.bottom, 0,
                       dialog->window, nullptr));
    if (chosen >= 1 && chosen <= names.size()) {
        addProgram(names[chosen - 1]);
    }
}

void removeProgram() {
    const HWND list = item(IDC_EXCLUDED_APPS);
    const auto index = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR || SendMessageW(list, LB_GETCOUNT, 0, 0) <= 1) {
        return;
    }
    SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(std::min(index, count - 1)), 0);
    updateButtons();
    markChanged();
}

// OK and Apply: the file first; only once it holds the new values do they run.
bool commit() {
    const Settings next = collect();
    const auto started = std::chrono::steady_clock::now();
    const SettingsSave save = saveSettingsFile(next);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
    if (!save.saved()) {
        logOutput(u"SETTINGS_SAVE_FAILED", [&](LogDetails& d) {
            d.add(u"error", save.error).add(u"unfaithful", save.unfaithful ? 1u : 0u);
        });
        std::wstring text = save.unfaithful
                                ? withValues(uiText(IDS_SAVE_UNFAITHFUL),
                                             {wide(save.unfaithfulKey), wide(save.unfaithfulValue)})
                                : uiText(IDS_SAVE_FAILED);
        if (save.error != 0) {
            text += L" (" + std::to_wstring(save.error) + L")";
        }
        MessageBoxW(dialog->window, text.c_str(), WindowTitle, MB_OK | MB_ICONWARNING);
        return false;
    }
    dialog->base = next;
    useSavedSettings(next);
    StartupChange startup;
    if (checked(IDC_START_AT_SIGN_IN) != startsWithWindows()) {
        startup = toggleStartWithWindows();
    }
    logOutput(u"SETTINGS_SAVED", [&](LogDetails& d) {
        d.add(u"writeUs", static_cast<std::uint32_t>(std::min<long long>(micros, UINT32_MAX)));
    });
    fill(next); // the box shows whether Tavelio starts at sign-in now
    EnableWindow(item(IDC_APPLY), FALSE);
    if (startup.error != 0) {
        // Like a failed save: said, and the window stays for another try.
        logOutput(u"STARTUP_CHANGE_FAILED", [&](LogDetails& d) {
            d.add(u"error", startup.error).add(u"starts", startup.starts ? 1u : 0u);
        });
        const std::wstring text =
            uiText(IDS_STARTUP_FAILED) + L" (" + std::to_wstring(startup.error) + L")";
        MessageBoxW(dialog->window, text.c_str(), WindowTitle, MB_OK | MB_ICONWARNING);
        return false;
    }
    return true;
}

void close() {
    if (dialog && dialog->window != nullptr) {
        DestroyWindow(dialog->window);
    }
}

INT_PTR handleCommand(WORD id, WORD code) {
    switch (id) {
    case IDOK:
        if (commit()) {
            close();
        }
        return TRUE;
    case IDCANCEL:
        close();
        return TRUE;
    case IDC_APPLY:
        commit();
        return TRUE;
    case IDC_RESTORE_DEFAULTS:
        dialog->base = Settings{};
        {
            const bool startup = checked(IDC_START_AT_SIGN_IN);
            fill(dialog->base);
            check(IDC_START_AT_SIGN_IN, startup);
        }
        EnableWindow(item(IDC_APPLY), TRUE);
        return TRUE;
    case IDC_OPEN_LOGS:
        openLogsFolder();
        return TRUE;
    case IDC_ADD_PROGRAM:
        browseForProgram();
        return TRUE;
    case IDC_ADD_RUNNING:
        pickRunningProgram();
        return TRUE;
    case IDC_REMOVE_PROGRAM:
        removeProgram();
        return TRUE;
    case IDC_EXCLUDED_APPS:
        if (code == LBN_SELCHANGE) {
            updateButtons();
        }
        return TRUE;
    case IDC_HOTKEY:
        if (code == CBN_SELCHANGE) {
            markChanged();
        }
        return TRUE;
    case IDC_BUFFER_LENGTH:
    case IDC_REINPUT_DELAY:
        if (code == EN_CHANGE) {
            markChanged();
        } else if (code == EN_KILLFOCUS) {
            settleNumber(id, id == IDC_BUFFER_LENGTH ? BufferMaxLengthRange : ReinputDelayMsRange);
        }
        return TRUE;
    default:
        if (code == BN_CLICKED) {
            markChanged();
        }
        return FALSE;
    }
}

void setIcons(HWND window) {
    const HINSTANCE instance = appState().instanceHandle;
    dialog->bigIcon.reset(loadAppIcon(instance, SM_CXICON));
    dialog->smallIcon.reset(loadAppIcon(instance, SM_CXSMICON));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(dialog->bigIcon.get()));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(dialog->smallIcon.get()));
}

INT_PTR handleMessage(HWND window, UINT message, WPARAM wParam) {
    switch (message) {
    case WM_INITDIALOG:
        dialog->window = window;
        SetWindowTextW(window, uiText(IDS_SETTINGS_TITLE).c_str());
        setIcons(window);
        fill(dialog->base);
        EnableWindow(item(IDC_APPLY), FALSE);
        return TRUE; // the first control takes the focus
    case WM_COMMAND:
        return handleCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_DESTROY:
        appState().settingsWindow = nullptr;
        return TRUE;
    case WM_NCDESTROY:
        dialog.reset();
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK settingsDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    // Nothing may leave a dialog procedure: texts, lists and paths allocate.
    try {
        return dialog ? handleMessage(window, message, wParam) : FALSE;
    } catch (...) {
        return FALSE;
    }
}

// The template of the user's language, as the tray's texts choose it: the
// dialog manager would go by the thread's locale instead.
const DLGTEMPLATE* dialogTemplate(HINSTANCE instance) {
    HRSRC found =
        FindResourceExW(instance, RT_DIALOG, MAKEINTRESOURCEW(IDD_SETTINGS), uiLanguage());
    if (found == nullptr) {
        found = FindResourceExW(instance, RT_DIALOG, MAKEINTRESOURCEW(IDD_SETTINGS),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    }
    const HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    return static_cast<const DLGTEMPLATE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
}

} // namespace

HWND settingsWindow() {
    return appState().settingsWindow;
}

void openSettingsWindow() {
    if (HWND open = appState().settingsWindow) {
        if (IsIconic(open)) {
            ShowWindow(open, SW_RESTORE);
        }
        SetForegroundWindow(open);
        return;
    }
    const HINSTANCE instance = appState().instanceHandle;
    const DLGTEMPLATE* resource = dialogTemplate(instance);
    if (resource == nullptr) {
        return;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    dialog = std::make_unique<SettingsDialog>();
    // What the file holds now, hand edits since the start included.
    dialog->base = loadSettings();
    HWND window = CreateDialogIndirectParamW(instance, resource, nullptr, settingsDialogProc, 0);
    if (window == nullptr) {
        dialog.reset();
        return;
    }
    appState().settingsWindow = window;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

} // namespace tavelio
