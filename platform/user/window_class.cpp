// Window classes: the process's registrations and the platform's built-in
// classes.
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <mutex>

#include "platform/WinError.h"
#include "platform/internal/PlatformLock.h"
#include "platform/kernel/Module.h"
#include "platform/user/internal/WindowClasses.h"

namespace vplatform::user {
namespace {

constexpr std::size_t kLongestName = 256;
constexpr int kMostExtraBytes = 40'000;

class ClassRegistry {
public:
    // The classes CreateWindowExW may find for `name` in `instance`, in the
    // order it looks at them.
    std::shared_ptr<WindowClass> Find(LPCWSTR name, HINSTANCE instance) {
        const std::lock_guard lock(m_mutex);
        return FindLocked(name, instance, true);
    }

    ATOM Register(std::shared_ptr<WindowClass> wndClass) {
        const std::lock_guard lock(m_mutex);
        const bool global = (wndClass->style & CS_GLOBALCLASS) != 0;
        for (const auto& known : m_classes) {
            if (known->folded != wndClass->folded) continue;
            if ((known->style & CS_GLOBALCLASS) != 0 || (!global && known->instance == wndClass->instance)) {
                SetLastError(ERROR_CLASS_ALREADY_EXISTS);
                return 0;
            }
        }
        if (m_nextAtom == 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        wndClass->atom = m_nextAtom;
        m_nextAtom = m_nextAtom == 0xFFFF ? 0 : static_cast<ATOM>(m_nextAtom + 1);
        if (wndClass->system) {
            m_system.push_back(std::move(wndClass));
            return m_system.back()->atom;
        }
        m_classes.push_back(std::move(wndClass));
        return m_classes.back()->atom;
    }

    BOOL Unregister(LPCWSTR name, HINSTANCE instance) {
        std::shared_ptr<WindowClass> gone;
        const std::lock_guard lock(m_mutex);
        const auto found = FindLocked(name, instance, true);
        if (!found) {
            SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
            return FALSE;
        }
        if (found->system) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (found->windows.load() != 0) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
        std::erase(m_classes, found);
        return TRUE;
    }

private:
    static bool Names(const WindowClass& wndClass, LPCWSTR name, const std::wstring& folded) {
        if (IS_INTRESOURCE(name)) return wndClass.atom == static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name));
        return wndClass.folded == folded;
    }

    std::shared_ptr<WindowClass> FindLocked(LPCWSTR name, HINSTANCE instance, bool withSystem) {
        if (name == nullptr) return nullptr;
        const std::wstring folded = IS_INTRESOURCE(name) ? std::wstring() : FoldCase(name);
        for (const auto& known : m_classes) {
            if ((known->style & CS_GLOBALCLASS) == 0 && known->instance == instance && Names(*known, name, folded))
                return known;
        }
        for (const auto& known : m_classes) {
            if ((known->style & CS_GLOBALCLASS) != 0 && Names(*known, name, folded)) return known;
        }
        if (withSystem) {
            for (const auto& known : m_system) {
                if (Names(*known, name, folded)) return known;
            }
        }
        return nullptr;
    }

    PlatformMutex m_mutex;
    std::vector<std::shared_ptr<WindowClass>> m_classes;
    std::vector<std::shared_ptr<WindowClass>> m_system;
    ATOM m_nextAtom = 0xC000;
};

ClassRegistry& Classes() {
    static auto* registry = new ClassRegistry;  // never destroyed: windows may outlive static destruction
    return *registry;
}

// A null instance stands for the executable, as on Windows.
HINSTANCE Instance(HINSTANCE instance) {
    return instance != nullptr ? instance : GetModuleHandleW(nullptr);
}

locale_t FoldLocale() {
    // C.UTF-8 is built into the C library: the same case mapping in every
    // process, whatever the user's locale.
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return locale;
}

}  // namespace

