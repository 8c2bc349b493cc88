#include "diagnostics/CrashHandler.h"

#include "platform/crashreport/CrashReport.h"

std::atomic<bool> CrashHandler::Installed{false};

CrashHandler::AutoThreadInstaller::AutoThreadInstaller()
    : m_result(Installed.load() ? crInstallToCurrentThread2(0) : 0) {}

CrashHandler::AutoThreadInstaller& CrashHandler::AutoThreadInstaller::operator=(const AutoThreadInstaller& other) {
    m_result = other.m_result;
    return *this;
}

CrashHandler::AutoThreadInstaller::~AutoThreadInstaller() {
    if (Installed.load() && m_result == 0) {
        crUninstallFromCurrentThread();
        m_result = 0;
    }
}
