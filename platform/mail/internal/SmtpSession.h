// One worker's SMTP session over a libcurl easy handle, kept from one send
// to the next while the settings stay the same.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mail/internal/Mime.h"
#include "platform/mail/internal/State.h"

typedef void CURL;
struct curl_slist;

namespace vplatform::mail {

// What a send asks of its task while it runs (on the worker thread).
class SendControl {
public:
    virtual ~SendControl() = default;
    // True when the send must stop; asked often, must be cheap.
    virtual bool ShouldAbort() = 0;
    // The callback object's AbortCheck; true stops the send.
    virtual bool AbortCheck() = 0;
    virtual bool PercentDone(int percent) = 0;
    virtual void Info(const char* name, const char* value) = 0;
};

struct SendResult {
    bool delivered = false;
    std::string error;  // UTF-8: the reason and the SMTP dialogue
};

class SmtpSession {
public:
    SmtpSession();
    ~SmtpSession();
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    // Sends `mime` to the recipients of `email` with `settings`, on the kept
    // session when the settings match it, retrying once on a new session
    // when a reused one fails before any of the message went out.  A failed
    // send ends the session.
    SendResult Send(const EmailData& email, const std::string& mime,
                    const std::shared_ptr<const SmtpSettings>& settings, SendControl& control);
    // Any thread: makes a running send fail at once (its sockets are shut
    // down) and keeps the session from being closed politely.
    void Abort() noexcept;
    // Ends the session (QUIT unless aborted).
    void Close() noexcept;
    // The settings of the kept session; null when none is kept.
    std::shared_ptr<const SmtpSettings> Settings() const { return m_curl != nullptr ? m_settings : nullptr; }

    // libcurl's callbacks.
    std::size_t Read(char* buffer, std::size_t size);
    int Progress(long long uploadTotal, long long uploadNow);
    void Transcribe(bool incoming, const char* data, std::size_t size);
    int OpenSocket(int family, int type, int protocol);
    int CloseSocket(int fd);

private:
    bool Configure(const SmtpSettings& settings, std::string& error);
    bool LoadRoots(std::string& error);
    int Perform(bool fresh, const SmtpSettings& settings, std::string& error);
    std::string Failure(int code, long reply, const std::string& reason) const;

    CURL* m_curl = nullptr;
    std::shared_ptr<const SmtpSettings> m_settings;
    curl_slist* m_recipients = nullptr;
    char m_errorBuffer[256] = {};

    // The message being sent.
    const std::string* m_mime = nullptr;
    std::size_t m_sent = 0;
    SendControl* m_control = nullptr;
    int m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_lastAbortCheck;
    int m_socketErrno = 0;

    // The SMTP dialogue of the current send, log-in data replaced.
    std::deque<std::string> m_transcript;
    bool m_challenged = false;

    std::mutex m_socketLock;
    std::vector<int> m_sockets;
    std::atomic<bool> m_aborted{false};
};

}  // namespace vplatform::mail
