#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <regex>

#include "diagnostics/Log.h"
#include "tests/support/Wait.h"
#include "text/StringConversion.h"

namespace vlibtest {

std::vector<LogEntry> ParseLog(const std::string& bytes, bool* complete) {
    // An entry: time, two tabs, "function ( line )", CR LF, message (which may
    // hold CR LF itself), CR LF, "-", CR LF.
    static const std::regex entry(R"((\d\d:\d\d:\d\d\.\d\d\d)\t\t([^\r\n]*) \( (-?\d+) \)\r\n([\s\S]*?)\r\n-\r\n)");
    std::vector<LogEntry> entries;
    std::size_t consumed = 0;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), entry); it != std::sregex_iterator(); ++it) {
        if (static_cast<std::size_t>(it->position()) != consumed) break;
        entries.push_back({(*it)[1], (*it)[2], (*it)[3], (*it)[4]});
        consumed += static_cast<std::size_t>(it->length());
    }
    if (complete != nullptr) *complete = consumed == bytes.size();
    return entries;
}

LogCapture::LogCapture() : m_file(m_dir.Path() / "log.txt") {
    m_open = VTools::Log::Instance().Open(VTools::String::Utf8ToWide(m_file.string()));
    EXPECT_TRUE(m_open) << "the log could not be opened on " << m_file;
}

LogCapture::~LogCapture() {
    if (m_open) VTools::Log::Instance().Close();
}

std::vector<LogEntry> LogCapture::WaitForEntries(std::size_t count, std::chrono::milliseconds timeout) const {
    std::vector<LogEntry> entries;
    WaitFor(
        [&] {
            entries = std::filesystem::exists(m_file) ? ParseLog(TempDir::Read(m_file)) : std::vector<LogEntry>();
            return entries.size() >= count;
        },
        timeout);
    return entries;
}

std::vector<LogEntry> LogCapture::CloseAndRead(std::size_t written) {
    if (written > 0) WaitForEntries(written);
    if (m_open) VTools::Log::Instance().Close();
    m_open = false;
    bool complete = false;
    auto entries = ParseLog(TempDir::Read(m_file), &complete);
    EXPECT_TRUE(complete) << "the log file holds a torn or malformed entry";
    return entries;
}

std::vector<LogEntry> EntriesOf(const std::function<void()>& call) {
    LogCapture log;
    call();
    EXPECT_TRUE(VTools::Log::Instance().Flush());
    auto entries = log.CloseAndRead();
    if (!entries.empty()) entries.pop_back();
    return entries;
}

}  // namespace vlibtest
