// Windows error codes as std::error_code: the std::errc conditions they
// compare equal to, and the system's texts.
#include "platform/kernel/ErrorCategory.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/WinError.h"

namespace {

TEST(ErrorCategory, CodesCompareEqualToTheirPortableConditionsAndCarryTheSystemsText) {
    const std::pair<DWORD, std::errc> cases[] = {
        {ERROR_FILE_NOT_FOUND, std::errc::no_such_file_or_directory},
        {ERROR_PATH_NOT_FOUND, std::errc::no_such_file_or_directory},
        {ERROR_ACCESS_DENIED, std::errc::permission_denied},
        {ERROR_ALREADY_EXISTS, std::errc::file_exists},
        {ERROR_DISK_FULL, std::errc::no_space_on_device},
        {ERROR_SHARING_VIOLATION, std::errc::device_or_resource_busy},
        {ERROR_INVALID_NAME, std::errc::invalid_argument},
    };
    for (const auto& [code, condition] : cases) EXPECT_EQ(vplatform::MakeWin32Error(code), condition) << code;
    EXPECT_EQ(vplatform::MakeWin32Error(ERROR_SHARING_VIOLATION).message(),
              "The process cannot access the file because it is being used by another process.");
    // A code without a portable meaning or a text.
    const std::error_code unknown = vplatform::MakeWin32Error(0x2468);
    EXPECT_EQ(unknown.default_error_condition().category(), vplatform::Win32Category());
    EXPECT_EQ(unknown.message(), "Unknown error 0x00002468");
    EXPECT_NE(unknown, vplatform::MakeWin32Error(ERROR_FILE_NOT_FOUND));
}

}  // namespace
