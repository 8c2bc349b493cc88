#include "diagnostics/CrashHandler.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "diagnostics/Log.h"
#include "diagnostics/internal/ThreadGuard.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "text/StringConversion.h"

namespace fs = std::filesystem;

std::atomic<bool> CrashHandler::Installed{false};
std::unique_ptr<CrashHandler::CrashCallbackImpl> CrashHandler::m_crashCallback;

namespace {

constexpr const char* kCallbackFunction = "CrashHandler::CrashCallbackImpl::CrashCallback";
// Files of the desktop's companion folder from the first one larger than this
// on are not copied.
constexpr std::uintmax_t kDesktopFileLimit = 0x500000;
// How long the callback waits for the callback data when another thread is
// changing it.
constexpr auto kDataWait = std::chrono::seconds(1);
// How long the callback waits for its log entries to reach the file.
constexpr auto kFlushWait = std::chrono::seconds(2);

// The save folder given to Install, kept for the life of the process.
std::wstring& SaveFolder() {
    static std::wstring folder;
    return folder;
}

// Writes a message whose text is UTF-8 in the source (the log takes ANSI).
void LogUtf8(const char* function, int line, std::string_view utf8) noexcept {
    try {
        VTools::Log::Instance().Write(function, line, VTools::String::Utf8ToAnsi(utf8));
    } catch (...) {
        VTools::Log::Instance().Write(function, line, utf8);
    }
}

void LogStepFailure(int line, const fs::path& path, const std::error_code& error) noexcept {
    try {
        LogUtf8(kCallbackFunction, line, "Błąd kopiowania do raportu: " + path.native() + ": " + error.message());
    } catch (...) {
    }
}

std::optional<fs::path> NativePath(std::wstring_view wide) {
    std::string native;
    if (!vplatform::ToFileSystemPath(wide, native)) return std::nullopt;
    return fs::path(native);
}

// The last element that is not empty ("/a/Cfg/" gives "Cfg").
fs::path LastElement(fs::path path) {
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return fs::path(text).filename();
}

// The absolute form of `folder` against the current folder, as the
// crash-report layer takes it; the folder as given when it has none.
std::wstring FullFolder(std::wstring_view folder) {
    const std::wstring given(folder);
    if (given.empty()) return given;
    const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return given;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return given;
    full.resize(length);
    return full;
}

bool SameFolder(const fs::path& a, const std::optional<fs::path>& b) {
    std::error_code error;
    return b && fs::equivalent(a, *b, error);
}

// Copies the tree of `from` into the existing folder `to`; links are copied
// as links, folders equivalent to one of `skip` are left out.
void CopyTree(const fs::path& from, const fs::path& to, const std::optional<fs::path> (&skip)[2]) {
    std::error_code error;
    fs::directory_iterator it(from, error);
    if (error) return LogStepFailure(__LINE__, from, error);
    for (; it != fs::directory_iterator(); it.increment(error)) {
        const fs::path source = it->path();
        const fs::path target = to / source.filename();
        std::error_code step;
        const fs::file_status status = it->symlink_status(step);
        if (step) {
            LogStepFailure(__LINE__, source, step);
        } else if (fs::is_directory(status)) {
            if (SameFolder(source, skip[0]) || SameFolder(source, skip[1])) continue;
            fs::create_directory(target, step);
            if (step)
                LogStepFailure(__LINE__, target, step);
            else
                CopyTree(source, target, skip);
        } else if (fs::is_symlink(status)) {
            fs::remove(target, step);
            fs::copy_symlink(source, target, step);
            if (step) LogStepFailure(__LINE__, source, step);
        } else if (fs::is_regular_file(status)) {
            fs::copy_file(source, target, fs::copy_options::overwrite_existing, step);
            if (step) LogStepFailure(__LINE__, source, step);
        }
    }
    if (error) LogStepFailure(__LINE__, from, error);
}

// What the desktop walk does after a file.
enum class Walk { Go, Stop };

// Visits the regular files under `folder` in listing order, depth first, until
// `visit` says Stop.  A folder that cannot be read is logged and skipped.
template <class Visit>
Walk WalkFiles(const fs::path& folder, Visit& visit) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        LogStepFailure(__LINE__, folder, error);
        return Walk::Go;
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
        std::error_code step;
        const fs::file_status status = it->symlink_status(step);
        if (step) {
            LogStepFailure(__LINE__, it->path(), step);
        } else if (fs::is_directory(status)) {
            if (WalkFiles(it->path(), visit) == Walk::Stop) return Walk::Stop;
        } else if (fs::is_regular_file(status)) {
            if (visit(it->path()) == Walk::Stop) return Walk::Stop;
        }
    }
    if (error) LogStepFailure(__LINE__, folder, error);
    return Walk::Go;
}

