#pragma once
// A small visible host window for BoutonLMX tests: it holds buttons, records the events they raise
// and renders a button into memory to read its pixels.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "controls/BoutonLMX_win.h"

namespace lumoradex::testing_host {

struct Event {
    int id;
    WORD code;
    bool operator==(const Event&) const = default;
};

// Pixels of a rendered button, 0xRRGGBB, rows top to bottom.
class Rendering {
public:
    Rendering(int width, int height) : width_(width), height_(height), pixels_(width * height) {}
    unsigned At(int x, int y) const { return pixels_.at(y * width_ + x) & 0xFFFFFF; }
    std::vector<unsigned> Column(int x) const {
        std::vector<unsigned> column;
        for (int y = 0; y < height_; ++y)
            column.push_back(At(x, y));
        return column;
    }
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::vector<unsigned>& Raw() { return pixels_; }

private:
    int width_;
    int height_;
    std::vector<unsigned> pixels_;
};

// One window serves every test: Wine takes about two seconds to withdraw a top-level window, so a
// test host only lends it, and takes away its buttons and its listener when it goes.
class Host {
public:
    Host() : window_(SharedWindow()) {
        current_ = this;
        Pump();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host() {
        for (HWND bouton : boutons_)
            DestroyWindow(bouton);
        current_ = nullptr;
        Pump();
    }

    HWND Add(int id, const std::string& libelle, int x, int y, int width, int height = 20) {
        PropertySet saved{{"Libelle", libelle}};
        return Adopt(CreateBoutonLMX(window_, id, RECT{x, y, x + width, y + height}, saved));
    }
    HWND Adopt(HWND bouton) {
        boutons_.push_back(bouton);
        return bouton;
    }
    HWND Window() const { return window_; }

    std::vector<Event> events;
    std::function<void(const Event&)> onEvent;

    std::vector<Event> Clicks() const {
        std::vector<Event> clicks;
        for (const auto& event : events)
            if (event.code == kBoutonClick)
                clicks.push_back(event);
        return clicks;
    }

    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    static Rendering Render(HWND bouton) {
        RECT client{};
        GetClientRect(bouton, &client);
        Rendering rendering(client.right, client.bottom);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = client.right;
        info.bmiHeader.biHeight = -client.bottom;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
        UniqueBitmap surface(CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        HGDIOBJ previous = SelectObject(dc.Get(), surface.Get());
        SendMessageW(bouton, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT);
        GdiFlush();
        const auto* pixels = static_cast<const unsigned*>(bits);
        rendering.Raw().assign(pixels, pixels + client.right * client.bottom);
        SelectObject(dc.Get(), previous);
        return rendering;
    }

private:
    static HWND SharedWindow() {
        static HWND window = [] {
            const HINSTANCE module = GetModuleHandleW(nullptr);
            RegisterBoutonLMX(module);
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof windowClass;
            windowClass.lpfnWndProc = Procedure;
            windowClass.hInstance = module;
            windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
            windowClass.lpszClassName = L"BoutonTestHost";
            RegisterClassExW(&windowClass);
            return CreateWindowExW(0, L"BoutonTestHost", L"BoutonLMX test host", WS_POPUP | WS_VISIBLE, 100, 100, 400,
                                   200, nullptr, nullptr, module, nullptr);
        }();
        return window;
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (current_ != nullptr && message == WM_COMMAND) {
            Event event{LOWORD(wParam), HIWORD(wParam)};
            current_->events.push_back(event);
            if (current_->onEvent)
                current_->onEvent(event);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static inline Host* current_ = nullptr;
    HWND window_;
    std::vector<HWND> boutons_;
};

} // namespace lumoradex::testing_host
