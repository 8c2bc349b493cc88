// The mail manager over the platform's mail client.
#include "mail/ChilkatMailManager.h"

#include "diagnostics/Log.h"
#include "text/StringConversion.h"

struct ChilkatMailManager::ProgressImpl {
    // Writes a failed delivery to the log when a send ends.
    class MailLogProgress : public CkMailManProgress {
    public:
        void TaskCompleted(CkTask& task) override;
    };
};

// The mail object, then its callback object: the callback object goes first
// when they are destroyed.
struct ChilkatMailManager::MailObjects {
    CkMailMan mailMan;
    ProgressImpl::MailLogProgress progress;

    MailObjects() { mailMan.put_EventCallbackObject(&progress); }
    // The mail object may be calling the callback object on a worker thread:
    // detaching it waits for that call, so nothing reaches it once it is
    // being destroyed.
    ~MailObjects() { mailMan.put_EventCallbackObject(nullptr); }
};

void ChilkatMailManager::ProgressImpl::MailLogProgress::TaskCompleted(CkTask& task) {
    if (task.GetResultBool()) return;
    VTools::Log::Instance().Write("ChilkatMailManager::ProgressImpl::MailLogProgress::TaskCompleted", __LINE__,
                                  VTools::String::Utf8ToAnsi("Wysłanie maila nie powiodło się. Sprawdź połączenie "
                                                             "z internetem lub konfigurację serwera."));
}

ChilkatMailManager::ChilkatMailManager() {
    // The log is created before the mail client, so it is destroyed after
    // the mail client's workers have stopped at process exit.
    VTools::Log::Instance();
    m_mail = std::make_unique<MailObjects>();
}

ChilkatMailManager::~ChilkatMailManager() = default;

void ChilkatMailManager::SetupSender(const ChilkatMailSettingsDefine& settings) {
    CkMailMan& mailMan = m_mail->mailMan;
    mailMan.put_SmtpHost(settings.host.c_str());
    mailMan.put_SmtpUsername(settings.userName.c_str());
    mailMan.put_SmtpPassword(settings.password.c_str());
    mailMan.put_SmtpPort(settings.port);
    mailMan.put_SmtpSsl(settings.security == 1);
    mailMan.put_StartTLS(settings.security == 2);
    m_senderAddress = settings.userName;
    settings.applied = true;
}

void ChilkatMailManager::CreateCkEmail(const ChilkatMailDefine& mail, CkEmail& email) {
    email.put_FromAddress(m_senderAddress.c_str());
    email.put_FromName(mail.senderName.c_str());
    email.AddTo("", mail.recipient.c_str());
    email.put_Subject(mail.subject.c_str());
    email.put_Body(mail.body.c_str());
    for (const std::string& path : mail.attachments) {
        if (email.AddFileAttachment(path.c_str())) continue;
        // The message goes without the file; the log says which one.
        std::string message = VTools::String::Utf8ToAnsi("Nie można dołączyć załącznika: ");
        message += path;
        VTools::Log::Instance().Write("ChilkatMailManager::CreateCkEmail", __LINE__, message);
    }
}

bool ChilkatMailManager::SendEmailAsync(const ChilkatMailDefine& mail) {
    CkEmail email;
    CreateCkEmail(mail, email);
    CkMailMan& mailMan = m_mail->mailMan;
    CkTask* task = mailMan.SendEmailAsync(email);
    if (task == nullptr) {
        m_lastError = mailMan.lastErrorText();
        return false;
    }
    // A task that does not start is as good as none: its reason is the mail
    // object's last error.
    const bool started = task->Run();
    delete task;
    if (!started) m_lastError = mailMan.lastErrorText();
    return started;
}

const std::string& ChilkatMailManager::GetLastError() const {
    return m_lastError;
}
