// Module resources: the test executable and the test library carry different
// resources under the same ids and names (resources/exe.rc, plugin.rc); the
// library is also opened as a data file, whole and damaged.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/kernel/Module.h"
#include "platform/kernel/Resource.h"
#include "platform/mfc/AfxModule.h"
#include "tests/platform/kernel/resources/ids.h"
#include "tests/support/LastError.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using vlibtest::FailsWith;
using vlibtest::SucceedsQuietly;

const fs::path kResources = VLIB_TEST_RESOURCES;

std::string FileBytes(const std::string& name) {
    return vlibtest::TempDir::Read(kResources / name);
}

// The resource's bytes, or "<missing>".
std::string Bytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    const HRSRC resource = FindResourceW(module, name, type);
    if (resource == nullptr) return "<missing>";
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    return std::string(bytes, SizeofResource(module, resource));
}

// The library loaded for the test.
class Plugin {
public:
    explicit Plugin(DWORD flags = 0)
        : m_module(LoadLibraryExW(vlibtest::Wide(VLIB_RESOURCE_PLUGIN).c_str(), nullptr, flags)) {}
    ~Plugin() {
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    HMODULE Handle() const { return m_module; }

private:
    HMODULE m_module;
};

TEST(Resource, EachModuleFindsItsOwnResourcesUnderTheSameIds) {
    const Plugin loaded;
    const Plugin data(LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(loaded.Handle(), nullptr);
    ASSERT_NE(data.Handle(), nullptr);
    const HMODULE exe = GetModuleHandleW(nullptr);
    struct Case {
        HMODULE module;
        LPCWSTR name;
        LPCWSTR type;
        std::string file;
    };
    const Case cases[] = {
        {exe, MAKEINTRESOURCEW(1), RT_RCDATA, "exe_one.txt"},
        {nullptr, L"#1", RT_RCDATA, "exe_one.txt"},
        {exe, L"greeting", L"text", "exe_greeting.txt"},
        {exe, L"Mixed CASE", L"TEXT", "exe_one.txt"},
        {exe, L"#10", L"TEXT", "<missing>"},
        {loaded.Handle(), MAKEINTRESOURCEW(1), RT_RCDATA, "lib_one.txt"},
        {loaded.Handle(), L"GREETING", L"Text", "lib_greeting.txt"},
        {data.Handle(), L"#1", L"#10", "lib_one.txt"},
        {data.Handle(), L"Greeting", L"TEXT", "lib_greeting.txt"},
        {data.Handle(), MAKEINTRESOURCEW(IDR_ONLY_IN_LIBRARY), RT_RCDATA, "lib_one.txt"},
    };
    for (const Case& c : cases) {
        const std::string expected = c.file == "<missing>" ? c.file : FileBytes(c.file);
        EXPECT_EQ(Bytes(c.module, c.name, c.type), expected) << c.file;
    }
}

TEST(Resource, MissingModulesTypesNamesAndLanguagesFailWithTheirErrors) {
    const HMODULE exe = GetModuleHandleW(nullptr);
    const HMODULE platform = GetModuleHandleW(L"libVLibPlatform.so");
    int local = 0;
    struct Case {
        HMODULE module;
        LPCWSTR name;
        LPCWSTR type;
        WORD language;
        DWORD error;
    };
    const Case cases[] = {
        {platform, MAKEINTRESOURCEW(1), RT_RCDATA, 0, ERROR_RESOURCE_DATA_NOT_FOUND},
        {reinterpret_cast<HMODULE>(&local), MAKEINTRESOURCEW(1), RT_RCDATA, 0, ERROR_MOD_NOT_FOUND},
        {reinterpret_cast<HMODULE>(0x1001), MAKEINTRESOURCEW(1), RT_RCDATA, 0, ERROR_MOD_NOT_FOUND},
        {exe, MAKEINTRESOURCEW(1), RT_BITMAP, 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {exe, MAKEINTRESOURCEW(1), L"#0", 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {exe, MAKEINTRESOURCEW(IDR_ONLY_IN_LIBRARY), RT_RCDATA, 0, ERROR_RESOURCE_NAME_NOT_FOUND},
        {exe, L"GREETINGS", L"TEXT", 0, ERROR_RESOURCE_NAME_NOT_FOUND},
        {exe, L"", L"TEXT", 0, ERROR_RESOURCE_NAME_NOT_FOUND},
        {exe, L"POLISHONLY", L"TEXT", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), ERROR_RESOURCE_LANG_NOT_FOUND},
        {exe, nullptr, L"TEXT", 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(FailsWith(c.error, [&] { return FindResourceExW(c.module, c.type, c.name, c.language); }))
            << c.error;
    }
}

TEST(Resource, LanguagesPreferTheExactOneThenTheNeutralOne) {
    const HMODULE exe = GetModuleHandleW(nullptr);
    const auto text = [&](LPCWSTR name, WORD language) {
        const HRSRC resource = FindResourceExW(exe, L"TEXT", name, language);
        if (resource == nullptr) return std::string("<missing>");
        return std::string(static_cast<const char*>(LockResource(LoadResource(exe, resource))),
                           SizeofResource(exe, resource));
    };
    EXPECT_EQ(text(L"GREETING", MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT)), FileBytes("exe_greeting_pl.txt"));
    EXPECT_EQ(text(L"GREETING", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), FileBytes("exe_greeting.txt"));
    EXPECT_EQ(text(L"GREETING", 0), FileBytes("exe_greeting.txt"));
    // Without a neutral one, a neutral request takes the first language.
    EXPECT_EQ(text(L"POLISHONLY", 0), FileBytes("exe_greeting_pl.txt"));
}

TEST(Resource, EmptyAndBlockSizedResourcesKeepTheirExactSizes) {
    const HMODULE exe = GetModuleHandleW(nullptr);
    for (const auto& [id, file] : {std::pair{IDR_EMPTY, "empty.bin"}, {IDR_1024, "1024.bin"}, {IDR_1025, "1025.bin"}}) {
        const HRSRC resource = FindResourceW(exe, MAKEINTRESOURCEW(id), RT_RCDATA);
        ASSERT_NE(resource, nullptr);
        EXPECT_TRUE(SucceedsQuietly([&] { return LoadResource(exe, resource) != nullptr; }));
        EXPECT_EQ(Bytes(exe, MAKEINTRESOURCEW(id), RT_RCDATA), FileBytes(file)) << file;
    }
}

TEST(Resource, IconFilesAreSplitIntoImagesAndAGroupDirectory) {
    const HMODULE exe = GetModuleHandleW(nullptr);
    const std::string ico = FileBytes("app.ico");
    const std::string group = Bytes(exe, L"APPICON", RT_GROUP_ICON);
    ASSERT_EQ(group.size(), 6u + 3 * 14);
    EXPECT_EQ(group.substr(0, 6), ico.substr(0, 6));
    std::set<WORD> ids;
    for (int i = 0; i < 3; ++i) {
        const char* entry = group.data() + 6 + 14 * i;
        const char* fileEntry = ico.data() + 6 + 16 * i;
        EXPECT_EQ(std::memcmp(entry, fileEntry, 12), 0);  // sizes, colours, planes, bits, bytes
        WORD id;
        DWORD size, offset;
        std::memcpy(&id, entry + 12, 2);
        std::memcpy(&size, fileEntry + 8, 4);
        std::memcpy(&offset, fileEntry + 12, 4);
        ids.insert(id);
        EXPECT_EQ(Bytes(exe, MAKEINTRESOURCEW(id), RT_ICON), ico.substr(offset, size));
    }
    EXPECT_EQ(ids.size(), 3u);
}

TEST(Resource, EnumerationListsTypesAndNamesInOrderAndStopsWhenAsked) {
    const HMODULE exe = GetModuleHandleW(nullptr);
    std::vector<std::wstring> names;
    const auto collect = [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) -> BOOL {
        auto& out = *reinterpret_cast<std::vector<std::wstring>*>(list);
        out.push_back(IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name);
        return TRUE;
    };
    EXPECT_TRUE(EnumResourceNamesW(exe, RT_RCDATA, collect, reinterpret_cast<LONG_PTR>(&names)));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"#1", L"#200", L"#201", L"#202"}));
    names.clear();
    EXPECT_TRUE(EnumResourceNamesW(exe, L"text", collect, reinterpret_cast<LONG_PTR>(&names)));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"GREETING", L"MIXED CASE", L"POLISHONLY"}));
    std::vector<std::wstring> types;
    EXPECT_TRUE(EnumResourceTypesW(
        exe,
        [](HMODULE, LPWSTR type, LONG_PTR list) -> BOOL {
            auto& out = *reinterpret_cast<std::vector<std::wstring>*>(list);
            out.push_back(IS_INTRESOURCE(type) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(type)) : type);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&types)));
    EXPECT_EQ(types, (std::vector<std::wstring>{L"PNG", L"TEXT", L"#3", L"#10", L"#14"}));
    EXPECT_TRUE(FailsWith(ERROR_RESOURCE_ENUM_USER_STOP, [&] {
        return EnumResourceNamesW(
            exe, RT_RCDATA, [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR) -> BOOL { return FALSE; }, 0);
    }));
    EXPECT_TRUE(FailsWith(ERROR_RESOURCE_TYPE_NOT_FOUND, [&] {
        return EnumResourceNamesW(
            exe, RT_BITMAP, [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR) -> BOOL { return TRUE; }, 0);
    }));
}

