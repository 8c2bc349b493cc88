// Win32 base types, structures and constants, with the widths they have on
// 64-bit Windows, so that code written against the Windows API compiles and
// behaves the same on this platform.
//
// Widths: BOOL, INT, LONG, UINT, DWORD are 32-bit (LONG stays 32-bit on Linux,
// where `long` is 64-bit); WPARAM, UINT_PTR, SIZE_T are unsigned 64-bit; LPARAM,
// LRESULT, INT_PTR are signed 64-bit.  Wide characters (`wchar_t`) hold UTF-16
// code units, one unit per `wchar_t`.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = std::int32_t;
using BYTE = std::uint8_t;
using BOOLEAN = std::uint8_t;
using CHAR = char;
using WCHAR = wchar_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD64 = std::uint64_t;
using INT_PTR = std::int64_t;
using UINT_PTR = std::uint64_t;
using LONG_PTR = std::int64_t;
using ULONG_PTR = std::uint64_t;
using DWORD_PTR = std::uint64_t;
using SIZE_T = std::uint64_t;
using SSIZE_T = std::int64_t;
using WPARAM = std::uint64_t;
using LPARAM = std::int64_t;
using LRESULT = std::int64_t;
using HRESULT = std::int32_t;
using ATOM = std::uint16_t;
using COLORREF = std::uint32_t;

using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBOOL = BOOL*;
using LPDWORD = DWORD*;
using PBYTE = BYTE*;
using PVOID = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef WINAPI
#define WINAPI
#endif
#ifndef CALLBACK
#define CALLBACK
#endif

// Handles are opaque pointers to distinct incomplete types, so that handles of
// different kinds do not convert into one another by accident.
using HANDLE = void*;
#define VPLATFORM_DECLARE_HANDLE(name) \
    struct name##__;                   \
    using name = name##__*
VPLATFORM_DECLARE_HANDLE(HWND);
VPLATFORM_DECLARE_HANDLE(HDC);
VPLATFORM_DECLARE_HANDLE(HFONT);
VPLATFORM_DECLARE_HANDLE(HICON);
VPLATFORM_DECLARE_HANDLE(HBITMAP);
VPLATFORM_DECLARE_HANDLE(HBRUSH);
VPLATFORM_DECLARE_HANDLE(HPEN);
VPLATFORM_DECLARE_HANDLE(HRGN);
VPLATFORM_DECLARE_HANDLE(HMONITOR);
VPLATFORM_DECLARE_HANDLE(HINSTANCE);
VPLATFORM_DECLARE_HANDLE(HKEY);
VPLATFORM_DECLARE_HANDLE(HRSRC);
VPLATFORM_DECLARE_HANDLE(HMENU);
VPLATFORM_DECLARE_HANDLE(HGLOBAL_OBJECT__);
#undef VPLATFORM_DECLARE_HANDLE
using HMODULE = HINSTANCE;
using HGDIOBJ = void*;
using HGLOBAL = HANDLE;
using HLOCAL = HANDLE;
using HCURSOR = HICON;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

struct POINT {
    LONG x;
    LONG y;
};
using LPPOINT = POINT*;

struct SIZE {
    LONG cx;
    LONG cy;
};
using LPSIZE = SIZE*;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using UUID = GUID;
using IID = GUID;
using CLSID = GUID;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

static_assert(sizeof(BOOL) == 4 && sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(UINT) == 4);
static_assert(sizeof(WPARAM) == 8 && sizeof(LPARAM) == 8 && sizeof(LRESULT) == 8);
static_assert(sizeof(GUID) == 16 && sizeof(RECT) == 16);

// Code pages.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;

// HRESULT values and helpers.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_HANDLE = static_cast<HRESULT>(0x80070006u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr WORD LOWORD(DWORD_PTR v) {
    return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HIWORD(DWORD_PTR v) {
    return static_cast<WORD>((v >> 16) & 0xFFFF);
}
constexpr BYTE LOBYTE(DWORD_PTR v) {
    return static_cast<BYTE>(v & 0xFF);
}
constexpr BYTE HIBYTE(DWORD_PTR v) {
    return static_cast<BYTE>((v >> 8) & 0xFF);
}
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
