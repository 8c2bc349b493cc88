// Export macro of the subsystem library (libVLibIncludes).
//
// The library is built with hidden symbol visibility; only the classes and
// functions marked VLIB_API are part of its interface.
#pragma once

#define VLIB_API __attribute__((visibility("default")))
