// Windows error codes as std::error_code: the system's texts and the std::errc
// conditions they compare equal to.
#include "platform/kernel/ErrorCategory.h"

#include <gtest/gtest.h>

#include "platform/kernel/WinError.h"

namespace {

TEST(ErrorCategory, CodesCompareEqualToTheirPortableConditionsAndCarryTheSystemsText) {
    struct Case {
        DWORD code;
        std::errc condition;
        const char* text;
    };
    const Case cases[] = {
        {ERROR_FILE_NOT_FOUND, std::errc::no_such_file_or_directory, "The system cannot find the file specified."},
        {ERROR_PATH_NOT_FOUND, std::errc::no_such_file_or_directory, "The system cannot find the path specified."},
        {ERROR_ACCESS_DENIED, std::errc::permission_denied, "Access is denied."},
        {ERROR_ALREADY_EXISTS, std::errc::file_exists, "Cannot create a file when that file already exists."},
        {ERROR_DISK_FULL, std::errc::no_space_on_device, "There is not enough space on the disk."},
        {ERROR_SHARING_VIOLATION, std::errc::device_or_resource_busy,
         "The process cannot access the file because it is being used by another process."},
        {ERROR_INVALID_NAME, std::errc::invalid_argument,
         "The filename, directory name, or volume label syntax is incorrect."},
    };
    for (const Case& c : cases) {
        const std::error_code code = vplatform::MakeWin32Error(c.code);
        EXPECT_EQ(code, c.condition) << c.code;
        EXPECT_NE(code, std::errc::io_error) << c.code;
        EXPECT_EQ(code.message(), c.text);
        EXPECT_STREQ(code.category().name(), "win32");
    }
    // A code without a portable meaning or a text.
    const std::error_code unknown = vplatform::MakeWin32Error(0x2468);
    EXPECT_EQ(unknown.default_error_condition().category(), vplatform::Win32Category());
    EXPECT_EQ(unknown.message(), "Unknown error 0x00002468");
    EXPECT_NE(unknown, vplatform::MakeWin32Error(ERROR_FILE_NOT_FOUND));
}

}  // namespace
