#pragma once
// The WinINet procedures the transfers call, taken from the system folder's wininet.dll rather than
// imported by name (base/system_library_win.h).

#include <windows.h>
#include <wininet.h>

#include "base/system_library_win.h"

namespace lumoradex {

struct WinInetApi {
    template <class Function> Function Procedure(const char* name) const {
        return SystemProcedure<Function>(library.Get(), name);
    }

    UniqueLibrary library = LoadSystemLibrary(L"wininet.dll");
    decltype(&InternetOpenW) open = Procedure<decltype(&InternetOpenW)>("InternetOpenW");
    decltype(&InternetSetStatusCallbackW) setStatusCallback =
        Procedure<decltype(&InternetSetStatusCallbackW)>("InternetSetStatusCallbackW");
    decltype(&InternetConnectW) connect = Procedure<decltype(&InternetConnectW)>("InternetConnectW");
    decltype(&InternetSetOptionW) setOption = Procedure<decltype(&InternetSetOptionW)>("InternetSetOptionW");
    decltype(&HttpOpenRequestW) openRequest = Procedure<decltype(&HttpOpenRequestW)>("HttpOpenRequestW");
    decltype(&HttpSendRequestW) sendRequest = Procedure<decltype(&HttpSendRequestW)>("HttpSendRequestW");
    decltype(&HttpQueryInfoW) queryInfo = Procedure<decltype(&HttpQueryInfoW)>("HttpQueryInfoW");
    decltype(&InternetQueryDataAvailable) queryDataAvailable =
        Procedure<decltype(&InternetQueryDataAvailable)>("InternetQueryDataAvailable");
    decltype(&InternetReadFileExW) readFileEx = Procedure<decltype(&InternetReadFileExW)>("InternetReadFileExW");
    decltype(&InternetCloseHandle) close = Procedure<decltype(&InternetCloseHandle)>("InternetCloseHandle");
};

} // namespace lumoradex
