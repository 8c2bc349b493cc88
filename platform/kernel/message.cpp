// System message texts.
#include "platform/kernel/Message.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "platform/kernel/Memory.h"

namespace {

struct Message {
    DWORD id;
    const char* text;
};

// The English texts of Windows' system message table, sorted by code.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {10, "The environment is incorrect.\r\n"},
    {11, "An attempt was made to load a program with an incorrect format.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {18, "There are no more files.\r\n"},
    {19, "The media is write protected.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {50, "The request is not supported.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {109, "The pipe has been ended.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {131, "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {132, "The file pointer cannot be set on the specified device or file.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {156, "The recipient process has refused the signal.\r\n"},
    {158, "The segment is already unlocked.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {203, "The system could not find the environment option that was entered.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {223, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {232, "The pipe is being closed.\r\n"},
    {234, "More data is available.\r\n"},
    {258, "The wait operation timed out.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {288, "Attempt to release mutex not owned by caller.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1004, "Invalid flags.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1115, "A system shutdown is in progress.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1159, "The message can be used only with synchronous operations.\r\n"},
    {1168, "Element not found.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1247,
     "An attempt was made to perform an initialization operation when initialization has already been completed.\r\n"},
    {1314, "A required privilege is not held by the client.\r\n"},
    {1400, "Invalid window handle.\r\n"},
    {1402, "Invalid cursor handle.\r\n"},
    {1406, "Cannot create a top-level child window.\r\n"},
    {1407, "Cannot find window class.\r\n"},
    {1408, "Invalid window; it belongs to other thread.\r\n"},
    {1410, "Class already exists.\r\n"},
    {1411, "Class does not exist.\r\n"},
    {1412, "Class still has open windows.\r\n"},
    {1413, "Invalid index.\r\n"},
    {1418, "Thread does not have a clipboard open.\r\n"},
    {1444, "Invalid thread identifier.\r\n"},
    {1450, "Insufficient system resources exist to complete the requested service.\r\n"},
    {1459, "This operation requires an interactive window station.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1461, "Invalid monitor handle.\r\n"},
    {1812, "The specified image file did not contain a resource section.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
    {1815, "The specified resource language ID cannot be found in the image file.\r\n"},
    {1816, "Not enough quota is available to process this command.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall.\r\n"},
    {10009, "The file handle supplied is not valid.\r\n"},
    {10013, "An attempt was made to access a socket in a way forbidden by its access permissions.\r\n"},
    {10014, "The system detected an invalid pointer address in attempting to use a pointer argument in a call.\r\n"},
    {10022, "An invalid argument was supplied.\r\n"},
    {10024, "Too many open sockets.\r\n"},
    {10035, "A non-blocking socket operation could not be completed immediately.\r\n"},
    {10036, "A blocking operation is currently executing.\r\n"},
    {10037, "An operation was attempted on a non-blocking socket that already had an operation in progress.\r\n"},
    {10038, "An operation was attempted on something that is not a socket.\r\n"},
    {10039, "A required address was omitted from an operation on a socket.\r\n"},
    {10040,
     "A message sent on a datagram socket was larger than the internal message buffer or some other network limit, "
     "or the buffer used to receive a datagram into was smaller than the datagram itself.\r\n"},
    {10041,
     "A protocol was specified in the socket function call that does not support the semantics of the socket type "
     "requested.\r\n"},
    {10042,
     "An unknown, invalid, or unsupported option or level was specified in a getsockopt or setsockopt call.\r\n"},
    {10043, "The requested protocol has not been configured into the system, or no implementation for it exists.\r\n"},
    {10044, "The support for the specified socket type does not exist in this address family.\r\n"},
    {10045, "The attempted operation is not supported for the type of object referenced.\r\n"},
    {10046, "The protocol family has not been configured into the system or no implementation for it exists.\r\n"},
    {10047, "An address incompatible with the requested protocol was used.\r\n"},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted.\r\n"},
    {10049, "The requested address is not valid in its context.\r\n"},
    {10050, "A socket operation encountered a dead network.\r\n"},
    {10051, "A socket operation was attempted to an unreachable network.\r\n"},
    {10052,
     "The connection has been broken due to keep-alive activity detecting a failure while the operation was in "
     "progress.\r\n"},
    {10053, "An established connection was aborted by the software in your host machine.\r\n"},
    {10054, "An existing connection was forcibly closed by the remote host.\r\n"},
    {10055,
     "An operation on a socket could not be performed because the system lacked sufficient buffer space or because "
     "a queue was full.\r\n"},
    {10056, "A connect request was made on an already connected socket.\r\n"},
    {10057,
     "A request to send or receive data was disallowed because the socket is not connected and (when sending on a "
     "datagram socket using a sendto call) no address was supplied.\r\n"},
    {10058,
     "A request to send or receive data was disallowed because the socket had already been shut down in that "
     "direction with a previous shutdown call.\r\n"},
    {10059, "Too many references to some kernel object.\r\n"},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a period of time, or "
     "established connection failed because connected host has failed to respond.\r\n"},
    {10061, "No connection could be made because the target machine actively refused it.\r\n"},
    {15106, "User stopped resource enumeration.\r\n"},
    // HRESULTs with texts of their own (those of facility 7 take their Win32
    // code's text, see FindText).
    {0x8000000Au, "The data necessary to complete this operation is not yet available.\r\n"},  // E_PENDING
    {0x8000000Bu, "The operation attempted to access data outside the valid range\r\n"},       // E_BOUNDS
    {0x8000000Cu,
     "A concurrent or interleaved operation changed the state of the object, invalidating this operation.\r\n"},
    {0x8000000Eu, "A method was called at an unexpected time.\r\n"},  // E_ILLEGAL_METHOD_CALL
    {0x80004001u, "Not implemented\r\n"},                             // E_NOTIMPL
    {0x80004002u, "No such interface supported\r\n"},                 // E_NOINTERFACE
    {0x80004003u, "Invalid pointer\r\n"},                             // E_POINTER
    {0x80004004u, "Operation aborted\r\n"},                           // E_ABORT
    {0x80004005u, "Unspecified error\r\n"},                           // E_FAIL
    {0x8000FFFFu, "Catastrophic failure\r\n"},                        // E_UNEXPECTED
    {0x80010106u, "Cannot change thread mode after it is set.\r\n"},  // RPC_E_CHANGED_MODE
    {0x8001010Eu, "The application called an interface that was marshalled for a different thread.\r\n"},
    {0x80040110u, "Class does not support aggregation (or class object is remote)\r\n"},  // CLASS_E_NOAGGREGATION
    {0x80040154u, "Class not registered\r\n"},                                            // REGDB_E_CLASSNOTREG
    {0x800401F0u, "CoInitialize has not been called.\r\n"},                               // CO_E_NOTINITIALIZED
    {0x800401F1u, "CoInitialize has already been called.\r\n"},                           // CO_E_ALREADYINITIALIZED
};

static_assert(std::is_sorted(std::begin(kMessages), std::end(kMessages),
                             [](const Message& a, const Message& b) { return a.id < b.id; }));

constexpr DWORD kKnownFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                              FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                              FORMAT_MESSAGE_MAX_WIDTH_MASK;

// The text of `id` after the checks FormatMessage makes, or null with the last
// error set.
const char* FindText(DWORD flags, DWORD id, DWORD language, const void* buffer) {
    if ((flags & ~kKnownFlags) != 0 || (flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const WORD primary = PRIMARYLANGID(static_cast<WORD>(language));
    if (language > 0xFFFF || (primary != LANG_NEUTRAL && primary != LANG_ENGLISH)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return nullptr;
    }
    const auto find = [](DWORD value) {
        const auto* found = std::lower_bound(std::begin(kMessages), std::end(kMessages), value,
                                             [](const Message& m, DWORD v) { return m.id < v; });
        return found != std::end(kMessages) && found->id == value ? found : nullptr;
    };
    const Message* it = find(id);
    // A failure HRESULT of FACILITY_WIN32 (HRESULT_FROM_WIN32) carries a
    // Win32 code in its low word and reads as that code's text.
    if (it == nullptr && (id & 0xFFFF0000u) == 0x80070000u) it = find(id & 0xFFFFu);
    if (it == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return nullptr;
    }
    // Inserts need arguments, which this platform does not take.
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && std::strchr(it->text, '%') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return it->text;
}

template <typename Char>
DWORD Format(DWORD flags, DWORD id, DWORD language, Char* buffer, DWORD size) {
    const bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (allocate && buffer != nullptr) *reinterpret_cast<Char**>(buffer) = nullptr;
    const char* text = FindText(flags, id, language, buffer);
    if (text == nullptr) return 0;
    const std::string_view message(text);
    const auto length = static_cast<DWORD>(message.size());

    Char* out = buffer;
    if (allocate) {
        const SIZE_T units = std::max<SIZE_T>(size, length + 1);
        out = static_cast<Char*>(LocalAlloc(LMEM_FIXED, units * sizeof(Char)));
        if (out == nullptr) return 0;  // LocalAlloc set the error
    } else if (size < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // The texts are ASCII: each byte is one character in either width.
    std::transform(message.begin(), message.end(), out,
                   [](char c) { return static_cast<Char>(static_cast<unsigned char>(c)); });
    out[length] = Char(0);
    if (allocate) *reinterpret_cast<Char**>(buffer) = out;
    return length;
}

}  // namespace

extern "C" {

DWORD FormatMessageA(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* /*Arguments*/) {
    return Format<char>(dwFlags, dwMessageId, dwLanguageId, lpBuffer, nSize);
}

DWORD FormatMessageW(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, va_list* /*Arguments*/) {
    return Format<wchar_t>(dwFlags, dwMessageId, dwLanguageId, lpBuffer, nSize);
}
}
