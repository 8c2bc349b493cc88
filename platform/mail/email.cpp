// CkEmail: a message held as UTF-8 and composed on demand.
#include <climits>

#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/mail/Mail.h"
#include "platform/mail/internal/State.h"
#include "platform/nls/CodePage.h"

namespace vplatform::mail {
namespace {

// Attachments are read in pieces of this size.
constexpr DWORD kReadPiece = 1 << 20;

// The whole file at `path` (UTF-8, Windows form); false with the last error.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::wstring wide;
    if (!path.empty() && path.size() < INT_MAX) {
        const int size = static_cast<int>(path.size());
        wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, path.data(), size, nullptr, 0)));
        MultiByteToWideChar(CP_UTF8, 0, path.data(), size, wide.data(), static_cast<int>(wide.size()));
    }
    if (wide.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (;;) {
        const std::size_t at = bytes.size();
        bytes.resize(at + kReadPiece);
        DWORD read = 0;
        ok = ReadFile(file, bytes.data() + at, kReadPiece, &read, nullptr) != FALSE;
        bytes.resize(at + read);
        if (!ok || read == 0) break;
    }
    const DWORD error = GetLastError();
    CloseHandle(file);
    bytes.shrink_to_fit();
    if (!ok) SetLastError(error);
    return ok;
}

}  // namespace

EmailData Decode(const RawEmail& raw) {
    EmailData email;
    email.from = {ToUtf8(raw.fromName), ToUtf8(raw.fromAddress)};
    email.to.reserve(raw.to.size());
    for (const auto& [name, address] : raw.to) email.to.push_back({ToUtf8(name), ToUtf8(address)});
    email.subject = ToUtf8(raw.subject);
    email.body = ToUtf8(raw.body);
    email.attachments = raw.attachments;
    email.boundary = ToUtf8(raw.boundary);
    email.date = ToUtf8(raw.date);
    email.messageId = ToUtf8(raw.messageId);
    return email;
}

}  // namespace vplatform::mail

using vplatform::mail::EmailState;
using vplatform::mail::FromUtf8;
using vplatform::mail::Narrow;
using vplatform::mail::NarrowText;
using vplatform::mail::Shown;
using vplatform::mail::ToUtf8;

CkEmail::CkEmail() : m_state(std::make_shared<EmailState>()) {
    m_state->data = std::shared_ptr<vplatform::mail::RawEmail>(m_state, &m_state->initial);
}

CkEmail::~CkEmail() {
    std::shared_ptr<vplatform::mail::RawEmail> data;
    std::lock_guard guard(m_state->lock);
    data.swap(m_state->data);
}

void CkEmail::put_Utf8(bool utf8) {
    std::lock_guard guard(m_state->lock);
    m_state->utf8 = utf8;
}

bool CkEmail::get_Utf8() {
    std::lock_guard guard(m_state->lock);
    return m_state->utf8;
}

namespace {

// Stores `text` in the getter's buffer in the object's narrow form.
const char* Result(EmailState& state, EmailState::Result which, const NarrowText& text) {
    std::string& result = state.ResultBuffer(which);
    result = Shown(text, state.utf8);
    return result.c_str();
}

const char* Result(EmailState& state, EmailState::Result which, std::string_view utf8Text) {
    std::string& result = state.ResultBuffer(which);
    result = FromUtf8(utf8Text, state.utf8);
    return result.c_str();
}

const NarrowText kNoText;

}  // namespace

void CkEmail::put_FromAddress(const char* address) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().fromAddress = Narrow(address, m_state->utf8);
}

const char* CkEmail::fromAddress() {
    std::lock_guard guard(m_state->lock);
    return Result(*m_state, EmailState::kFromAddress, m_state->data->fromAddress);
}

void CkEmail::put_FromName(const char* name) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().fromName = Narrow(name, m_state->utf8);
}

const char* CkEmail::fromName() {
    std::lock_guard guard(m_state->lock);
    return Result(*m_state, EmailState::kFromName, m_state->data->fromName);
}

bool CkEmail::AddTo(const char* name, const char* address) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().to.emplace_back(Narrow(name, m_state->utf8), Narrow(address, m_state->utf8));
    return true;
}

int CkEmail::get_NumTo() {
    std::lock_guard guard(m_state->lock);
    return static_cast<int>(m_state->data->to.size());
}

const char* CkEmail::getToAddr(int index) {
    std::lock_guard guard(m_state->lock);
    const auto& to = m_state->data->to;
    const bool valid = index >= 0 && static_cast<std::size_t>(index) < to.size();
    return Result(*m_state, EmailState::kToAddress, valid ? to[static_cast<std::size_t>(index)].second : kNoText);
}

const char* CkEmail::getToName(int index) {
    std::lock_guard guard(m_state->lock);
    const auto& to = m_state->data->to;
    const bool valid = index >= 0 && static_cast<std::size_t>(index) < to.size();
    return Result(*m_state, EmailState::kToName, valid ? to[static_cast<std::size_t>(index)].first : kNoText);
}

void CkEmail::ClearTo() {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().to.clear();
}

void CkEmail::put_Subject(const char* subject) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().subject = Narrow(subject, m_state->utf8);
}

const char* CkEmail::subject() {
    std::lock_guard guard(m_state->lock);
    return Result(*m_state, EmailState::kSubject, m_state->data->subject);
}

void CkEmail::put_Body(const char* body) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().body = Narrow(body, m_state->utf8);
}

const char* CkEmail::body() {
    std::lock_guard guard(m_state->lock);
    return Result(*m_state, EmailState::kBody, m_state->data->body);
}

bool CkEmail::AddFileAttachment(const char* path) {
    bool utf8;
    {
        std::lock_guard guard(m_state->lock);
        utf8 = m_state->utf8;
    }
    // The file is read outside the lock: the object stays usable meanwhile.
    const std::string utf8Path = ToUtf8(path, utf8);
    auto bytes = std::make_shared<std::string>();
    if (!vplatform::mail::ReadWholeFile(utf8Path, *bytes)) return false;
    std::lock_guard guard(m_state->lock);
    m_state->Writable().attachments.push_back({vplatform::mail::FileNameOfPath(utf8Path), std::move(bytes)});
    return true;
}

int CkEmail::get_NumAttachments() {
    std::lock_guard guard(m_state->lock);
    return static_cast<int>(m_state->data->attachments.size());
}

const char* CkEmail::getAttachmentFilename(int index) {
    std::lock_guard guard(m_state->lock);
    const auto& attachments = m_state->data->attachments;
    const bool valid = index >= 0 && static_cast<std::size_t>(index) < attachments.size();
    return Result(*m_state, EmailState::kAttachmentName,
                  std::string_view(valid ? attachments[static_cast<std::size_t>(index)].fileName : ""));
}

void CkEmail::put_Boundary(const char* boundary) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().boundary = Narrow(boundary, m_state->utf8);
}

void CkEmail::put_EmailDate(const char* date) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().date = Narrow(date, m_state->utf8);
}

void CkEmail::put_MessageID(const char* messageId) {
    std::lock_guard guard(m_state->lock);
    m_state->Writable().messageId = Narrow(messageId, m_state->utf8);
}

const char* CkEmail::getMime() {
    std::shared_ptr<const vplatform::mail::RawEmail> data;
    {
        std::lock_guard guard(m_state->lock);
        data = m_state->data;
    }
    std::string mime = vplatform::mail::ComposeMime(vplatform::mail::Decode(*data));
    std::lock_guard guard(m_state->lock);
    std::string& result = m_state->ResultBuffer(EmailState::kMime);
    result = std::move(mime);
    return result.c_str();
}
