// Crash reporting: installation for the process, the files copied into each
// report, the process-wide flag and the per-thread guard.
//
// Install connects the process to the platform's crash-report layer
// (platform/crashreport/CrashReport.h), naming the folder where report
// folders are saved and the application's name and version.  When the
// process crashes, the layer writes its report folder (crash.json,
// stack.txt) and then calls CrashCallbackImpl::CrashCallback on its "Crash"
// thread, which copies into the report what a developer needs to reproduce
// the crash:
//   - every folder given to AddCopyDirectoryOnCrash, in the order added, into
//     <report>/<folder's last element without extension>; a repeated name
//     gets "_2", "_3"…; a folder holding the save folder is copied without
//     it;
//   - the desktop file given to SetCopyT5DesktopOnCrash into
//     <report>/Desktop, with its companion folder (the same path without the
//     extension): its tree in listing order, less files whose extension is
//     exactly ".dat" or ".bin", and nothing from the first file larger than
//     5 MiB on.
// A file-system step that fails is written to the log and skipped; the rest
// is still copied.  Every entry of the callback is flushed to the log file
// before it returns.
//
// The save folder is made absolute at Install (a relative one is taken from
// the current folder then) and used so for the report files and the copies.
// When the layer could write no report folder (the report went to standard
// error), nothing is copied.
//
// Failures: Install returns false when already installed, or when the layer
// refuses (a save folder that cannot be created or written, that belongs to
// another user, or that others may write without the sticky bit, among
// others): the layer's text is then logged under "CrashHandler::Install".
// AddCopyDirectoryOnCrash and SetCopyT5DesktopOnCrash return false when
// Install never succeeded.
//
// Threads: Install and UnInstall come from the application's controlling
// thread.  AddCopyDirectoryOnCrash and SetCopyT5DesktopOnCrash may be called
// from any thread at any time, also while a crash is being reported: the
// callback data has a lock, which the callback waits for briefly and
// otherwise logs and copies nothing.  Installed may be read from any thread.
// A guard, and any copy of it, is created and destroyed on the thread it
// guards.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "VLibExport.h"
#include "platform/crashreport/CrashReport.h"

class VLIB_API CrashHandler {
public:
    // True between a successful process-wide installation and its removal.
    // Written only at start-up and shutdown, read by every worker thread.
    static std::atomic<bool> Installed;

    // Installs crash reporting for the process, reports going into
    // sub-folders of `saveFolder` (created when missing).  The name and
    // version are copied.  False, without any change, when already
    // installed; false with the layer's text logged when the layer refuses.
    static bool Install(std::wstring_view saveFolder, std::wstring_view appName, std::wstring_view appVersion);
    // Uninstalls crash reporting if installed; always true.  The copy
    // folders and desktop file stay until the next successful Install.
    static bool UnInstall();
    // Appends a folder to copy into each report (duplicates kept).  False,
    // nothing stored, when Install never succeeded.
    static bool AddCopyDirectoryOnCrash(std::wstring_view folder);
    // Sets the desktop file to copy (an empty path: none).  False when
    // Install never succeeded.
    static bool SetCopyT5DesktopOnCrash(std::wstring_view desktopFile);

    // The data the crash callback works with.
    class VLIB_API CrashCallbackImpl {
    public:
        // The function registered with the crash-report layer.  Logs
        // "CrashCallback called" at every stage; asks for the next stage
        // (CR_CB_NEXT_STAGE) until the report files exist, then copies the
        // extra files and returns CR_CB_DODEFAULT.  A null record, or a user
        // parameter that is not the current callback data, is logged and
        // nothing is copied.  Never throws.
        static int CrashCallback(CR_CRASH_CALLBACK_INFOW* info);

    private:
        friend class CrashHandler;
        void CopyExtraFiles(std::wstring_view reportFolder);

        std::mutex m_lock;  // over the three below
        std::wstring m_saveFolder;
        std::vector<std::wstring> m_copyFolders;
        std::wstring m_desktopFile;
    };

    // The current callback data: created by Install, replaced by a later
    // successful Install, never freed by UnInstall.
    static std::unique_ptr<CrashCallbackImpl> m_crashCallback;

    // Scope guard for one thread; created and destroyed on that thread.
    class VLIB_API AutoThreadInstaller {
    public:
        AutoThreadInstaller();
        AutoThreadInstaller(const AutoThreadInstaller&) = default;
        AutoThreadInstaller& operator=(const AutoThreadInstaller& other);
        ~AutoThreadInstaller();

    private:
        // 0: installed on this thread, or nothing attempted.
        std::int32_t m_result;
    };

private:
    // Creates the callback data for `saveFolder` and registers the callback.
    static void PrepareCrashCallback(std::wstring_view saveFolder);
};
