// DllData, ResourceHandleManager and VTools::Resource, with the test library
// (an extension module carrying other resources under the same ids).
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>

#include "module/DllData.h"
#include "module/Resource.h"
#include "module/ResourceHandleManager.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/Icons.h"
#include "platform/gdiplus/GdiPlus.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Module.h"
#include "platform/kernel/Resource.h"
#include "platform/kernel/Threads.h"
#include "platform/mfc/AfxModule.h"
#include "tests/platform/kernel/resources/ids.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

std::string Text(const std::vector<std::byte>& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class ModuleData : public ::testing::Test {
protected:
    void SetUp() override {
        m_plugin = LoadLibraryW(vlibtest::Wide(VLIB_RESOURCE_PLUGIN).c_str());
        ASSERT_NE(m_plugin, nullptr);
        AfxSetResourceHandle(m_exe);
    }
    void TearDown() override {
        AfxSetResourceHandle(m_exe);
        FreeLibrary(m_plugin);
    }
    const HINSTANCE m_exe = GetModuleHandleW(nullptr);
    const HINSTANCE m_platform = GetModuleHandleW(L"libVLibPlatform.so");
    HINSTANCE m_plugin = nullptr;
};

// The library's entry and the test library's each linked an extension module,
// which names itself without folder, extension or version.
TEST_F(ModuleData, ModulesAreExtensionModulesNamedWithoutFolderExtensionOrVersion) {
    EXPECT_GE(AfxGetDynLinkLibraryCount(), 2);
    EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_ONLY_IN_LIBRARY), RT_RCDATA), m_plugin);
    DllData library;
    ASSERT_TRUE(library.InitExtensionModule(m_platform));  // libVLibPlatform.so.0
    EXPECT_EQ(library.GetModuleName(), L"libVLibPlatform");
    EXPECT_TRUE(library.GetExtensionModule().bInitialized);
    library.TermExtensionModule();

    void* plugin = dlopen(VLIB_RESOURCE_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(plugin, nullptr);
    using NameFunction = const wchar_t* (*)();
    const auto pluginName = reinterpret_cast<NameFunction>(dlsym(plugin, "ResourcePluginName"));
    ASSERT_NE(pluginName, nullptr);
    EXPECT_STREQ(pluginName(), L"libresource_plugin");
    dlclose(plugin);

    DllData app;
    EXPECT_TRUE(app.InitAppModule());
    EXPECT_EQ(app.GetModuleName(), fs::path(fs::read_symlink("/proc/self/exe")).stem().wstring());
    EXPECT_FALSE(app.GetExtensionModule().bInitialized);

    DllData refused;
    int local = 0;
    EXPECT_FALSE(refused.InitExtensionModule(reinterpret_cast<HINSTANCE>(&local)));
    EXPECT_TRUE(refused.GetModuleName().empty());
}

TEST_F(ModuleData, ManagersRestoreInReverseOrderAndOnlyWhatTheyChanged) {
    {
        ResourceHandleManager none(nullptr);
        ResourceHandleManager same(m_exe);
        AfxSetResourceHandle(m_platform);
    }
    EXPECT_EQ(AfxGetResourceHandle(), m_platform);  // nothing was switched, nothing restored
    AfxSetResourceHandle(m_exe);
    {
        ResourceHandleManager outer(m_plugin);
        EXPECT_EQ(AfxGetResourceHandle(), m_plugin);
        {
            ResourceHandleManager inner(m_platform);
            EXPECT_EQ(AfxGetResourceHandle(), m_platform);
        }
        EXPECT_EQ(AfxGetResourceHandle(), m_plugin);
    }
    EXPECT_EQ(AfxGetResourceHandle(), m_exe);
    EXPECT_THROW(
        {
            ResourceHandleManager outer(m_plugin);
            ResourceHandleManager inner(m_platform);
            throw std::runtime_error("unwind");
        },
        std::runtime_error);
    EXPECT_EQ(AfxGetResourceHandle(), m_exe);
}

