#include "diagnostics/WindowsError.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "platform/kernel/Memory.h"
#include "platform/kernel/Message.h"
#include "platform/mfc/AfxException.h"
#include "text/StringConversion.h"

namespace VTools::WindowsError {

std::string ErrorToString(std::int32_t code) {
    LPSTR buffer = nullptr;
    // Inserts ("%1 is not a valid Win32 application.") stay as they are: there
    // are no arguments for them.
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) return "Unknow error";
    // Released on every path, an allocation failure of the copy included.
    struct Release {
        LPSTR text;
        ~Release() { LocalFree(text); }
    } release{buffer};
    std::string_view text(buffer, length);
    text = text.substr(0, text.find('\r'));
    return std::string(text);
}

std::string TranlateErrorMessage(std::int32_t code) {
    const std::string message = ErrorToString(code);
    const int size = std::snprintf(nullptr, 0, "Error code: %d, message: %s", code, message.c_str());
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, "Error code: %d, message: %s", code, message.c_str());
    return out;
}

std::wstring ExceptionToWString(const CException* e) {
    std::wstring text = L"Wyj\u0105tek MFC: ";
    if (e != nullptr) {
        std::array<wchar_t, 1000> buffer{};
        if (e->GetErrorMessage(buffer.data(), static_cast<UINT>(buffer.size()))) {
            text += std::wstring_view(buffer.data());
            return text;
        }
    }
    text += L"B\u0142\u0105d podczas formatowania wyj\u0105tku";
    return text;
}

std::string ExceptionToString(const CException* e) {
    return String::WideToAnsi(ExceptionToWString(e));
}

}  // namespace VTools::WindowsError
