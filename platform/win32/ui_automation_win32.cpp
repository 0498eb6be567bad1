// The focused element's text around its caret, through UI Automation.
//
// MinGW-w64's UIAutomationClient.h declares the ids but none of the
// interfaces, so the few used here are declared below, slot for slot in the
// order of the Windows SDK's UIAutomationClient.idl; a slot never called is
// only held in place.
//
// The questions are asked from a thread of their own, in the multithreaded
// apartment: a UI Automation client on a thread with windows may have their
// messages dispatched while it waits (Microsoft advises against it), and the
// caller, the re-typing's thread or the watcher's, must not run anything
// else meanwhile. The caller waits for an answer no longer than the
// questions' own time-outs allow.
#include <windows.h>

#include <ole2.h>

#include "platform/platform.h"
#include "platform/unique_handle.h"

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace tavelio::platform {

namespace {

#define TAVELIO_UNUSED_SLOT(n) virtual HRESULT STDMETHODCALLTYPE unused##n() = 0

struct IUIAutomationElement;

struct IUIAutomationTextRange : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Clone(IUIAutomationTextRange** clone) = 0;
    TAVELIO_UNUSED_SLOT(1); // Compare
    virtual HRESULT STDMETHODCALLTYPE CompareEndpoints(int endpoint, IUIAutomationTextRange* range,
                                                       int targetEndpoint, int* result) = 0;
    TAVELIO_UNUSED_SLOT(3); // ExpandToEnclosingUnit
    TAVELIO_UNUSED_SLOT(4); // FindAttribute
    TAVELIO_UNUSED_SLOT(5); // FindText
    TAVELIO_UNUSED_SLOT(6); // GetAttributeValue
    TAVELIO_UNUSED_SLOT(7); // GetBoundingRectangles
    TAVELIO_UNUSED_SLOT(8); // GetEnclosingElement
    virtual HRESULT STDMETHODCALLTYPE GetText(int maxLength, BSTR* text) = 0;
    TAVELIO_UNUSED_SLOT(10); // Move
    virtual HRESULT STDMETHODCALLTYPE MoveEndpointByUnit(int endpoint, int unit, int count,
                                                         int* moved) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveEndpointByRange(int endpoint,
                                                          IUIAutomationTextRange* range,
                                                          int targetEndpoint) = 0;
};

struct IUIAutomationTextRangeArray : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Length(int* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElement(int index, IUIAutomationTextRange** range) = 0;
};

struct IUIAutomationTextPattern : IUnknown {
    TAVELIO_UNUSED_SLOT(0); // RangeFromPoint
    TAVELIO_UNUSED_SLOT(1); // RangeFromChild
    virtual HRESULT STDMETHODCALLTYPE GetSelection(IUIAutomationTextRangeArray** ranges) = 0;
};

struct IUIAutomationTextPattern2 : IUIAutomationTextPattern {
    TAVELIO_UNUSED_SLOT(3); // GetVisibleRanges
    TAVELIO_UNUSED_SLOT(4); // get_DocumentRange
    TAVELIO_UNUSED_SLOT(5); // get_SupportedTextSelection
    TAVELIO_UNUSED_SLOT(6); // RangeFromAnnotation
    virtual HRESULT STDMETHODCALLTYPE GetCaretRange(BOOL* isActive,
                                                    IUIAutomationTextRange** range) = 0;
};

struct IUIAutomationElement : IUnknown {
    TAVELIO_UNUSED_SLOT(0);  // SetFocus
    TAVELIO_UNUSED_SLOT(1);  // GetRuntimeId
    TAVELIO_UNUSED_SLOT(2);  // FindFirst
    TAVELIO_UNUSED_SLOT(3);  // FindAll
    TAVELIO_UNUSED_SLOT(4);  // FindFirstBuildCache
    TAVELIO_UNUSED_SLOT(5);  // FindAllBuildCache
    TAVELIO_UNUSED_SLOT(6);  // BuildUpdatedCache
    TAVELIO_UNUSED_SLOT(7);  // GetCurrentPropertyValue
    TAVELIO_UNUSED_SLOT(8);  // GetCurrentPropertyValueEx
    TAVELIO_UNUSED_SLOT(9);  // GetCachedPropertyValue
    TAVELIO_UNUSED_SLOT(10); // GetCachedPropertyValueEx
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(int pattern, REFIID iid,
                                                          void** object) = 0;
    TAVELIO_UNUSED_SLOT(12); // GetCachedPatternAs
    TAVELIO_UNUSED_SLOT(13); // GetCurrentPattern
    TAVELIO_UNUSED_SLOT(14); // GetCachedPattern
    TAVELIO_UNUSED_SLOT(15); // GetCachedParent
    TAVELIO_UNUSED_SLOT(16); // GetCachedChildren
    virtual HRESULT STDMETHODCALLTYPE get_CurrentProcessId(int* processId) = 0;
    TAVELIO_UNUSED_SLOT(18); // get_CurrentControlType
    TAVELIO_UNUSED_SLOT(19); // get_CurrentLocalizedControlType
    TAVELIO_UNUSED_SLOT(20); // get_CurrentName
    TAVELIO_UNUSED_SLOT(21); // get_CurrentAcceleratorKey
    TAVELIO_UNUSED_SLOT(22); // get_CurrentAccessKey
    TAVELIO_UNUSED_SLOT(23); // get_CurrentHasKeyboardFocus
    TAVELIO_UNUSED_SLOT(24); // get_CurrentIsKeyboardFocusable
    TAVELIO_UNUSED_SLOT(25); // get_CurrentIsEnabled
    TAVELIO_UNUSED_SLOT(26); // get_CurrentAutomationId
    TAVELIO_UNUSED_SLOT(27); // get_CurrentClassName
    TAVELIO_UNUSED_SLOT(28); // get_CurrentHelpText
    TAVELIO_UNUSED_SLOT(29); // get_CurrentCulture
    TAVELIO_UNUSED_SLOT(30); // get_CurrentIsControlElement
    TAVELIO_UNUSED_SLOT(31); // get_CurrentIsContentElement
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsPassword(BOOL* isPassword) = 0;
};

// IUIAutomation2: IUIAutomation's 55 methods, then the time-outs.
struct IUIAutomation2 : IUnknown {
    TAVELIO_UNUSED_SLOT(0); // CompareElements
    TAVELIO_UNUSED_SLOT(1); // CompareRuntimeIds
    TAVELIO_UNUSED_SLOT(2); // GetRootElement
    TAVELIO_UNUSED_SLOT(3); // ElementFromHandle
    TAVELIO_UNUSED_SLOT(4); // ElementFromPoint
    virtual HRESULT STDMETHODCALLTYPE GetFocusedElement(IUIAutomationElement** element) = 0;
    // GetRootElementBuildCache to GetFocusedElementBuildCache, CreateTreeWalker,
    // the three walkers and three conditions, CreateCacheRequest, the eleven
    // Create*Condition methods, the nine event handler methods, the five array
    // and rectangle conversions, the proxy factory entry and mapping, the two
    // programmatic names, the two polls, CheckNotSupported, the two reserved
    // values and ElementFromIAccessible with its BuildCache form.
    TAVELIO_UNUSED_SLOT(6);
    TAVELIO_UNUSED_SLOT(7);
    TAVELIO_UNUSED_SLOT(8);
    TAVELIO_UNUSED_SLOT(9);
    TAVELIO_UNUSED_SLOT(10);
    TAVELIO_UNUSED_SLOT(11);
    TAVELIO_UNUSED_SLOT(12);
    TAVELIO_UNUSED_SLOT(13);
    TAVELIO_UNUSED_SLOT(14);
    TAVELIO_UNUSED_SLOT(15);
    TAVELIO_UNUSED_SLOT(16);
    TAVELIO_UNUSED_SLOT(17);
    TAVELIO_UNUSED_SLOT(18);
    TAVELIO_UNUSED_SLOT(19);
    TAVELIO_UNUSED_SLOT(20);
    TAVELIO_UNUSED_SLOT(21);
    TAVELIO_UNUSED_SLOT(22);
    TAVELIO_UNUSED_SLOT(23);
    TAVELIO_UNUSED_SLOT(24);
    TAVELIO_UNUSED_SLOT(25);
    TAVELIO_UNUSED_SLOT(26);
    TAVELIO_UNUSED_SLOT(27);
    TAVELIO_UNUSED_SLOT(28);
    TAVELIO_UNUSED_SLOT(29);
    TAVELIO_UNUSED_SLOT(30);
    TAVELIO_UNUSED_SLOT(31);
    TAVELIO_UNUSED_SLOT(32);
    TAVELIO_UNUSED_SLOT(33);
    TAVELIO_UNUSED_SLOT(34);
    TAVELIO_UNUSED_SLOT(35);
    TAVELIO_UNUSED_SLOT(36);
    TAVELIO_UNUSED_SLOT(37);
    TAVELIO_UNUSED_SLOT(38);
    TAVELIO_UNUSED_SLOT(39);
    TAVELIO_UNUSED_SLOT(40);
    TAVELIO_UNUSED_SLOT(41);
    TAVELIO_UNUSED_SLOT(42);
    TAVELIO_UNUSED_SLOT(43);
    TAVELIO_UNUSED_SLOT(44);
    TAVELIO_UNUSED_SLOT(45);
    TAVELIO_UNUSED_SLOT(46);
    TAVELIO_UNUSED_SLOT(47);
    TAVELIO_UNUSED_SLOT(48);
    TAVELIO_UNUSED_SLOT(49);
    TAVELIO_UNUSED_SLOT(50);
    TAVELIO_UNUSED_SLOT(51);
    TAVELIO_UNUSED_SLOT(52);
    TAVELIO_UNUSED_SLOT(53);
    TAVELIO_UNUSED_SLOT(54);
    TAVELIO_UNUSED_SLOT(55); // get_AutoSetFocus
    virtual HRESULT STDMETHODCALLTYPE put_AutoSetFocus(BOOL autoSetFocus) = 0;
    TAVELIO_UNUSED_SLOT(57); // get_ConnectionTimeout
    virtual HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(DWORD timeoutMs) = 0;
    TAVELIO_UNUSED_SLOT(59); // get_TransactionTimeout
    virtual HRESULT STDMETHODCALLTYPE put_TransactionTimeout(DWORD timeoutMs) = 0;
};

#undef TAVELIO_UNUSED_SLOT

constexpr CLSID ClsidCUIAutomation8 = {
    0xe22ad333, 0xb25f, 0x460c, {0x83, 0xd0, 0x05, 0x81, 0x10, 0x73, 0x95, 0xc9}};
constexpr IID IidIUIAutomation2 = {
    0x34723aff, 0x0c9d, 0x49d0, {0x98, 0x96, 0x7a, 0xb5, 0x2d, 0xf8, 0xcd, 0x8a}};
constexpr IID IidIUIAutomationTextPattern = {
    0x32eba289, 0x3583, 0x42c9, {0x9c, 0x59, 0x3b, 0x6d, 0x9a, 0x1e, 0x9b, 0x6a}};
constexpr IID IidIUIAutomationTextPattern2 = {
    0x506a921a, 0xfcc9, 0x409f, {0xb2, 0x3b, 0x37, 0xeb, 0x74, 0x10, 0x68, 0x72}};
constexpr int TextPatternId = 10014;
constexpr int TextPattern2Id = 10024;
constexpr int EndpointStart = 0; // TextPatternRangeEndpoint_Start
constexpr int EndpointEnd = 1;
constexpr int UnitCharacter = 0;                                 // TextUnit_Character
constexpr HRESULT UiaTimeout = static_cast<HRESULT>(0x80131505); // UIA_E_TIMEOUT

template <typename Interface> void releaseInterface(Interface* object) {
    object->Release();
}
template <typename Interface> using Com = UniqueHandle<Interface*, releaseInterface<Interface>>;

// BSTRs come from oleaut32, which UI Automation loads anyway: the program
// itself imports nothing more for them.
struct StringFunctions {
    void(WINAPI* free)(BSTR) = nullptr;
    UINT(WINAPI* length)(BSTR) = nullptr;
};
const StringFunctions& stringFunctions() {
    static const StringFunctions functions = [] {
        StringFunctions found;
        if (const HMODULE oleaut =
                LoadLibraryExW(L"oleaut32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            found.free = reinterpret_cast<decltype(found.free)>(
                reinterpret_cast<void*>(GetProcAddress(oleaut, "SysFreeString")));
            found.length = reinterpret_cast<decltype(found.length)>(
                reinterpret_cast<void*>(GetProcAddress(oleaut, "SysStringLen")));
        }
        return found;
    }();
    return functions;
}
void freeString(BSTR text) {
    if (stringFunctions().free != nullptr) {
        stringFunctions().free(text);
    }
}
using UniqueString = UniqueHandle<BSTR, freeString>;

// The text of a range: at most maxLength units (-1: all of it).
std::optional<std::u16string> textOf(IUIAutomationTextRange& range, int maxLength, HRESULT& hr) {
    UniqueString text;
    hr = range.GetText(maxLength, text.put());
    if (FAILED(hr) || stringFunctions().length == nullptr) {
        return std::nullopt;
    }
    const auto* units = reinterpret_cast<const char16_t*>(text.get());
    return units != nullptr ? std::u16string(units, stringFunctions().length(text.get()))
                            : std::u16string();
}

struct Asking {
    HRESULT last = S_OK; // the last failure, which tells a time-out from the rest
    CaretText answer;

    CaretText failed() {
        answer = {};
        answer.state = last == UiaTimeout ? CaretText::State::busy : CaretText::State::none;
        return answer;
    }
    bool ok(HRESULT hr) {
        if (FAILED(hr)) {
            last = hr;
        }
        return SUCCEEDED(hr);
    }
};

CaretText askOnThisThread(HWND focus, std::size_t maxUnits, DWORD timeoutMs) {
    Asking ask;
    Com<IUIAutomation2> automation;
    if (!ask.ok(CoCreateInstance(ClsidCUIAutomation8, nullptr, CLSCTX_INPROC_SERVER,
                                 IidIUIAutomation2, reinterpret_cast<void**>(automation.put()))) ||
        !automation) {
        return ask.failed();
    }
    automation.get()->put_ConnectionTimeout(timeoutMs);
    automation.get()->put_TransactionTimeout(timeoutMs);
    automation.get()->put_AutoSetFocus(FALSE); // reading never moves the focus
    Com<IUIAutomationElement> element;
    if (!ask.ok(automation.get()->GetFocusedElement(element.put())) || !element) {
        return ask.failed();
    }
    // The element must be the focus's: the focus may have moved meanwhile.
    DWORD focusProcess = 0;
    GetWindowThreadProcessId(focus, &focusProcess);
    int elementProcess = 0;
    BOOL password = FALSE;
    if (!ask.ok(element.get()->get_CurrentProcessId(&elementProcess)) ||
        static_cast<DWORD>(elementProcess) != focusProcess ||
        !ask.ok(element.get()->get_CurrentIsPassword(&password)) || password) {
        return ask.failed();
    }
    Com<IUIAutomationTextPattern2> pattern2;
    Com<IUIAutomationTextPattern> pattern;
    if (SUCCEEDED(element.get()->GetCurrentPatternAs(TextPattern2Id, IidIUIAutomationTextPattern2,
                                                     reinterpret_cast<void**>(pattern2.put()))) &&
        pattern2) {
        pattern2.get()->AddRef();
        pattern.reset(pattern2.get());
    } else if (!ask.ok(
                   element.get()->GetCurrentPatternAs(TextPatternId, IidIUIAutomationTextPattern,
                                                      reinterpret_cast<void**>(pattern.put()))) ||
               !pattern) {
        return ask.failed();
    }
    ask.answer.state = CaretText::State::read;
    if (maxUnits == 0) {
        return ask.answer;
    }
    const int units = static_cast<int>(maxUnits);
    // The selection: its first units, enough to tell one too long.
    Com<IUIAutomationTextRangeArray> selections;
    int count = 0;
    if (!ask.ok(pattern.get()->GetSelection(selections.put())) || !selections ||
        !ask.ok(selections.get()->get_Length(&count))) {
        return ask.failed();
    }
    ask.answer.severalSelections = count > 1;
    Com<IUIAutomationTextRange> selection;
    if (count >= 1 && !ask.ok(selections.get()->GetElement(0, selection.put()))) {
        return ask.failed();
    }
    if (selection) {
        int empty = 0;
        if (!ask.ok(selection.get()->CompareEndpoints(EndpointStart, selection.get(), EndpointEnd,
                                                      &empty))) {
            return ask.failed();
        }
        if (empty != 0) {
            HRESULT hr = S_OK;
            auto text = textOf(*selection.get(), units, hr);
            if (!ask.ok(hr) || !text) {
                return ask.failed();
            }
            ask.answer.selection = std::move(*text);
        }
    }
    // The caret; where the text has no caret range, the selection's end.
    Com<IUIAutomationTextRange> caret;
    BOOL active = TRUE;
    if (pattern2) {
        if (!ask.ok(pattern2.get()->GetCaretRange(&active, caret.put())) || !caret || !active) {
            return ask.failed();
        }
    } else if (!selection || !ask.ok(selection.get()->Clone(caret.put())) || !caret ||
               !ask.ok(caret.get()->MoveEndpointByRange(EndpointStart, caret.get(), EndpointEnd))) {
        return ask.failed();
    }
    // Back from the caret by as many characters: never the whole document.
    // Not cut by GetText's length, which would keep the start, not the caret's end.
    Com<IUIAutomationTextRange> before;
    int moved = 0;
    HRESULT hr = S_OK;
    std::optional<std::u16string> text;
    if (!ask.ok(caret.get()->Clone(before.put())) || !before ||
        !ask.ok(before.get()->MoveEndpointByRange(EndpointEnd, caret.get(), EndpointStart)) ||
        !ask.ok(before.get()->MoveEndpointByUnit(EndpointStart, UnitCharacter, -units, &moved)) ||
        !(text = textOf(*before.get(), -1, hr)) || !ask.ok(hr)) {
        return ask.failed();
    }
    ask.answer.beforeCaret = std::move(*text);
    return ask.answer;
}

} // namespace

CaretText textAroundCaret(WindowHandle focus, std::size_t maxUnits, std::uint32_t timeoutMs) {
    // Creating the client, finding the focus, the pattern and the ranges: a
    // few questions, each bounded; past all of them the answer is "busy".
    const auto deadline = std::chrono::milliseconds(200 + 8 * static_cast<std::int64_t>(timeoutMs));
    auto answer = std::make_shared<std::promise<CaretText>>();
    std::future<CaretText> answered = answer->get_future();
    try {
        std::thread([answer, focus, maxUnits, timeoutMs]() noexcept {
            CaretText result;
            if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
                result = askOnThisThread(reinterpret_cast<HWND>(focus), maxUnits, timeoutMs);
                CoUninitialize();
            }
            try {
                answer->set_value(std::move(result));
            } catch (...) {
            }
        }).detach();
    } catch (...) {
        return {}; // no thread to ask from
    }
    if (answered.wait_for(deadline) != std::future_status::ready) {
        CaretText late;
        late.state = CaretText::State::busy;
        return late; // the thread finishes on its own and drops its answer
    }
    return answered.get();
}

} // namespace tavelio::platform
