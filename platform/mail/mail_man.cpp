// CkMailMan and CkTask: settings, checks before a send, tasks on the pool.
#include <algorithm>
#include <atomic>

#include "platform/mail/Mail.h"
#include "platform/mail/internal/SendPool.h"
#include "platform/mail/internal/State.h"

using vplatform::mail::FromUtf8;
using vplatform::mail::ManState;
using vplatform::mail::SendPool;
using vplatform::mail::TaskState;
using vplatform::mail::ToUtf8;

namespace {

std::atomic<int> g_defaultConnectTimeout{VPLATFORM_MAIL_DEFAULT_TIMEOUT};
std::atomic<int> g_defaultReadTimeout{VPLATFORM_MAIL_DEFAULT_TIMEOUT};

// Why `address` cannot be sent to, as the start of an error text; empty
// when it can.
std::string AddressError(const char* role, const std::string& address) {
    const std::string problem = vplatform::mail::AddressProblem(address);
    if (problem.empty()) return {};
    return std::string("The ") + role + " address " + problem + ".";
}

}  // namespace

CkMailMan::CkMailMan() : m_state(std::make_shared<ManState>()) {
    // The pool is made now, so that it is destroyed at exit before whatever
    // the caller made before this object (the log its callbacks write to).
    SendPool::Instance();
    m_state->context->settings.connectTimeout = g_defaultConnectTimeout.load();
    m_state->context->settings.readTimeout = g_defaultReadTimeout.load();
}

CkMailMan::~CkMailMan() {
    put_EventCallbackObject(nullptr);
}

void CkMailMan::put_Utf8(bool utf8) {
    std::lock_guard guard(m_state->lock);
    m_state->utf8 = utf8;
}

bool CkMailMan::get_Utf8() {
    std::lock_guard guard(m_state->lock);
    return m_state->utf8;
}

void CkMailMan::put_SmtpHost(const char* host) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().host = ToUtf8(host, m_state->utf8);
}

const char* CkMailMan::smtpHost() {
    std::lock_guard guard(m_state->lock);
    m_hostText = FromUtf8(m_state->Settings().host, m_state->utf8);
    return m_hostText.c_str();
}

void CkMailMan::put_SmtpUsername(const char* userName) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().user = ToUtf8(userName, m_state->utf8);
}

const char* CkMailMan::smtpUsername() {
    std::lock_guard guard(m_state->lock);
    m_userText = FromUtf8(m_state->Settings().user, m_state->utf8);
    return m_userText.c_str();
}

void CkMailMan::put_SmtpPassword(const char* password) {
    std::lock_guard guard(m_state->lock);
    std::string text = ToUtf8(password, m_state->utf8);
    m_state->Writable().password = vplatform::mail::SecretText(text);
    vplatform::mail::Wipe(text);
}

void CkMailMan::put_SmtpPort(int port) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().port = port;
}

int CkMailMan::get_SmtpPort() {
    std::lock_guard guard(m_state->lock);
    return m_state->Settings().port;
}

void CkMailMan::put_SmtpSsl(bool ssl) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().ssl = ssl;
}

bool CkMailMan::get_SmtpSsl() {
    std::lock_guard guard(m_state->lock);
    return m_state->Settings().ssl;
}

void CkMailMan::put_StartTLS(bool startTls) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().startTls = startTls;
}

bool CkMailMan::get_StartTLS() {
    std::lock_guard guard(m_state->lock);
    return m_state->Settings().startTls;
}

void CkMailMan::put_ConnectTimeout(int seconds) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().connectTimeout = std::max(seconds, 1);
}

int CkMailMan::get_ConnectTimeout() {
    std::lock_guard guard(m_state->lock);
    return m_state->Settings().connectTimeout;
}

void CkMailMan::put_ReadTimeout(int seconds) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().readTimeout = std::max(seconds, 1);
}

int CkMailMan::get_ReadTimeout() {
    std::lock_guard guard(m_state->lock);
    return m_state->Settings().readTimeout;
}

void CkMailMan::put_EventCallbackObject(CkBaseProgress* progress) {
    std::shared_ptr<vplatform::mail::CallbackSlot> callbacks;
    {
        std::lock_guard guard(m_state->lock);
        callbacks = m_state->context->callbacks;
    }
    callbacks->Set(progress);
}

const char* CkMailMan::lastErrorText() {
    std::lock_guard guard(m_state->lock);
    m_lastErrorText = FromUtf8(m_state->lastError, m_state->utf8);
    return m_lastErrorText.c_str();
}

CkTask* CkMailMan::SendEmailAsync(CkEmail& email) {
    std::shared_ptr<const vplatform::mail::RawEmail> data;
    {
        std::lock_guard guard(email.m_state->lock);
        data = email.m_state->data;
    }
    // Addresses reach SMTP commands as they are: anything that could end a
    // command or an address there is refused.  Usable addresses are ASCII,
    // the same bytes in every ANSI code page, so the text as given is checked.
    std::string error;
    if (data->to.empty()) error = "The message has no recipient.";
    if (error.empty() && !data->fromAddress.bytes.empty()) error = AddressError("sender", data->fromAddress.bytes);
    for (const auto& [name, address] : data->to) {
        if (!error.empty()) break;
        error = address.bytes.empty() ? "A recipient address is empty." : AddressError("recipient", address.bytes);
    }
    std::lock_guard guard(m_state->lock);
    if (!error.empty()) {
        m_state->lastError = error;
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto task = std::make_shared<TaskState>(std::move(data), m_state->context, m_state->utf8);
    return new CkTask(std::move(task), m_state);
}

CkTask::CkTask(std::shared_ptr<TaskState> state, std::weak_ptr<ManState> man)
    : m_state(std::move(state)), m_man(std::move(man)) {}

CkTask::~CkTask() = default;

bool CkTask::Run() {
    std::string reason;
    const DWORD error = SendPool::Instance().Submit(m_state, reason);
    if (error == ERROR_SUCCESS) return true;
    if (const auto man = m_man.lock()) {
        std::lock_guard guard(man->lock);
        man->lastError = reason;
    }
    SetLastError(error);
    return false;
}

bool CkTask::Wait(int maxWaitMs) {
    std::unique_lock lock(m_state->lock);
    if (m_state->stage == TaskState::Stage::Created) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    const auto finished = [&] { return m_state->stage == TaskState::Stage::Finished; };
    if (maxWaitMs < 0) {
        m_state->finished.wait(lock, finished);
    } else if (!m_state->finished.wait_for(lock, std::chrono::milliseconds(maxWaitMs), finished)) {
        SetLastError(WAIT_TIMEOUT);
        return false;
    }
    return true;
}

bool CkTask::Cancel() {
    return SendPool::Cancel(*m_state);
}

bool CkTask::get_Finished() {
    std::lock_guard guard(m_state->lock);
    return m_state->stage == TaskState::Stage::Finished;
}

bool CkTask::GetResultBool() {
    std::lock_guard guard(m_state->lock);
    return m_state->result;
}

const char* CkTask::resultErrorText() {
    std::lock_guard guard(m_state->lock);
    m_errorText = FromUtf8(m_state->errorText, m_state->utf8);
    return m_errorText.c_str();
}

void vplatformSetMailTimeouts(int connectSeconds, int readSeconds) {
    g_defaultConnectTimeout.store(std::max(connectSeconds, 1));
    g_defaultReadTimeout.store(std::max(readSeconds, 1));
}

BOOL vplatformMailDrain(DWORD milliseconds) {
    if (SendPool::Instance().Drain(milliseconds)) return TRUE;
    SetLastError(WAIT_TIMEOUT);
    return FALSE;
}
