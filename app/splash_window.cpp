#include "app/splash_window.h"

#include "app/app_state.h"
#include "platform/unique_handle.h"
#include "resources/resource_ids.h"

// WIN32_LEAN_AND_MEAN leaves out the COM declarations GDI+ needs.
#include <objidl.h>

#include <gdiplus.h>
#include <shlwapi.h>

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

void releaseStream(IStream* stream) {
    stream->Release();
}
using StreamRef = UniqueHandle<IStream*, releaseStream>;
using GdiplusToken = UniqueHandle<ULONG_PTR, Gdiplus::GdiplusShutdown>;
using GdipImage = UniqueHandle<Gdiplus::GpBitmap*, gdip::GdipDisposeImage>;
using GdipGraphics = UniqueHandle<Gdiplus::GpGraphics*, gdip::GdipDeleteGraphics>;

// GDI+ is started for one paint and shut down after it; the image and the
// graphics go before the session that made them.
void drawPng(HDC dc, IStream* stream, const RECT& client) {
    // Version 1, no debug callback, with its background thread and codecs.
    const Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        return;
    }
    const GdiplusToken session(token);
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gdip::GdipCreateBitmapFromStream(stream, &bitmap) != Gdiplus::Ok) {
        return;
    }
    const GdipImage image(bitmap);
    Gdiplus::GpGraphics* graphics = nullptr;
    if (gdip::GdipCreateFromHDC(dc, &graphics) != Gdiplus::Ok) {
        return;
    }
    const GdipGraphics canvas(graphics);
    // Between the two pictures' sizes (150 %), reduce the larger one smoothly.
    gdip::GdipSetInterpolationMode(canvas.get(), Gdiplus::InterpolationModeHighQualityBicubic);
    gdip::GdipDrawImageRectI(canvas.get(), image.get(), 0, 0, client.right - client.left,
                             client.bottom - client.top);
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

    // The picture drawn at twice the size for a window scaled up by its DPI.
    const int picture =
        client.right - client.left > SplashWidth ? IDR_SPLASH_PNG_2X : IDR_SPLASH_PNG;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(picture), RT_RCDATA);
    if (resource == nullptr) {
        return;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    if (bytes == nullptr || size == 0) {
        return;
    }
    const StreamRef stream(SHCreateMemStream(static_cast<const BYTE*>(bytes), size));
    if (!stream) {
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
