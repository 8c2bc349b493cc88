// Window classes: those the process registers and those the platform
// provides (its built-in classes).
//
// A built-in class is registered during the platform's static
// initialisation by a SystemClassRegistration object in the file of its
// window procedure:
//
//     LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
//     const vplatform::user::SystemClassRegistration kStatic{
//         {.name = L"STATIC", .proc = StaticProc, .style = CS_PARENTDC, .windowExtra = 16}};
//
// CreateWindowExW finds it for every module, after the process's own classes
// of the same name; it cannot be unregistered.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/PlatformExport.h"
#include "platform/user/Window.h"

namespace vplatform::user {

struct WindowClass {
    std::wstring name;    // as registered
    std::wstring folded;  // upper case, for lookups
    ATOM atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    int classExtra = 0;
    int windowExtra = 0;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HICON iconSmall = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    std::wstring menuName;
    bool system = false;
    std::atomic<int> windows{0};  // live windows of the class
};

// Finds a class as CreateWindowExW does (`name` may be an atom); null when
// there is none.
std::shared_ptr<WindowClass> FindClass(LPCWSTR name, HINSTANCE instance);

// A built-in class (see above).
struct SystemClass {
    const wchar_t* name;
    WNDPROC proc;
    UINT style = 0;
    int windowExtra = 0;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
};
struct VPLATFORM_API SystemClassRegistration {
    explicit SystemClassRegistration(const SystemClass& systemClass);
};

// Text folded for a comparison without case: every UTF-16 unit to its
// simple upper case (surrogates unchanged), the same in every process.
std::wstring FoldCase(std::wstring_view text);

}  // namespace vplatform::user
