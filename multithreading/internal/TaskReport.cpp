#include "multithreading/internal/TaskReport.h"

#include <exception>

#include "multithreading/internal/Hooks.h"
#include "platform/mfc/AfxException.h"
#include "text/StringConversion.h"

namespace Multithreading::internal {

namespace {
// Text as printf's "%s" takes it: up to its first NUL.
std::string_view CText(const char* text) {
    return text == nullptr ? std::string_view() : std::string_view(text);
}

// The text of a caught MFC exception, which is released with its Delete
// (freed only when marked for automatic deletion) also when describing it
// fails.
std::string DescribeAndRelease(CException* exception) {
    struct Release {
        CException* exception;
        ~Release() {
            if (exception != nullptr) exception->Delete();
        }
    } release{exception};
    return DescribeException(exception);
}
}  // namespace

void ReportCurrentException(const Reporter& reporter, const std::string& name) noexcept {
    try {
        std::string message = reporter.kind;
        message += ": ";
        message += CText(name.c_str());
        try {
            throw;
        } catch (const std::exception& e) {
            message.append(", MESSAGE: ").append(CText(e.what())).append(": ");
        } catch (CException* e) {
            const std::string text = DescribeAndRelease(e);
            message.append(", MESSAGE: ").append(CText(text.c_str())).append(": ");
        } catch (...) {
            message += VTools::String::Utf8ToAnsi("; MESSAGE: Nieznany Wyj\xC4\x85tek; ");
        }
        WriteReport(reporter.function, reporter.line, message);
    } catch (...) {
        // The report itself failed (allocation, conversion): nothing more to do.
    }
}

}  // namespace Multithreading::internal
