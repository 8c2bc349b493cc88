// Extension modules and the current resource module, with the test library
// (an extension module with resources of its own) loaded.
#include <gtest/gtest.h>

#include "platform/kernel/Module.h"
#include "platform/kernel/Resource.h"
#include "platform/mfc/AfxModule.h"
#include "tests/platform/kernel/resources/ids.h"
#include "tests/support/LastError.h"
#include "tests/support/TempDir.h"

namespace {

using vlibtest::FailsWith;

TEST(AfxModule, ExtensionModulesMustBeLoadedModules) {
    int local = 0;
    const HMODULE data =
        LoadLibraryExW(vlibtest::Wide(VLIB_RESOURCE_PLUGIN).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    for (HMODULE refused : {HMODULE{}, reinterpret_cast<HMODULE>(&local), data}) {
        AFX_EXTENSION_MODULE state{};
        EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND, [&] { return AfxInitExtensionModule(state, refused); }));
        EXPECT_FALSE(state.bInitialized);
    }
    FreeLibrary(data);

    const int before = AfxGetDynLinkLibraryCount();
    AFX_EXTENSION_MODULE state{};
    const HMODULE platform = GetModuleHandleW(L"libVLibPlatform.so");
    ASSERT_TRUE(AfxInitExtensionModule(state, platform));
    EXPECT_EQ(state.hModule, platform);
    EXPECT_EQ(state.hResource, platform);
    new CDynLinkLibrary(state);
    new CDynLinkLibrary(state);
    EXPECT_EQ(AfxGetDynLinkLibraryCount(), before + 2);
    AfxTermExtensionModule(state);
    EXPECT_EQ(AfxGetDynLinkLibraryCount(), before);
}

// The resource module starts as the executable and ignores null; a resource
// is looked for there, then along the chain of extension modules.
TEST(AfxModule, FindingAResourceSearchesTheCurrentModuleThenTheChain) {
    const HMODULE plugin = LoadLibraryW(vlibtest::Wide(VLIB_RESOURCE_PLUGIN).c_str());
    ASSERT_NE(plugin, nullptr);
    const HINSTANCE exe = GetModuleHandleW(nullptr);
    EXPECT_EQ(AfxGetInstanceHandle(), exe);
    AfxSetResourceHandle(nullptr);
    EXPECT_EQ(AfxGetResourceHandle(), exe);
    EXPECT_EQ(AfxFindResourceHandle(L"GREETING", L"TEXT"), exe);
    EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_ONLY_IN_LIBRARY), RT_RCDATA), plugin);
    EXPECT_EQ(AfxFindResourceHandle(L"NOWHERE", L"TEXT"), exe);
    AfxSetResourceHandle(plugin);
    EXPECT_EQ(AfxFindResourceHandle(L"GREETING", L"TEXT"), plugin);
    EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_1024), RT_RCDATA), plugin);  // not in the chain: current
    AfxSetResourceHandle(exe);
    FreeLibrary(plugin);
}

}  // namespace
