// The mail client: SMTP sending in the background (CkMailMan), messages
// (CkEmail), background tasks (CkTask) and progress callbacks
// (CkBaseProgress, CkMailManProgress).
//
// Text.  Narrow texts (addresses, names, subject, body, file paths, host and
// credentials) are read and returned in the ANSI code page, or in UTF-8 on an
// object whose Utf8 property is set (default false); everything goes out in
// UTF-8.  Texts returned as `const char*` point into the object and stay
// valid until the same getter is called again on it or the object is
// destroyed.  Null text arguments count as empty.
//
// Sending.  CkMailMan::SendEmailAsync checks the message's addresses and
// returns a task holding a copy of the message and of the mail object's
// settings; CkTask::Run queues it on the process's send pool.  At most
// VPLATFORM_MAIL_MAX_RUNNING sends run at once, each on a worker thread named
// "MailSend" with its own SMTP session; at most VPLATFORM_MAIL_MAX_WAITING
// wait, and Run refuses more.  A worker keeps its session for the next send
// with the same settings; a send that fails on such a reused session before
// any of the message went out is retried once on a new session.  Security:
// SmtpSsl is TLS from the start of the connection, else StartTLS requires
// STARTTLS (never falling back to plain text), else neither.  With a user
// name the session logs in (AUTH PLAIN or LOGIN) when the server offers
// AUTH.  Certificates and host names are verified against the "ROOT" store
// of platform/crypt/Crypt.h (vplatformSetRootCertificateFile names its file).
// Limits: ConnectTimeout for the connection and TLS handshake, ReadTimeout
// for each server response and for any stall while the message goes out,
// and a whole-send ceiling of ConnectTimeout + 6 x ReadTimeout plus one
// second per 16 KiB of message.  No proxy is used and no environment
// variable is read.
//
// Credentials never appear in error texts, transcripts or the message; the
// mail layer's own copies of a password are wiped when released.
//
// Threads.  Each object serialises its own members, so any thread may call
// them; CkTask and the callbacks may be used while the mail object that made
// them is used or destroyed elsewhere.  Callbacks run on the worker threads.
// At process exit, waiting sends are dropped, running ones get a short grace
// and are then aborted (without callbacks), before the objects of the
// process that were created before the first mail object are destroyed.
//
// Failures set the Win32 last error as stated per function.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Threads.h"

// Sends running at once, and sends waiting for a worker, in the process.
constexpr int VPLATFORM_MAIL_MAX_RUNNING = 4;
constexpr int VPLATFORM_MAIL_MAX_WAITING = 256;
// Default connect and read limits of new mail objects, in seconds.
constexpr int VPLATFORM_MAIL_DEFAULT_TIMEOUT = 30;

namespace vplatform::mail {
struct EmailState;
struct ManState;
struct TaskState;
struct ProgressState;
class CallbackSlot;
}  // namespace vplatform::mail

class CkTask;

// The callbacks of a mail object's background tasks, with empty defaults.
// Register one with CkMailMan::put_EventCallbackObject.  The calls come from
// worker threads, several at once when several sends run; an exception
// thrown by a callback is caught and ignored.
//
// Lifetime: unregister an object (put_EventCallbackObject(nullptr), which
// waits for a call in progress on another thread) before its derived part is
// destroyed.  The base destructor also unregisters it from every mail object
// and waits, which keeps later calls away, but by then a call in progress may
// already run on a half-destroyed object.
class VPLATFORM_API CkBaseProgress {
public:
    CkBaseProgress();
    virtual ~CkBaseProgress();
    CkBaseProgress(const CkBaseProgress&) = delete;
    CkBaseProgress& operator=(const CkBaseProgress&) = delete;

    // Asked about four times a second while a send runs; true aborts it.
    virtual bool AbortCheck() { return false; }
    // The share of the message sent, when it changes; true aborts the send.
    virtual bool PercentDone(int pctDone) {
        (void)pctDone;
        return false;
    }
    // Milestones of a send: "SmtpHost" with host:port, "SmtpRetry" when a
    // send moves to a new session.
    virtual void ProgressInfo(const char* name, const char* value) {
        (void)name;
        (void)value;
    }
    // A task has ended (delivered, failed or cancelled); `task` can be asked
    // for its result only during the call.
    virtual void TaskCompleted(CkTask& task) { (void)task; }

private:
    friend class vplatform::mail::CallbackSlot;
    std::unique_ptr<vplatform::mail::ProgressState> m_progress;
};

// The callbacks of CkMailMan.
class VPLATFORM_API CkMailManProgress : public CkBaseProgress {
public:
    CkMailManProgress();
    ~CkMailManProgress() override;
};

// A mail message.
class VPLATFORM_API CkEmail {
public:
    CkEmail();
    ~CkEmail();
    CkEmail(const CkEmail&) = delete;
    CkEmail& operator=(const CkEmail&) = delete;

    // How narrow texts are read and returned from now on (false: the ANSI
    // code page).
    void put_Utf8(bool utf8);
    bool get_Utf8();

    void put_FromAddress(const char* address);
    const char* fromAddress();
    void put_FromName(const char* name);
    const char* fromName();

    // Adds a recipient; `name` may be empty.  Always true.
    bool AddTo(const char* name, const char* address);
    int get_NumTo();
    // The recipient at `index` (from 0); empty for an index out of range.
    const char* getToAddr(int index);
    const char* getToName(int index);
    void ClearTo();

    void put_Subject(const char* subject);
    const char* subject();
    // The text of the message; it goes out as text/html when it contains
    // "<html" in any case, else as text/plain.
    void put_Body(const char* body);
    const char* body();