TEST(Resource, AResourceOfAnotherModuleIsRefused) {
    const Plugin plugin;
    const HMODULE exe = GetModuleHandleW(nullptr);
    const HRSRC own = FindResourceW(plugin.Handle(), MAKEINTRESOURCEW(1), RT_RCDATA);
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return LoadResource(exe, own); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return SizeofResource(exe, own); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] {
        return LoadResource(exe, reinterpret_cast<HRSRC>(reinterpret_cast<char*>(own) + 1));
    }));
}

TEST(Resource, LoadingRunsTheEntryAndFreeingRunsItsDetach) {
    const int before = AfxGetDynLinkLibraryCount();
    {
        const Plugin data(LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(data.Handle(), nullptr);
        EXPECT_NE(reinterpret_cast<std::uintptr_t>(data.Handle()) & 1, 0u);  // a data file's handle
        EXPECT_EQ(AfxGetDynLinkLibraryCount(), before);                      // nothing ran
        EXPECT_EQ(GetModuleHandleW(L"libresource_plugin.so"), nullptr);
    }
    HMODULE module = LoadLibraryW(vlibtest::Wide(VLIB_RESOURCE_PLUGIN).c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandleW(L"libresource_plugin.so"), module);
    EXPECT_EQ(AfxGetDynLinkLibraryCount(), before + 1);
    HMODULE fromAddress = nullptr;
    EXPECT_TRUE(
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(FindResourceW(module, L"#1", RT_RCDATA)), &fromAddress));
    EXPECT_EQ(fromAddress, module);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(AfxGetDynLinkLibraryCount(), before);
    EXPECT_EQ(GetModuleHandleW(L"libresource_plugin.so"), nullptr);
    EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND, [&] { return FreeLibrary(module); }));
}

