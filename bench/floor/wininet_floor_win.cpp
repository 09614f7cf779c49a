// The platform's floor for the benchmarks: fetches URLs with WinINet the plainest sound way (one
// session, a request per URL with the cache off, 64 KiB reads straight into a file) and exits.
//   wininet_floor.exe OUTPUT_FOLDER URL...   each body goes to OUTPUT_FOLDER\<last path segment>
//   wininet_floor.exe - URL                  one request, body discarded (the check's floor)
//   wininet_floor.exe --window ...           first creates a hidden top-level window, as any
//                                            windowed program does (Wine then loads its X11 driver)
//   wininet_floor.exe --durable OUTPUT_FOLDER URL...
//                                            each file as durable as the updater makes it: written
//                                            beside its target as "New" + name, flushed to the
//                                            disk, then renamed over the target
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct InternetHandle {
    HINTERNET handle;
    explicit InternetHandle(HINTERNET h) : handle(h) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() {
        if (handle != nullptr)
            InternetCloseHandle(handle);
    }
};

bool Fetch(HINTERNET session, const std::wstring& url, const std::wstring& outputPath, bool durable) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts))
        return false;
    InternetHandle connection(
        InternetConnectW(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.handle == nullptr)
        return false;
    InternetHandle request(HttpOpenRequestW(connection.handle, L"GET", path, nullptr, nullptr, nullptr,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (request.handle == nullptr || !HttpSendRequestW(request.handle, nullptr, 0, nullptr, 0))
        return false;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!outputPath.empty()) {
        file = CreateFileW(outputPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
    }
    std::vector<char> buffer(64 * 1024);
    DWORD received = 0;
    bool ok = true;
    while ((ok = InternetReadFile(request.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &received)) &&
           received > 0) {
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE && !WriteFile(file, buffer.data(), received, &written, nullptr)) {
            ok = false;
            break;
        }
    }
    if (file != INVALID_HANDLE_VALUE) {
        ok = (!durable || FlushFileBuffers(file)) && ok;
        CloseHandle(file);
    }
    return ok;
}

// What the updater does to every file it installs: the body in a temporary file beside the target,
// flushed, then one write-through rename over the target.
bool FetchDurably(HINTERNET session, const std::wstring& url, const std::wstring& folder) {
    const std::wstring name = url.substr(url.find_last_of(L'/') + 1);
    const std::wstring temporary = folder + L"\\New" + name;
    return Fetch(session, url, temporary, true) && MoveFileExW(temporary.c_str(), (folder + L"\\" + name).c_str(),
                                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

} // namespace

// The cost a windowed program pays before its first message: the window class, the window, and
// under Wine the start of the display driver.
void CreateHiddenWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"WinInetFloor";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window != nullptr)
        DestroyWindow(window);
}

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wstring(argv[1]) == L"--window") {
        CreateHiddenWindow();
        --argc;
        ++argv;
    }
    const bool durable = argc > 1 && std::wstring(argv[1]) == L"--durable";
    if (durable) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        std::fputs("usage: wininet_floor [--window] [--durable] OUTPUT_FOLDER|- URL...\n", stderr);
        return 2;
    }
    InternetHandle session(InternetOpenW(L"MAJLumoradex-bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const std::wstring folder = argv[1];
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        std::wstring url = argv[i];
        std::wstring output;
        if (folder != L"-")
            output = folder + L"\\" + url.substr(url.find_last_of(L'/') + 1);
        const bool fetched =
            durable ? FetchDurably(session.handle, url, folder) : Fetch(session.handle, url, output, false);
        failures += fetched ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