void CopyDesktop(const std::wstring& desktopFile, const fs::path& destination) {
    if (desktopFile.empty()) return;
    const std::optional<fs::path> desktop = NativePath(desktopFile);
    if (!desktop) return;
    std::error_code error;
    const fs::path companion = fs::path(*desktop).replace_extension();
    if (!fs::is_regular_file(*desktop, error) || !fs::is_directory(companion, error)) return;

    const fs::path target = destination / "Desktop";
    fs::create_directories(target, error);
    if (error) return LogStepFailure(__LINE__, target, error);
    fs::copy_file(*desktop, target / desktop->filename(), fs::copy_options::overwrite_existing, error);
    if (error) LogStepFailure(__LINE__, *desktop, error);

    const fs::path holder = fs::weakly_canonical(desktop->parent_path(), error);
    auto visit = [&](const fs::path& file) {
        std::error_code step;
        const std::uintmax_t size = fs::file_size(file, step);
        if (step) {
            LogStepFailure(__LINE__, file, step);
            return Walk::Go;
        }
        if (size > kDesktopFileLimit) return Walk::Stop;
        const fs::path extension = file.extension();
        if (extension == ".dat" || extension == ".bin") return Walk::Go;
        fs::path relative = fs::weakly_canonical(file.parent_path(), step).lexically_relative(holder);
        if (relative == "." || relative == "..") relative.clear();
        const fs::path folder = target / relative;
        fs::create_directories(folder, step);
        if (!step) fs::copy_file(file, folder / file.filename(), fs::copy_options::overwrite_existing, step);
        if (step) LogStepFailure(__LINE__, file, step);
        return Walk::Go;
    };
    WalkFiles(companion, visit);
}

}  // namespace

bool CrashHandler::Install(std::wstring_view saveFolder, std::wstring_view appName, std::wstring_view appVersion) {
    if (Installed.load()) return false;
    // A relative folder means the one under the current folder now, for the
    // report files and the copies alike, whatever the current folder is at
    // the crash.
    SaveFolder() = FullFolder(saveFolder);
    // The layer reads NUL-terminated text: the views are copied first.
    const std::wstring name(appName);
    const std::wstring version(appVersion);
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    info.pszAppName = name.c_str();
    info.pszAppVersion = version.c_str();
    info.dwFlags = CR_INST_ALL_POSSIBLE_HANDLERS;
    info.uMiniDumpType = 0;
    info.pszErrorReportSaveDir = SaveFolder().c_str();
    if (crInstallW(&info) == 0) {
        PrepareCrashCallback(SaveFolder());
        Installed = true;
        return true;
    }
    wchar_t text[256] = {};
    crGetLastErrorMsgW(text, 256);
    std::string message;
    try {
        message = VTools::String::WideToAnsi(text);
    } catch (...) {
        message = "crInstallW";
    }
    VTools::Log::Instance().Write("CrashHandler::Install", __LINE__, message);
    return false;
}

bool CrashHandler::UnInstall() {
    if (Installed.load()) {
        crUninstall();
        Installed = false;
    }
    return true;
}

bool CrashHandler::AddCopyDirectoryOnCrash(std::wstring_view folder) {
    CrashCallbackImpl* data = m_crashCallback.get();
    if (data == nullptr) return false;
    const std::lock_guard lock(data->m_lock);
    data->m_copyFolders.emplace_back(folder);
    return true;
}

bool CrashHandler::SetCopyT5DesktopOnCrash(std::wstring_view desktopFile) {
    CrashCallbackImpl* data = m_crashCallback.get();
    if (data == nullptr) return false;
    const std::lock_guard lock(data->m_lock);
    data->m_desktopFile = desktopFile;
    return true;
}

