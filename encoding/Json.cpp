// JSON files through Boost.JSON's stream parser and serializer.
#include "encoding/Json.h"

#include <boost/json/serializer.hpp>
#include <boost/json/stream_parser.hpp>

#include "encoding/internal/FileStreamBuf.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/ReplacingFile.h"
#include "system/Path.h"

namespace VTools::Json {
namespace {

// Closes a file handle on every way out.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle() {
        if (IsOpen()) CloseHandle(m_handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Creates the folder that will hold `path`, when it names one; failures show
// up when the file itself cannot be created.
void CreateParentFolder(std::wstring_view path) {
    const std::wstring folder = VTools::Path::GetFileFolder(path);
    if (!folder.empty()) VTools::Path::CreateDirectoryIfNotExist(folder);
}

}  // namespace

JsonParser::JsonParser() : m_buffer{} {}

boost::json::value JsonParser::FromFile(std::wstring_view path) {
    const std::wstring name(path);
    const FileHandle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) return nullptr;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN)) return nullptr;

    boost::json::stream_parser parser;
    boost::system::error_code error;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), m_buffer.data(), static_cast<DWORD>(m_buffer.size()), &read, nullptr)) {
            return nullptr;
        }
        parser.write(m_buffer.data(), read, error);
        if (error) return nullptr;
        if (read < m_buffer.size()) break;
    }
    parser.finish(error);
    if (error) return nullptr;
    return parser.release();
}

JsonSerializer::JsonSerializer() : m_buffer{} {}

bool JsonSerializer::Save(std::wstring_view path, const boost::json::value& value) {
    return SaveToFile(path, value);
}

bool JsonSerializer::SaveToFile(std::wstring_view path, const boost::json::value& value) {
    if (path.empty()) return false;
    CreateParentFolder(path);
    vplatform::ReplacingFileWriter writer;
    if (writer.Open(path) != ERROR_SUCCESS) return false;
    {
        EncodingInternal::ReplacingWriterBuf buffer(writer);
        std::ostream stream(&buffer);
        SaveToStream(value, stream);
        if (!stream) return false;
    }
    return writer.Commit() == ERROR_SUCCESS;
}

void JsonSerializer::SaveToStream(const boost::json::value& value, std::ostream& stream) {
    boost::json::serializer serializer;
    serializer.reset(&value);
    while (!serializer.done() && stream) {
        stream << std::string_view(serializer.read(m_buffer.data(), m_buffer.size()));
    }
}

std::string JsonSerializer::SerializeToString(const boost::json::object& object) {
    boost::json::serializer serializer;
    serializer.reset(&object);
    std::string text;
    while (!serializer.done()) text += std::string_view(serializer.read(m_buffer.data(), m_buffer.size()));
    return text;
}

}  // namespace VTools::Json
