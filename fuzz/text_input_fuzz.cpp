// Feeds arbitrary text to the parsers of user input: number reading, the
// validators, Base64 decoding and the digit-text scrambler.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "encoding/SimpleCrypt.h"
#include "text/StringConversion.h"
#include "text/StringUtils.h"
#include "text/Validators.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring wide = VTools::String::Utf8ToWide(bytes);

    VTools::String::ToDouble(wide);
    VTools::String::ParsePrecision(wide);
    NumericStringValidator validator;
    validator.SetMinimum(-1000);
    validator.SetMaximum(1000);
    validator.ValidateValue(wide);

    std::string decoded;
    VTools::String::DecodeBase64(bytes, decoded);

    // Any narrow text survives the scrambler.
    if (SimpleCrypt::Decrypt(SimpleCrypt::Crypt(bytes)) != bytes) std::abort();
    if (SimpleCrypt::Decrypt(SimpleCrypt::Crypt(std::wstring_view(wide))) != wide) std::abort();
    SimpleCrypt::Decrypt(bytes);
    SimpleCrypt::Decrypt(std::wstring_view(wide));
    return 0;
}
