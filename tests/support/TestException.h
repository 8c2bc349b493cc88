// An MFC exception for tests: describes itself with a given text and counts
// its destruction, so that tests see whether a catcher released it.
#pragma once

#include <cwchar>
#include <string>
#include <utility>

#include "platform/mfc/AfxException.h"

namespace vlibtest {

class TestMfcException : public CException {
public:
    explicit TestMfcException(std::wstring text, int* deleted = nullptr)
        : CException(TRUE), m_text(std::move(text)), m_deleted(deleted) {}
    ~TestMfcException() override {
        if (m_deleted != nullptr) ++*m_deleted;
    }
    BOOL GetErrorMessage(LPWSTR text, UINT size, PUINT) const override {
        std::wcsncpy(text, m_text.c_str(), size);
        return TRUE;
    }

private:
    std::wstring m_text;
    int* m_deleted;
};

}  // namespace vlibtest
