// CommandLineToArgvW over the shared command-line splitter.
#include "platform/shell/ShellApi.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/internal/CommandLine.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Module.h"

extern "C" {

LPWSTR* CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
    if (pNumArgs == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<std::wstring> args;
    if (lpCmdLine == nullptr || *lpCmdLine == 0) {
        std::wstring path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (length == 0) return nullptr;
            if (length < path.size()) {
                path.resize(length);
                break;
            }
            path.resize(path.size() * 2);
        }
        args.push_back(std::move(path));
    } else {
        args = vplatform::SplitCommandLine(lpCmdLine);
    }
    // One block: the pointers (and a null one after them), then the texts.
    SIZE_T bytes = (args.size() + 1) * sizeof(LPWSTR);
    for (const auto& arg : args) bytes += (arg.size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<LPWSTR*>(LocalAlloc(LMEM_FIXED, bytes));
    if (block == nullptr) return nullptr;
    auto* text = reinterpret_cast<wchar_t*>(block + args.size() + 1);
    for (std::size_t i = 0; i < args.size(); ++i) {
        block[i] = text;
        std::memcpy(text, args[i].c_str(), (args[i].size() + 1) * sizeof(wchar_t));
        text += args[i].size() + 1;
    }
    block[args.size()] = nullptr;
    *pNumArgs = static_cast<int>(args.size());
    return block;
}
}
