// UUIDs of the RPC runtime: UuidCreate, UuidFromStringA, UuidToStringA and
// RpcStringFreeA.
//
// UuidCreate makes a version-4 (random) UUID from the kernel's random source
// (getrandom).  The fields keep Windows' layout: Data1..Data3 are numbers
// (little-endian in memory), so the text form shows the version nibble 4 at
// the start of the third group and the variant bits 10xx at the start of the
// fourth.
//
// The functions report failures only through their RPC_STATUS result; they
// leave the last error alone.
//
// Threads: every function may be called from any thread at any time; UuidCreate
// calls racing in several threads still give distinct UUIDs, the stand-in for
// a failed random source included.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

using RPC_STATUS = LONG;
using RPC_CSTR = unsigned char*;

constexpr RPC_STATUS RPC_S_OK = 0;
constexpr RPC_STATUS RPC_S_OUT_OF_MEMORY = 14;
constexpr RPC_STATUS RPC_S_INVALID_ARG = 87;
constexpr RPC_STATUS RPC_S_INVALID_STRING_UUID = 1705;
constexpr RPC_STATUS RPC_S_UUID_NO_ADDRESS = 1739;
constexpr RPC_STATUS RPC_S_UUID_LOCAL_ONLY = 1824;

extern "C" {

// Fills `uuid` with a new random version-4 UUID and returns RPC_S_OK.  When
// the kernel's random source cannot be read, the UUID is made from the clock,
// the process id and a counter instead and the result is
// RPC_S_UUID_LOCAL_ONLY (unique on this computer only).  A null `uuid` gives
// RPC_S_INVALID_ARG.
VPLATFORM_API RPC_STATUS UuidCreate(UUID* uuid);

// Parses exactly 36 characters "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"
// (hexadecimal digits in either case, no braces, nothing before or after)
// into `uuid`.  A null string gives the nil UUID and RPC_S_OK, as on Windows.
// Any other text gives RPC_S_INVALID_STRING_UUID and leaves `uuid` unchanged;
// a null `uuid` gives RPC_S_INVALID_ARG.
VPLATFORM_API RPC_STATUS UuidFromStringA(RPC_CSTR stringUuid, UUID* uuid);

// Writes the lower-case 36-character text of `uuid` (the nil UUID for null)
// into a new string to be freed with RpcStringFreeA.  RPC_S_INVALID_ARG for a
// null `stringUuid`, RPC_S_OUT_OF_MEMORY when no memory is left.
VPLATFORM_API RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* stringUuid);

// Frees a string from UuidToStringA and sets `*string` to null.  Returns
// RPC_S_INVALID_ARG for a null `string`; a null `*string` does nothing.
VPLATFORM_API RPC_STATUS RpcStringFreeA(RPC_CSTR* string);
}
