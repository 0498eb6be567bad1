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
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

namespace tavelio::platform {

// Not in an anonymous namespace: GCC would take these classes for complete
// in this file, and a call to a method nobody here implements for one that
// never happens (a call to nowhere), where UI Automation implements them all.
namespace automation {

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
    TAVELIO_UNUSED_SLOT(0); // SetFocus
    TAVELIO_UNUSED_SLOT(1); // GetRuntimeId
    TAVELIO_UNUSED_SLOT(2); // FindFirst
    TAVELIO_UNUSED_SLOT(3); // FindAll
    TAVELIO_UNUSED_SLOT(4); // FindFirstBuildCache
    TAVELIO_UNUSED_SLOT(5); // FindAllBuildCache
    TAVELIO_UNUSED_SLOT(6); // BuildUpdatedCache
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(int property, VARIANT* value) = 0;
    TAVELIO_UNUSED_SLOT(8);  // GetCurrentPropertyValueEx
    TAVELIO_UNUSED_SLOT(9);  // GetCachedPropertyValue
    TAVELIO_UNUSED_SLOT(10); // GetCachedPropertyValueEx
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(int pattern, REFIID iid,
                                                          void** object) = 0;
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

} // namespace automation

namespace {

using automation::IUIAutomation2;
using automation::IUIAutomationElement;
using automation::IUIAutomationTextPattern;
using automation::IUIAutomationTextPattern2;
using automation::IUIAutomationTextRange;
using automation::IUIAutomationTextRangeArray;

constexpr CLSID ClsidCUIAutomation8 = {
    0xe22ad333, 0xb25f, 0x460c, {0x83, 0xd0, 0x05, 0x81, 0x10, 0x73, 0x95, 0xc9}};
constexpr IID IidIUIAutomation2 = {
    0x34723aff, 0x0c9d, 0x49d0, {0x98, 0x96, 0x7a, 0xb5, 0x2d, 0xf8, 0xcd, 0x8a}};
constexpr IID IidIUIAutomationTextPattern = {
    0x32eba289, 0x3583, 0x42c9, {0x9c, 0x59, 0x3b, 0x6d, 0x9a, 0x1e, 0x9b, 0x6a}};
constexpr IID IidIUIAutomationTextPattern2 = {
    0x506a921a, 0xfcc9, 0x409f, {0xb2, 0x3b, 0x37, 0xeb, 0x74, 0x10, 0x68, 0x72}};
constexpr int ProcessIdProperty = 30002;
constexpr int IsPasswordProperty = 30019;
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

// BSTRs and VARIANTs are freed by oleaut32, which UI Automation loads
// anyway: the program itself imports nothing more for them.
struct OleAutomation {
    void(WINAPI* freeString)(BSTR) = nullptr;
    UINT(WINAPI* stringLength)(BSTR) = nullptr;
    HRESULT(WINAPI* clearVariant)(VARIANT*) = nullptr;
};
const OleAutomation& oleAutomation() {
    static const OleAutomation functions = [] {
        OleAutomation found;
        if (const HMODULE oleaut =
                LoadLibraryExW(L"oleaut32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            const auto find = [oleaut]<typename Function>(Function& function, const char* name) {
                function = reinterpret_cast<Function>(
                    reinterpret_cast<void*>(GetProcAddress(oleaut, name)));
            };
            find(found.freeString, "SysFreeString");
            find(found.stringLength, "SysStringLen");
            find(found.clearVariant, "VariantClear");
        }
        return found;
    }();
    return functions;
}
void freeString(BSTR text) {
    if (oleAutomation().freeString != nullptr) {
        oleAutomation().freeString(text);
    }
}
using UniqueString = UniqueHandle<BSTR, freeString>;

// The text of a range: at most maxLength units (-1: all of it).
std::optional<std::u16string> textOf(IUIAutomationTextRange& range, int maxLength, HRESULT& hr) {
    UniqueString text;
    hr = range.GetText(maxLength, text.put());
    if (FAILED(hr) || oleAutomation().stringLength == nullptr) {
        return std::nullopt;
    }
    const auto* units = reinterpret_cast<const char16_t*>(text.get());
    return units != nullptr ? std::u16string(units, oleAutomation().stringLength(text.get()))
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

CaretText askWith(IUIAutomation2& automation, HWND focus, std::size_t maxUnits, DWORD timeoutMs) {
    Asking ask;
    automation.put_ConnectionTimeout(timeoutMs);
    automation.put_TransactionTimeout(timeoutMs);
    Com<IUIAutomationElement> element;
    if (!ask.ok(automation.GetFocusedElement(element.put())) || !element) {
        return ask.failed();
    }
    // The element must be the focus's: the focus may have moved meanwhile.
    DWORD focusProcess = 0;
    GetWindowThreadProcessId(focus, &focusProcess);
    const auto property = [&](int id) {
        VARIANT value{};
        ask.ok(element.get()->GetCurrentPropertyValue(id, &value));
        const VARIANT plain = value;
        // An unsupported property answers with an object, which goes back.
        if (value.vt != VT_I4 && value.vt != VT_BOOL && oleAutomation().clearVariant != nullptr) {
            oleAutomation().clearVariant(&value);
        }
        return plain;
    };
    const VARIANT process = property(ProcessIdProperty);
    if (process.vt != VT_I4 || static_cast<DWORD>(process.lVal) != focusProcess) {
        return ask.failed();
    }
    // A password is never read; an element that cannot say is taken for one.
    const VARIANT password = property(IsPasswordProperty);
    if (password.vt != VT_BOOL || password.boolVal != VARIANT_FALSE) {
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

// One thread asks UI Automation for the whole program, in the
// multithreaded apartment, with one client made once: a provider that hangs
// past its time-outs holds that one thread, never one per question. The
// thread and its queue are never destroyed: the thread may sit in a
// provider's call when the program ends.
class AutomationAsker {
public:
    static AutomationAsker& instance() {
        static AutomationAsker* const asker = new AutomationAsker;
        return *asker;
    }

    // The answer, or nothing when no thread could be started for it.
    std::optional<std::future<CaretText>> ask(HWND focus, std::size_t maxUnits, DWORD timeoutMs,
                                              std::chrono::steady_clock::time_point deadline) {
        Request request{focus, maxUnits, timeoutMs, deadline, {}};
        std::future<CaretText> answer = request.answer.get_future();
        {
            const std::lock_guard lock(lock_);
            if (!started_) {
                try {
                    std::thread([this] { run(); }).detach();
                } catch (...) {
                    return std::nullopt;
                }
                started_ = true;
            }
            queue_.push_back(std::move(request));
        }
        wake_.notify_one();
        return answer;
    }

private:
    struct Request {
        HWND focus = nullptr;
        std::size_t maxUnits = 0;
        DWORD timeoutMs = 0;
        std::chrono::steady_clock::time_point deadline;
        std::promise<CaretText> answer;
    };

    void run() noexcept {
        Com<IUIAutomation2> automation;
        if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) &&
            SUCCEEDED(CoCreateInstance(ClsidCUIAutomation8, nullptr, CLSCTX_INPROC_SERVER,
                                       IidIUIAutomation2,
                                       reinterpret_cast<void**>(automation.put()))) &&
            automation) {
            automation.get()->put_AutoSetFocus(FALSE); // reading never moves the focus
        }
        for (;;) {
            Request request;
            {
                std::unique_lock lock(lock_);
                wake_.wait(lock, [this] { return !queue_.empty(); });
                request = std::move(queue_.front());
                queue_.pop_front();
            }
            CaretText answer;
            if (std::chrono::steady_clock::now() >= request.deadline) {
                answer.state = CaretText::State::busy; // its asker has given up
            } else if (automation) {
                answer =
                    askWith(*automation.get(), request.focus, request.maxUnits, request.timeoutMs);
            }
            try {
                request.answer.set_value(std::move(answer));
            } catch (...) {
            }
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Request> queue_;
    bool started_ = false;
};

} // namespace

CaretText textAroundCaret(WindowHandle focus, std::size_t maxUnits, std::uint32_t timeoutMs) {
    // Finding the focus, the pattern and the ranges: a few questions, each
    // bounded; past all of them, or behind a question still unanswered, the
    // answer is "busy".
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(200 + 8 * static_cast<std::int64_t>(timeoutMs));
    auto answer = AutomationAsker::instance().ask(reinterpret_cast<HWND>(focus), maxUnits,
                                                  timeoutMs, deadline);
    if (!answer) {
        return {};
    }
    if (answer->wait_until(deadline) != std::future_status::ready) {
        CaretText late;
        late.state = CaretText::State::busy;
        return late;
    }
    return answer->get();
}

} // namespace tavelio::platform
