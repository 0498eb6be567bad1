#include "app/splash_window.h"

#include "app/app_state.h"
#include "resources/resource_ids.h"

// WIN32_LEAN_AND_MEAN leaves out the COM declarations GDI+ needs.
#include <objidl.h>

#include <gdiplus.h>
#include <shlwapi.h>

#include <utility>

namespace tavelio {

namespace {

namespace gdip = Gdiplus::DllExports;

// BeginPaint/EndPaint as a pair; without a device context there is nothing to end.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() {
        if (dc_ != nullptr) {
            EndPaint(window_, &paint_);
        }
    }
    HDC dc() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

class StreamRef {
public:
    explicit StreamRef(IStream* stream) : stream_(stream) {}
    StreamRef(const StreamRef&) = delete;
    StreamRef& operator=(const StreamRef&) = delete;
    ~StreamRef() {
        if (stream_ != nullptr) {
            stream_->Release();
        }
    }
    IStream* get() const { return stream_; }

private:
    IStream* stream_;
};

// GDI+ is started for one paint and shut down after it.
class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        input.GdiplusVersion = 1;
        input.DebugEventCallback = nullptr;
        input.SuppressBackgroundThread = FALSE;
        input.SuppressExternalCodecs = FALSE;
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) {
            token_ = 0;
        }
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    ~GdiplusSession() {
        if (token_ != 0) {
            Gdiplus::GdiplusShutdown(token_);
        }
    }
    bool started() const { return token_ != 0; }

private:
    ULONG_PTR token_ = 0;
};

class GdipImage {
public:
    GdipImage() = default;
    GdipImage(const GdipImage&) = delete;
    GdipImage& operator=(const GdipImage&) = delete;
    ~GdipImage() { gdip::GdipDisposeImage(bitmap_); }
    Gdiplus::GpBitmap** out() { return &bitmap_; }
    Gdiplus::GpBitmap* get() const { return bitmap_; }

private:
    Gdiplus::GpBitmap* bitmap_ = nullptr;
};

class GdipGraphics {
public:
    explicit GdipGraphics(HDC dc) {
        if (gdip::GdipCreateFromHDC(dc, &graphics_) != Gdiplus::Ok) {
            graphics_ = nullptr;
        }
    }
    GdipGraphics(const GdipGraphics&) = delete;
    GdipGraphics& operator=(const GdipGraphics&) = delete;
    ~GdipGraphics() {
        if (graphics_ != nullptr) {
            gdip::GdipDeleteGraphics(graphics_);
        }
    }
    Gdiplus::GpGraphics* get() const { return graphics_; }

private:
    Gdiplus::GpGraphics* graphics_ = nullptr;
};

void drawPng(HDC dc, IStream* stream, const RECT& client) {
    GdiplusSession session;
    if (!session.started()) {
        return;
    }
    GdipImage image;
    if (gdip::GdipCreateBitmapFromStream(stream, image.out()) == Gdiplus::Ok) {
        GdipGraphics graphics(dc);
        if (graphics.get() != nullptr) {
            gdip::GdipDrawImageRectI(graphics.get(), image.get(), 0, 0, client.right - client.left,
                                     client.bottom - client.top);
        }
    }
    // The image goes before the session that made it.
}

} // namespace

void paintSplash(HWND window) {
    PaintScope paint(window);
    if (paint.dc() == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(window, &client);
    FillRect(paint.dc(), &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_SPLASH_PNG), RT_RCDATA);
    if (resource == nullptr) {
        return;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    if (bytes == nullptr || size == 0) {
        return;
    }
    StreamRef stream(SHCreateMemStream(static_cast<const BYTE*>(bytes), size));
    if (stream.get() == nullptr) {
        return;
    }
    drawPng(paint.dc(), stream.get(), client);
}

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paintSplash(window);
        return 0;
    case WM_TIMER:
        if (wParam != SplashTimerId) {
            break;
        }
        KillTimer(window, SplashTimerId);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (appState().splashWindow == window) {
            appState().splashWindow = nullptr;
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace tavelio
