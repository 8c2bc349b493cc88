// Data encoding and crypto: SHA-256, JSON files, MFC archives as hex text
// and GUIDs.
#include <VLibIncludes.h>

#include <boost/json/serialize.hpp>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

int main() {
    const std::string text = "WIG20;2345,67";
    const auto digest = VTools::Encryption::Sha::EncryptionProvider::EncryptSHA256(
        gsl::span<const std::byte>(reinterpret_cast<const std::byte*>(text.data()), text.size()));
    std::cout << "SHA-256: ";
    for (const unsigned char byte : digest) std::printf("%02x", byte);
    std::cout << "\n";

    // JSON files, written whole by replacement (a reader never sees half).
    const auto file = std::filesystem::temp_directory_path() / "vlib-example-quote.json";
    const std::wstring path = VTools::String::Utf8ToWide(file.string());
    const boost::json::object quote{{"symbol", "WIG20"}, {"price", 2345.67}};
    VTools::Json::JsonSerializer serializer;
    if (!serializer.Save(path, quote)) return 1;
    const boost::json::value loaded = VTools::Json::JsonParser().FromFile(path);
    std::cout << "JSON read back: " << boost::json::serialize(loaded) << "\n";
    std::filesystem::remove(file);

    // An MFC archive carried as hex text.
    BinaryStringSerializer store;
    store.GetArchive() << 42 << CString(L"WIG20");
    std::cout << "archive as text: " << store.GetString() << "\n";

    Guid id;
    if (id.Create()) std::cout << "new GUID: " << VTools::String::WideToUtf8(id.Convert()) << "\n";
}
