// What module.cpp and resource.cpp share about the loader's list of loaded
// objects and about modules mapped as data files.
#pragma once

#include <link.h>

#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

namespace vplatform {

// The address of the object's ELF header: the segment loaded from file
// offset 0 (or the lowest one) shifted by the load bias.  This address is the
// object's HMODULE.
std::uintptr_t ImageStart(const dl_phdr_info& info);

// A handle of LoadLibraryExW's data-file form has its lowest bit set.
inline bool IsDataFileHandle(HMODULE module) {
    return (reinterpret_cast<std::uintptr_t>(module) & 1) != 0;
}

// Maps `file` read-only and checks its headers and resources; the new
// module's handle, or null with the last error set.
HMODULE OpenDataFileModule(const std::string& file);
// Unmaps a module of OpenDataFileModule; false (last error untouched) when
// `module` is none.
bool CloseDataFileModule(HMODULE module);

}  // namespace vplatform
