// A Windows GUID as a value: comparison, creation of a new random value and
// conversion to and from the text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
//
// The default value is the all-zero GUID.  Ordering (operator<, Compare)
// compares the 16 stored bytes one by one, so it follows the little-endian
// memory form of Data1..Data3, not the order of the text form.
//
// Failure: conversions never throw (except on allocation failure): text that
// is not a GUID gives the all-zero GUID and a failed formatting an empty text.
//
// Threads: a value class: one object is used by one thread at a time (or read by
// several); Create may be called on different objects from any threads at
// once.
#pragma once

#include <string>

#include "VLibExport.h"
#include "platform/WinTypes.h"

class VLIB_API Guid {
public:
    Guid();
    Guid(const GUID& guid);
    Guid(const Guid& other);
    // The GUID that Convert(text) gives.
    Guid(const std::wstring& text);
    Guid& operator=(const GUID& guid);
    Guid& operator=(const Guid& other);
    Guid& operator=(const std::wstring& text);

    // Fills the GUID with a new random value (UuidCreate).  True only when the
    // value is globally unique; a value unique only on this computer is kept
    // but reported as false.
    bool Create();

    bool operator==(const Guid& other) const;
    bool operator==(const GUID& other) const;
    bool operator!=(const Guid& other) const;
    bool operator!=(const GUID& other) const;
    bool operator<(const Guid& other) const;
    bool operator<(const GUID& other) const;
    // Negative, 0 or positive as the stored bytes compare with `other`'s.
    int Compare(const GUID& other) const;

    // The upper-case text in braces (38 characters); empty if formatting fails.
    std::wstring Convert() const;
    operator std::wstring() const;

    // Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in either letter case,
    // with any "{" and "}" characters removed first; the all-zero GUID for a
    // text shorter than 36 characters or one that does not parse.
    static GUID Convert(const std::wstring& text);

private:
    void Copy(const Guid& other);
    void Copy(const GUID& other);

    GUID m_guid;
};