TEST_F(ModuleData, MovedManagersRestoreOnceAndKeepTheOldestModule) {
    {
        ResourceHandleManager first(m_plugin);
        ResourceHandleManager moved(std::move(first));
        EXPECT_EQ(AfxGetResourceHandle(), m_plugin);
    }
    EXPECT_EQ(AfxGetResourceHandle(), m_exe);
    {
        // Both switched: the target keeps the module current before it.
        ResourceHandleManager target(m_plugin);
        ResourceHandleManager source(m_platform);
        target = std::move(source);
        EXPECT_EQ(AfxGetResourceHandle(), m_platform);
    }
    EXPECT_EQ(AfxGetResourceHandle(), m_exe);
    {
        // The target changed nothing: it takes over the source's switch.
        ResourceHandleManager target(nullptr);
        {
            ResourceHandleManager source(m_plugin);
            target = std::move(source);
        }
        EXPECT_EQ(AfxGetResourceHandle(), m_plugin);
        auto& self = target;
        target = std::move(self);
    }
    EXPECT_EQ(AfxGetResourceHandle(), m_exe);
}

TEST_F(ModuleData, FilesFromResourcesKeepTheirBytesAndEachModuleItsOwn) {
    const fs::path folder = VLIB_TEST_RESOURCES;
    struct Case {
        HINSTANCE module;
        LPCWSTR name;
        LPCWSTR type;
        std::string file;  // "" for an empty result
    };
    const Case cases[] = {
        {m_exe, MAKEINTRESOURCEW(IDR_1024), RT_RCDATA, "1024.bin"},
        {m_exe, MAKEINTRESOURCEW(IDR_1025), RT_RCDATA, "1025.bin"},
        {m_exe, MAKEINTRESOURCEW(IDR_EMPTY), RT_RCDATA, ""},
        {m_exe, L"NOWHERE", RT_RCDATA, ""},
        {m_exe, L"greeting", L"TEXT", "exe_greeting.txt"},
        {m_plugin, L"greeting", L"TEXT", "lib_greeting.txt"},
        {m_plugin, MAKEINTRESOURCEW(1), RT_RCDATA, "lib_one.txt"},
        {m_plugin, MAKEINTRESOURCEW(IDR_1024), RT_RCDATA, ""},
    };
    for (const Case& c : cases) {
        const std::string expected = c.file.empty() ? "" : vlibtest::TempDir::Read(folder / c.file);
        EXPECT_EQ(Text(VTools::Resource::GetFileFromResource(c.module, c.name, c.type)), expected) << c.file;
    }
}

TEST_F(ModuleData, BitmapsAndIconsComeFromTheirModulesResources) {
    ULONG_PTR token = 0;
    const Gdiplus::GdiplusStartupInput input;
    // Missing and empty resources give null before GDI+ is even started.
    EXPECT_EQ(VTools::Resource::GetBitmapFromResource(m_exe, L"NOWHERE", L"PNG"), nullptr);
    EXPECT_EQ(VTools::Resource::GetBitmapFromResource(m_exe, MAKEINTRESOURCEW(IDR_EMPTY), RT_RCDATA), nullptr);
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    {
        const auto bitmap = VTools::Resource::GetBitmapFromResource(m_exe, L"logo", L"png");
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->GetLastStatus(), Gdiplus::Ok);
        EXPECT_EQ(bitmap->GetWidth(), 64u);
        EXPECT_EQ(bitmap->GetHeight(), 32u);
        const auto image = VTools::Resource::GetImageFromResource(m_exe, L"LOGO", L"PNG");
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->GetWidth(), 64u);
        // Bytes that are no image still give a bitmap, with an error status.
        const auto broken = VTools::Resource::GetBitmapFromResource(m_exe, L"BROKEN", L"PNG");
        ASSERT_NE(broken, nullptr);
        EXPECT_NE(broken->GetLastStatus(), Gdiplus::Ok);
    }
    Gdiplus::GdiplusShutdown(token);

    const DWORD objects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int size : {16, 24, 48}) {
        const HICON icon = VTools::Resource::LoadIconHandle(m_exe, L"APPICON", size);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP color{};
        GetObjectW(info.hbmColor, sizeof color, &color);
        EXPECT_EQ(color.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        EXPECT_TRUE(DestroyIcon(icon));
    }
    EXPECT_EQ(VTools::Resource::LoadIconHandle(m_plugin, L"APPICON", 32), nullptr);  // the library has none
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), objects);         // no icon left alive
}

}  // namespace
