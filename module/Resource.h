// Reading a module's resources (see platform/kernel/Resource.h for how they
// are found): the raw bytes of a resource.
//
// Names and types are wide strings or integer ids made with
// MAKEINTRESOURCEW.  Nothing logs or throws; a missing resource gives an
// empty result.
//
// Threads: the functions are stateless and may run on any thread.
#pragma once

#include <cstddef>
#include <vector>

#include "module/Export.h"
#include "platform/WinTypes.h"

namespace VTools::Resource {

// The resource's bytes, unchanged; empty when the resource is missing,
// unreadable or empty.
VLIB_API std::vector<std::byte> GetFileFromResource(HINSTANCE module, LPCWSTR name, LPCWSTR type);

}  // namespace VTools::Resource
