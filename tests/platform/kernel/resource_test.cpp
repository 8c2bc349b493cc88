// Module resources: the test executable and the test library carry different
// resources under the same ids and names (resources/exe.rc, plugin.rc); the
// library is also opened as a data file, whole and damaged.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
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

// The resource's bytes, or "<missing>"; a found resource loads quietly.
std::string Bytes(HMODULE module, LPCWSTR name, LPCWSTR type, WORD language = 0) {
    const HRSRC resource = FindResourceExW(module, type, name, language);
    if (resource == nullptr) return "<missing>";
    HGLOBAL loaded = nullptr;
    EXPECT_TRUE(SucceedsQuietly([&] { return (loaded = LoadResource(module, resource)) != nullptr; }));
    return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, resource));
}

// "#id" for an integer key, else the key's text.
std::wstring Label(LPCWSTR key) {
    return IS_INTRESOURCE(key) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(key)) : key;
}

// The test library, loaded for the scope.
auto Plugin(DWORD flags = 0) {
    return std::unique_ptr<std::remove_pointer_t<HMODULE>, BOOL (*)(HMODULE)>(
        LoadLibraryExW(vlibtest::Wide(VLIB_RESOURCE_PLUGIN).c_str(), nullptr, flags), FreeLibrary);
}

// Names and types match in any case and as "#id"; a language takes its own
// resource, else the neutral one, else (when none is asked) the first.
TEST(Resource, EachModuleFindsItsOwnResourcesUnderTheSameIds) {
    const auto loaded = Plugin(), data = Plugin(LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(loaded && data);
    const HMODULE exe = GetModuleHandleW(nullptr);
    const WORD polish = MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT),
               english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const struct {
        HMODULE module;
        LPCWSTR name, type;
        WORD language;
        std::string file;
    } cases[] = {
        {exe, MAKEINTRESOURCEW(1), RT_RCDATA, 0, "exe_one.txt"},
        {nullptr, L"#1", RT_RCDATA, 0, "exe_one.txt"},
        {exe, L"greeting", L"text", 0, "exe_greeting.txt"},
        {exe, L"GREETING", L"TEXT", polish, "exe_greeting_pl.txt"},
        {exe, L"GREETING", L"TEXT", english, "exe_greeting.txt"},
        {exe, L"POLISHONLY", L"TEXT", 0, "exe_greeting_pl.txt"},
        {exe, L"Mixed CASE", L"TEXT", 0, "exe_one.txt"},
        {exe, L"#10", L"TEXT", 0, "<missing>"},
        {exe, MAKEINTRESOURCEW(IDR_EMPTY), RT_RCDATA, 0, "empty.bin"},
        {exe, MAKEINTRESOURCEW(IDR_1024), RT_RCDATA, 0, "1024.bin"},
        {exe, MAKEINTRESOURCEW(IDR_1025), RT_RCDATA, 0, "1025.bin"},
        {loaded.get(), MAKEINTRESOURCEW(1), RT_RCDATA, 0, "lib_one.txt"},
        {loaded.get(), L"GREETING", L"Text", 0, "lib_greeting.txt"},
        {data.get(), L"#1", L"#10", 0, "lib_one.txt"},
        {data.get(), L"Greeting", L"TEXT", 0, "lib_greeting.txt"},
        {data.get(), MAKEINTRESOURCEW(IDR_ONLY_IN_LIBRARY), RT_RCDATA, 0, "lib_one.txt"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::string expected = c.file == "<missing>" ? c.file : FileBytes(c.file);
        EXPECT_EQ(Bytes(c.module, c.name, c.type, c.language), expected) << "row " << i;
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
    std::vector<std::wstring> names, types;
    const auto name = [](HMODULE, LPCWSTR, LPWSTR key, LONG_PTR out) -> BOOL {
        reinterpret_cast<std::vector<std::wstring>*>(out)->push_back(Label(key));
        return TRUE;
    };
    EXPECT_TRUE(EnumResourceNamesW(exe, RT_RCDATA, name, reinterpret_cast<LONG_PTR>(&names)));
    EXPECT_TRUE(EnumResourceNamesW(exe, L"text", name, reinterpret_cast<LONG_PTR>(&names)));
    EXPECT_EQ(names,
              (std::vector<std::wstring>{L"#1", L"#200", L"#201", L"#202", L"GREETING", L"MIXED CASE", L"POLISHONLY"}));
    const auto type = [](HMODULE, LPWSTR key, LONG_PTR out) -> BOOL {
        reinterpret_cast<std::vector<std::wstring>*>(out)->push_back(Label(key));
        return TRUE;
    };
    EXPECT_TRUE(EnumResourceTypesW(exe, type, reinterpret_cast<LONG_PTR>(&types)));
    EXPECT_EQ(types, (std::vector<std::wstring>{L"PNG", L"TEXT", L"#3", L"#10", L"#14"}));
    const auto stop = [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR) -> BOOL { return FALSE; };
    EXPECT_TRUE(FailsWith(ERROR_RESOURCE_ENUM_USER_STOP, [&] { return EnumResourceNamesW(exe, RT_RCDATA, stop, 0); }));
    EXPECT_TRUE(FailsWith(ERROR_RESOURCE_TYPE_NOT_FOUND, [&] { return EnumResourceNamesW(exe, RT_BITMAP, stop, 0); }));
}

TEST(Resource, AResourceOfAnotherModuleIsRefused) {
    const auto plugin = Plugin();
    const HMODULE exe = GetModuleHandleW(nullptr);
    const HRSRC own = FindResourceW(plugin.get(), MAKEINTRESOURCEW(1), RT_RCDATA);
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
        const auto data = Plugin(LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(data.get(), nullptr);
        EXPECT_NE(reinterpret_cast<std::uintptr_t>(data.get()) & 1, 0u);  // a data file's handle
        EXPECT_EQ(AfxGetDynLinkLibraryCount(), before);                   // nothing ran
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
                EXPECT_LE(Bytes(module, name, type).size(), bytes.size()) << label;  // reads every byte
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
