// The state behind the mail client's public objects, shared with the tasks
// and the send pool.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mail/Mail.h"
#include "platform/mail/internal/Mime.h"
#include "platform/mail/internal/Text.h"

namespace vplatform::mail {

class SmtpSession;

// The settings of one send.  Immutable once a task holds them: the mail
// object copies them before a change while a task shares them.
struct SmtpSettings {
    std::string host;  // UTF-8
    std::string user;  // UTF-8
    SecretText password;
    int port = 0;
    bool ssl = false;
    bool startTls = false;
    int connectTimeout = VPLATFORM_MAIL_DEFAULT_TIMEOUT;
    int readTimeout = VPLATFORM_MAIL_DEFAULT_TIMEOUT;

    // True when a session made with `other` can serve a send with these.
    bool SameSession(const SmtpSettings& other) const {
        return host == other.host && user == other.user && password == other.password && port == other.port &&
               ssl == other.ssl && startTls == other.startTls && connectTimeout == other.connectTimeout &&
               readTimeout == other.readTimeout;
    }
};

// The registration of one callback object with one mail object.  Workers
// call through it; setting or forgetting the object waits for calls in
// progress on other threads, so no call reaches an object after it has been
// unregistered.
class CallbackSlot : public std::enable_shared_from_this<CallbackSlot> {
public:
    CallbackSlot() = default;
    CallbackSlot(const CallbackSlot&) = delete;
    CallbackSlot& operator=(const CallbackSlot&) = delete;

    // Makes `progress` (may be null) the object called from now on.
    void Set(CkBaseProgress* progress);
    // Unregisters `progress` if it is the object called (its destructor).
    void Forget(CkBaseProgress* progress);

    // Calls the registered object's callbacks; what they throw is caught.
    bool AbortCheck();
    bool PercentDone(int percent);
    void ProgressInfo(const char* name, const char* value);
    void TaskCompleted(const std::shared_ptr<TaskState>& task);

    // The progress objects' side of the registrations.
    static void ForgetEverywhere(CkBaseProgress* progress);

private:
    template <class Call>
    bool Invoke(Call call);
    // Waits until no call runs on another thread; `lock` holds m_lock.
    void WaitForOtherThreads(std::unique_lock<std::mutex>& lock);

    std::mutex m_lock;
    std::condition_variable m_idle;
    CkBaseProgress* m_target = nullptr;
    int m_active = 0;
};

// The mail objects a progress object is registered with.
struct ProgressState {
    std::mutex lock;
    std::vector<std::weak_ptr<CallbackSlot>> slots;
};

// A message as the caller built it: its texts as given, converted to UTF-8
// when the message is composed (on a worker when it is sent).
struct RawEmail {
    NarrowText fromAddress, fromName, subject, body, boundary, date, messageId;
    std::vector<std::pair<NarrowText, NarrowText>> to;  // display name, address
    std::vector<Attachment> attachments;                // file names in UTF-8
};

// The message in UTF-8, for the composer and the SMTP envelope.
EmailData Decode(const RawEmail& raw);

struct EmailState {
    std::mutex lock;
    bool utf8 = false;
    // The message as first built, in the same allocation as this state.
    RawEmail initial;
    // The message, shared with the tasks made from it: `initial` (through
    // this state's own block, which the CkEmail also owns) until it is
    // changed while shared, then a copy of its own.  The CkEmail resets it
    // when destroyed, so that the block does not own itself.
    std::shared_ptr<RawEmail> data;

    enum Result { kFromAddress, kFromName, kToAddress, kToName, kSubject, kBody, kAttachmentName, kMime, kResults };
    // The getters' buffers, made on first use.
    std::unique_ptr<std::array<std::string, kResults>> results;

    RawEmail& Writable() {
        const long owners = data.use_count() - (data.get() == &initial ? 1 : 0);
        if (owners > 1) data = std::make_shared<RawEmail>(*data);
        return *data;
    }
    std::string& ResultBuffer(Result which) {
        if (!results) results = std::make_unique<std::array<std::string, kResults>>();
        return (*results)[which];
    }
};

// What a task takes from its mail object besides the message, in one block
// so that making a task touches one shared count: the settings and the
// mail object's callback registration.
struct SendContext {
    SmtpSettings settings;
    std::shared_ptr<CallbackSlot> callbacks = std::make_shared<CallbackSlot>();
};

struct ManState {
    std::mutex lock;
    bool utf8 = false;
    // Shared with the tasks; copied before a change while shared.
    std::shared_ptr<SendContext> context = std::make_shared<SendContext>();
    std::string lastError;  // UTF-8

    SmtpSettings& Writable() {
        if (context.use_count() > 1) context = std::make_shared<SendContext>(*context);
        return context->settings;
    }
    const SmtpSettings& Settings() const { return context->settings; }
};

// One background send.
struct TaskState {
    enum class Stage { Created, Waiting, Running, Finished };

    std::mutex lock;
    std::condition_variable finished;
    Stage stage = Stage::Created;
    bool result = false;
    std::string errorText;  // UTF-8
    bool utf8 = false;
    std::shared_ptr<const RawEmail> email;
    // The settings (released with the message when the task ends) and the
    // callback registration.
    std::shared_ptr<const SendContext> context;
    CallbackSlot* const callbacks;
    // The session running the send, for Cancel; guarded by `lock`.
    SmtpSession* session = nullptr;

    std::atomic<bool> cancelled{false};
    // Set at process exit: the send is aborted and no callback follows.
    std::atomic<bool> abandoned{false};

    TaskState(std::shared_ptr<const RawEmail> email, std::shared_ptr<const SendContext> context, bool utf8)
        : utf8(utf8), email(std::move(email)), context(std::move(context)), callbacks(this->context->callbacks.get()) {}

    // Records the end of the task and releases its copies of the message and
    // the settings (the password is wiped with the last copy); `callbacks`
    // is not to be used afterwards.
    void Finish(bool delivered, std::string error) {
        std::shared_ptr<const RawEmail> oldEmail;
        std::shared_ptr<const SendContext> oldContext;
        {
            std::lock_guard guard(lock);
            result = delivered;
            errorText = std::move(error);
            stage = Stage::Finished;
            oldEmail.swap(email);
            oldContext.swap(context);
        }
        finished.notify_all();
    }
};

}  // namespace vplatform::mail