TEST(ResourceDeathTest, ALibraryWhoseEntryRefusesEndsTheProcessWith127) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LoadLibraryW(vlibtest::Wide(VLIB_REFUSING_PLUGIN).c_str()), ::testing::ExitedWithCode(127),
                "refusing_plugin.so: the module refused to load.*last error 5");
}

class DataFileTest : public vlibtest::TempDirTest {};

TEST_F(DataFileTest, FilesThatAreNoModulesFailCleanly) {
    const auto open = [](const fs::path& file) {
        return LoadLibraryExW(vlibtest::Wide(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE) != nullptr;
    };
    EXPECT_TRUE(FailsWith(ERROR_MOD_NOT_FOUND, [&] { return open(m_dir.Path() / "missing.so"); }));
    EXPECT_TRUE(FailsWith(ERROR_BAD_EXE_FORMAT, [&] { return open(m_dir.Write("empty.so", "")); }));
    EXPECT_TRUE(FailsWith(ERROR_BAD_EXE_FORMAT, [&] { return open(m_dir.Write("text.so", std::string(200, 'x'))); }));
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return open(m_dir.Path()); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] {
        return LoadLibraryExW(L"x.so", reinterpret_cast<HANDLE>(1), LOAD_LIBRARY_AS_DATAFILE) != nullptr;
    }));
    const vlibtest::SeamScope seam(
        [](auto& s) { s.mmap = [](void*, size_t, int, int, int, off_t) { return errno = ENOMEM, MAP_FAILED; }; });
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_MEMORY, [&] { return open(VLIB_RESOURCE_PLUGIN); }));
}

// Every cut of the library and every damaged byte of its resource block
// either fails with ERROR_BAD_EXE_FORMAT or gives a module whose lookups stay
// inside the file (the sanitizer build checks the reads).
TEST_F(DataFileTest, TruncatedAndDamagedFilesNeverReadOutsideTheFile) {
    const std::string whole = vlibtest::TempDir::Read(VLIB_RESOURCE_PLUGIN);
    const std::size_t block = whole.find("VRES");
    ASSERT_NE(block, std::string::npos);
    const auto probe = [&](const std::string& bytes, const std::string& label) {
        const fs::path file = m_dir.Write("damaged.so", bytes);
        SetLastError(vlibtest::kSentinel);
        const HMODULE module = LoadLibraryExW(vlibtest::Wide(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (module == nullptr) {
            EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT) << label;
            return;
        }
        for (LPCWSTR name : std::initializer_list<LPCWSTR>{MAKEINTRESOURCEW(1), L"GREETING", MAKEINTRESOURCEW(300)}) {
            for (LPCWSTR type : std::initializer_list<LPCWSTR>{RT_RCDATA, L"TEXT"}) {
                const HRSRC resource = FindResourceW(module, name, type);
                if (resource == nullptr) continue;
                const auto* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
                const std::string copy(data, SizeofResource(module, resource));  // reads every byte
                EXPECT_LE(copy.size(), bytes.size()) << label;
            }
        }
        EnumResourceTypesW(
            module, [](HMODULE, LPWSTR, LONG_PTR) -> BOOL { return TRUE; }, 0);
        EXPECT_TRUE(FreeLibrary(module));
    };
    for (std::size_t cut : {std::size_t{0}, std::size_t{63}, std::size_t{64}, std::size_t{200}, block, block + 20,
                            block + 100, whole.size() / 2, whole.size() - 1}) {
        probe(whole.substr(0, std::min(cut, whole.size())), "cut at " + std::to_string(cut));
    }
    for (std::size_t at = block; at < std::min(whole.size(), block + 16 + 3 * 32); ++at) {
        for (unsigned char value : {0x00, 0x01, 0x7f, 0xff}) {
            std::string damaged = whole;
            damaged[at] = static_cast<char>(value);
            probe(damaged, "byte " + std::to_string(at - block) + " = " + std::to_string(value));
        }
    }
}

}  // namespace