std::wstring FoldCase(std::wstring_view text) {
    std::wstring folded(text);
    const locale_t locale = FoldLocale();
    for (wchar_t& unit : folded) {
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;
        if (locale != nullptr) {
            const wint_t upper = towupper_l(static_cast<wint_t>(unit), locale);
            // A unit whose upper case lies beyond the BMP keeps its case.
            if (upper <= 0xFFFF) unit = static_cast<wchar_t>(upper);
        } else if (unit >= L'a' && unit <= L'z') {
            unit = static_cast<wchar_t>(unit - L'a' + L'A');
        }
    }
    return folded;
}

std::shared_ptr<WindowClass> FindClass(LPCWSTR name, HINSTANCE instance) {
    return Classes().Find(name, Instance(instance));
}

SystemClassRegistration::SystemClassRegistration(const SystemClass& systemClass) {
    auto wndClass = std::make_shared<WindowClass>();
    wndClass->name = systemClass.name;
    wndClass->folded = FoldCase(wndClass->name);
    wndClass->proc = systemClass.proc;
    wndClass->style = systemClass.style | CS_GLOBALCLASS;
    wndClass->windowExtra = systemClass.windowExtra;
    wndClass->cursor = systemClass.cursor;
    wndClass->background = systemClass.background;
    wndClass->system = true;
    Classes().Register(std::move(wndClass));
}

namespace {
// Message-only windows and other windows that need no procedure of their own.
const SystemClassRegistration kMessageClass{{.name = L"Message", .proc = DefWindowProcW}};
}  // namespace

}  // namespace vplatform::user

using namespace vplatform::user;

extern "C" {

ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx) {
    if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXW) || lpwcx->lpfnWndProc == nullptr ||
        lpwcx->lpszClassName == nullptr || IS_INTRESOURCE(lpwcx->lpszClassName) || lpwcx->cbClsExtra < 0 ||
        lpwcx->cbClsExtra > kMostExtraBytes || lpwcx->cbWndExtra < 0 || lpwcx->cbWndExtra > kMostExtraBytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::wstring_view name(lpwcx->lpszClassName);
    if (name.empty() || name.size() > kLongestName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto wndClass = std::make_shared<WindowClass>();
    wndClass->name = name;
    wndClass->folded = FoldCase(name);
    wndClass->style = lpwcx->style;
    wndClass->proc = lpwcx->lpfnWndProc;
    wndClass->classExtra = lpwcx->cbClsExtra;
    wndClass->windowExtra = lpwcx->cbWndExtra;
    wndClass->instance = Instance(lpwcx->hInstance);
    wndClass->icon = lpwcx->hIcon;
    wndClass->iconSmall = lpwcx->hIconSm;
    wndClass->cursor = lpwcx->hCursor;
    wndClass->background = lpwcx->hbrBackground;
    if (lpwcx->lpszMenuName != nullptr && !IS_INTRESOURCE(lpwcx->lpszMenuName))
        wndClass->menuName = lpwcx->lpszMenuName;
    return Classes().Register(std::move(wndClass));
}

BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
    return Classes().Unregister(lpClassName, Instance(hInstance));
}

BOOL GetClassInfoExW(HINSTANCE hInstance, LPCWSTR lpszClass, LPWNDCLASSEXW lpwcx) {
    if (lpwcx == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto found = FindClass(lpszClass, hInstance);
    if (!found) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    lpwcx->cbSize = sizeof(WNDCLASSEXW);
    lpwcx->style = found->style;
    lpwcx->lpfnWndProc = found->proc;
    lpwcx->cbClsExtra = found->classExtra;
    lpwcx->cbWndExtra = found->windowExtra;
    lpwcx->hInstance = found->system ? nullptr : found->instance;
    lpwcx->hIcon = found->icon;
    lpwcx->hCursor = found->cursor;
    lpwcx->hbrBackground = found->background;
    lpwcx->lpszMenuName = found->menuName.empty() ? nullptr : found->menuName.c_str();
    lpwcx->lpszClassName = found->name.c_str();
    lpwcx->hIconSm = found->iconSmall;
    return TRUE;
}
}