    // Reads the file at `path` (a platform file path; '\\' and '/' both
    // separate folders) now and attaches its bytes under its file name.
    // FALSE, with the file's last error (ERROR_FILE_NOT_FOUND,
    // ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_READ_FAULT...), when it
    // cannot be read; the message is then unchanged.
    bool AddFileAttachment(const char* path);
    int get_NumAttachments();
    const char* getAttachmentFilename(int index);

    // Fix what is otherwise generated for each composition: the multipart
    // boundary (1 to 70 of RFC 2046's boundary characters), the Date field
    // text and the Message-ID (with or without angle brackets).  Unusable
    // values are ignored.  Empty restores generation.
    void put_Boundary(const char* boundary);
    void put_EmailDate(const char* date);
    void put_MessageID(const char* messageId);

    // The message as it would be sent (7-bit ASCII, CR LF line ends).
    const char* getMime();

private:
    friend class CkMailMan;
    std::shared_ptr<vplatform::mail::EmailState> m_state;
};

// A background send, made by CkMailMan::SendEmailAsync and deleted by the
// caller.  Deleting it neither stops nor disturbs a send that runs.
class VPLATFORM_API CkTask {
public:
    ~CkTask();
    CkTask(const CkTask&) = delete;
    CkTask& operator=(const CkTask&) = delete;

    // Queues the send.  FALSE, with the reason in the task's and its mail
    // object's error texts, when it was already started (ERROR_INVALID_FUNCTION),
    // when VPLATFORM_MAIL_MAX_WAITING sends already wait (ERROR_BUSY), when the
    // process is ending (ERROR_SHUTDOWN_IN_PROGRESS) or when no worker thread
    // can be started (ERROR_NOT_ENOUGH_MEMORY); the task then counts as
    // finished and unsuccessful, without a TaskCompleted call.
    bool Run();
    // Waits up to `maxWaitMs` milliseconds (negative: no limit) for the task
    // to finish.  TRUE when it has finished; FALSE with WAIT_TIMEOUT when
    // not yet, and at once with ERROR_INVALID_FUNCTION for a task never run.
    bool Wait(int maxWaitMs);
    // Takes a waiting send off the queue or aborts a running one.  TRUE when
    // the task was waiting or running.
    bool Cancel();
    bool get_Finished();
    // TRUE only when the server accepted the message.
    bool GetResultBool();
    // Why the task failed: the reason and the SMTP dialogue that led to it
    // (server replies and commands; log-in data replaced by "***"); empty
    // after success.
    const char* resultErrorText();

private:
    friend class CkMailMan;
    friend class vplatform::mail::CallbackSlot;
    CkTask(std::shared_ptr<vplatform::mail::TaskState> state, std::weak_ptr<vplatform::mail::ManState> man);
    std::shared_ptr<vplatform::mail::TaskState> m_state;
    // The mail object, for the reason of a failed Run.
    std::weak_ptr<vplatform::mail::ManState> m_man;
    std::string m_errorText;
};

// An SMTP client.
class VPLATFORM_API CkMailMan {
public:
    // Connect and read limits start at the process defaults
    // (vplatformSetMailTimeouts).
    CkMailMan();
    // Unregisters the callback object first (waiting for a call in progress
    // on another thread).  Tasks already made go on.
    ~CkMailMan();
    CkMailMan(const CkMailMan&) = delete;
    CkMailMan& operator=(const CkMailMan&) = delete;

    void put_Utf8(bool utf8);
    bool get_Utf8();
    void put_SmtpHost(const char* host);
    const char* smtpHost();
    void put_SmtpUsername(const char* userName);
    const char* smtpUsername();
    void put_SmtpPassword(const char* password);
    // 0 (the default) is the protocol's port: 465 with SmtpSsl, else 25.
    void put_SmtpPort(int port);
    int get_SmtpPort();
    void put_SmtpSsl(bool ssl);
    bool get_SmtpSsl();
    void put_StartTLS(bool startTls);
    bool get_StartTLS();
    // Seconds; values below 1 count as 1.
    void put_ConnectTimeout(int seconds);
    int get_ConnectTimeout();
    void put_ReadTimeout(int seconds);
    int get_ReadTimeout();

    // Receives the callbacks of this object's tasks from now on; null stops
    // them.  Waits until a callback to the previous object that runs on
    // another thread has returned.  The object is not owned.
    void put_EventCallbackObject(CkBaseProgress* progress);

    // The reason of the last failure of SendEmailAsync or of Run on one of
    // this object's tasks; kept until the next failure.
    const char* lastErrorText();

    // A task that sends a copy of `email` with a copy of the current
    // settings, for the caller to Run and delete; null, with the reason in
    // lastErrorText and ERROR_INVALID_PARAMETER, when the message has no
    // recipient or an address holds a control character, a space, an angle
    // bracket or a byte outside ASCII, or is longer than 254 bytes.
    CkTask* SendEmailAsync(CkEmail& email);

private:
    std::shared_ptr<vplatform::mail::ManState> m_state;
    std::string m_lastErrorText;
    std::string m_hostText;
    std::string m_userText;
};

extern "C" {

// Sets the connect and read limits (seconds, at least 1) that new mail
// objects start with.  Any thread may call it.
VPLATFORM_API void vplatformSetMailTimeouts(int connectSeconds, int readSeconds);

// Waits until no send waits or runs (their callbacks included), up to
// `milliseconds` (INFINITE: no limit).  FALSE with WAIT_TIMEOUT when sends
// remain.
VPLATFORM_API BOOL vplatformMailDrain(DWORD milliseconds);
}