void CrashHandler::PrepareCrashCallback(std::wstring_view saveFolder) {
    // The data is complete before the layer can hand it to a crash.
    auto data = std::make_unique<CrashCallbackImpl>();
    data->m_saveFolder = saveFolder;
    m_crashCallback = std::move(data);
    crSetCrashCallbackW(&CrashCallbackImpl::CrashCallback, m_crashCallback.get());
}

int CrashHandler::CrashCallbackImpl::CrashCallback(CR_CRASH_CALLBACK_INFOW* info) {
    int result = CR_CB_DODEFAULT;
    try {
        VTools::Log::Instance().Write(kCallbackFunction, __LINE__, "CrashCallback called");
        if (info == nullptr) {
            VTools::Log::Instance().Write(kCallbackFunction, __LINE__, "brak struktury pInfo");
        } else if (info->nStage != CR_CB_STAGE_FINISH) {
            result = CR_CB_NEXT_STAGE;
        } else if (info->pUserParam == nullptr || info->pUserParam != m_crashCallback.get()) {
            VTools::Log::Instance().Write(kCallbackFunction, __LINE__,
                                          "dane pomocnicze crasha uszkodzone, zapisanie tylko minidumpa");
        } else {
            static_cast<CrashCallbackImpl*>(info->pUserParam)
                ->CopyExtraFiles(info->pszErrorReportFolder != nullptr ? info->pszErrorReportFolder : L"");
        }
    } catch (...) {
        LogAllExceptions(kCallbackFunction, __LINE__);
    }
    VTools::Log::Instance().Flush(kFlushWait);
    return result;
}

void CrashHandler::CrashCallbackImpl::CopyExtraFiles(std::wstring_view reportFolder) {
    // The data may be in the middle of a change on another thread: wait for it
    // a bounded while.  The wait polls try_lock: a timed lock would use
    // pthread_mutex_clocklock, which ThreadSanitizer does not follow.
    std::unique_lock lock(m_lock, std::try_to_lock);
    for (const auto deadline = std::chrono::steady_clock::now() + kDataWait;
         !lock.owns_lock() && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.try_lock();
    }
    if (!lock.owns_lock()) {
        LogUtf8(kCallbackFunction, __LINE__, "dane pomocnicze crasha zajęte, pliki nie zostały skopiowane");
        return;
    }
    // No report folder (none could be written): nothing to copy into.
    if (reportFolder.empty()) return;
    const std::optional<fs::path> report = NativePath(reportFolder);
    const std::optional<fs::path> save = NativePath(m_saveFolder);
    if (!report || !save) return;
    const fs::path destination = *save / LastElement(*report).stem();
    const std::optional<fs::path> skip[2] = {save, destination};

    std::set<fs::path> used;
    for (const std::wstring& folder : m_copyFolders) {
        const std::optional<fs::path> source = NativePath(folder);
        if (!source) continue;
        fs::path name = LastElement(*source).stem();
        if (name.empty()) name = "folder";
        fs::path unique = name;
        for (int n = 2; !used.insert(unique).second; ++n) unique = name.native() + "_" + std::to_string(n);
        const fs::path target = destination / unique;
        std::error_code error;
        fs::create_directories(target, error);
        if (error) {
            LogStepFailure(__LINE__, target, error);
            continue;
        }
        CopyTree(*source, target, skip);
    }
    CopyDesktop(m_desktopFile, destination);
}

namespace VTools::internal {

std::int32_t GuardThread() noexcept {
    return CrashHandler::Installed.load() ? crInstallToCurrentThread2(0) : 0;
}

void UnguardThread(std::int32_t result) noexcept {
    if (CrashHandler::Installed.load() && result == 0) crUninstallFromCurrentThread();
}

}  // namespace VTools::internal

CrashHandler::AutoThreadInstaller::AutoThreadInstaller() : m_result(VTools::internal::GuardThread()) {}

CrashHandler::AutoThreadInstaller& CrashHandler::AutoThreadInstaller::operator=(const AutoThreadInstaller& other) {
    m_result = other.m_result;
    return *this;
}

CrashHandler::AutoThreadInstaller::~AutoThreadInstaller() {
    VTools::internal::UnguardThread(m_result);
}
