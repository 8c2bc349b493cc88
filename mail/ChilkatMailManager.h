// Sending e-mail in the background through the platform's mail client.
//
// Construct the manager, call SetupSender with the SMTP settings, then
// SendEmailAsync for each message.  SendEmailAsync returns as soon as the
// message is queued; the send runs on the mail client's worker threads, and
// a failed delivery is written to the log (VTools::Log) as one entry,
// "Wysłanie maila nie powiodło się. Sprawdź połączenie z internetem lub
// konfigurację serwera.", when the send ends.  A message that cannot be
// queued makes SendEmailAsync return false, with the reason in GetLastError.
//
// Log-in in clear text: with security 0 (neither TLS nor STARTTLS) and a
// user name, a server that offers AUTH without TLS receives the user name and
// password unencrypted.  This is kept for local relays; any other server
// should be reached with security 1 or 2.
//
// Process exit: sends still waiting for a worker when the process ends are
// dropped without a completion (and so without a log entry); running ones
// get a short grace and are then aborted (platform/mail/Mail.h).
//
// Texts are narrow in the ANSI code page and handed to the mail client as
// they are; log messages are in the ANSI code page too.
//
// Threads: SetupSender, SendEmailAsync and GetLastError are called from the
// owner's thread; the manager takes no lock of its own.  Destroying it
// unregisters its completion callback first (waiting for one in progress),
// so a send that ends afterwards logs nothing; the sends themselves go on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VLibExport.h"
#include "platform/mail/Mail.h"

// The SMTP settings, filled by the caller (positional braces follow the
// member order).
struct ChilkatMailSettingsDefine {
    std::string host;
    // The log-in name, which is also the sender address of every message.
    std::string userName;
    std::string password;
    std::int32_t port = 0;
    // Free text for the caller (a description of the account); not read.
    std::string comment;
    // 1: TLS from the start of the connection; 2: STARTTLS; else neither.
    std::int32_t security = 0;
    // Set by SetupSender.
    mutable bool applied = false;
};

// One message.
struct ChilkatMailDefine {
    std::string senderName;
    std::string recipient;
    std::string subject;
    // Plain text, or HTML when it contains "<html".
    std::string body;
    // Full paths of files to attach, in order.
    std::vector<std::string> attachments;
};

class VLIB_API ChilkatMailManager {
public:
    // Creates the log (so that it outlives the mail client's workers), the
    // mail object and its completion callback.
    ChilkatMailManager();
    ~ChilkatMailManager();
    ChilkatMailManager(const ChilkatMailManager&) = delete;
    ChilkatMailManager& operator=(const ChilkatMailManager&) = delete;

    // Hands the settings to the mail object (nothing is checked: a wrong
    // host shows when a message is sent), keeps the user name as the sender
    // address and sets `settings.applied`.
    void SetupSender(const ChilkatMailSettingsDefine& settings);
    // Queues `mail`.  False, with the reason in GetLastError, when the mail
    // client refuses it: no usable recipient or sender address (a control
    // character, a space or an angle bracket in it), a full queue, a process
    // that is ending.  An attachment that cannot be read is left out, and
    // written to the log as "Nie można dołączyć załącznika: " and its path.
    bool SendEmailAsync(const ChilkatMailDefine& mail);
    // The reason of the last refusal; empty until then, never cleared.
    const std::string& GetLastError() const;

protected:
    // Fills `email` from `mail`: sender, one recipient, subject, body and
    // the readable attachments.
    void CreateCkEmail(const ChilkatMailDefine& mail, CkEmail& email);

private:
    struct ProgressImpl;
    struct MailObjects;

    std::string m_lastError;
    std::string m_senderAddress;
    std::unique_ptr<MailObjects> m_mail;
};
