#include "app/ui_text.h"

namespace tavelio {

namespace {

// The string from the table of one language. LoadStringW leaves the choice to
// the resource loader, which also weighs the thread's and the system's locale;
// reading the block directly lets the user's UI language alone decide. A block
// holds 16 strings, each a length and that many UTF-16 units.
std::wstring findText(UINT id, LANGID language) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = block != nullptr ? LoadResource(module, block) : nullptr;
    const auto* entry =
        static_cast<const WCHAR*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    if (entry == nullptr) {
        return {};
    }
    for (UINT index = 0; index < id % 16; ++index) {
        entry += 1 + *entry;
    }
    return std::wstring(entry + 1, *entry);
}

} // namespace

LANGID uiLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE
               ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
               : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

std::wstring uiText(UINT id) {
    std::wstring text = findText(id, uiLanguage());
    return text.empty() ? findText(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) : text;
}

} // namespace tavelio
