// vtools inflate / guid / sha1 / sha256 / rsa: the data utilities of the
// encoding folder on files and standard input.
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include <VLibIncludes.h>

#include "Command.h"
#include "encoding/BinaryStringSerializer.h"
#include "encoding/Guid.h"
#include "encoding/Rsa.h"
#include "encoding/Sha.h"
#include "encoding/ZipCompressor.h"

namespace vtools {
namespace {

// The lowercase hex text of a digest, as sha256sum prints it.
std::string LowerHex(const std::vector<unsigned char>& bytes) {
    return BinaryStringSerializer::ConvertBinToText(bytes.data(), bytes.size());
}

gsl::span<const std::byte> AsBytes(const std::string& bytes) {
    return gsl::as_bytes(gsl::span<const char>(bytes.data(), bytes.size()));
}

const std::string& OneArgument(const std::vector<std::string>& args, const char* what) {
    if (args.size() != 1) throw UsageError(std::string("expected ") + what);
    if (args[0].starts_with("--")) throw UsageError("unknown option '" + args[0] + "'");
    return args[0];
}

std::string Expand(const std::string& compressed, bool& complete) {
    std::vector<char> input(compressed.begin(), compressed.end()), output;
    complete = VTools::ZipCompressor().Inflate(input, output);
    return std::string(output.begin(), output.end());
}

int Inflate(const std::vector<std::string>& args) {
    bool complete = false;
    const std::string expanded = Expand(ReadInput(OneArgument(args, "one FILE (or - for standard input)")), complete);
    if (!complete) throw InputError("not a complete zlib stream");
    WriteOutput(expanded);
    return 0;
}

int Digest(const std::vector<std::string>& args, bool sha256) {
    const std::string& file = OneArgument(args, "one FILE (or - for standard input)");
    const std::string data = ReadInput(file);
    const auto digest = sha256 ? VTools::Encryption::Sha::EncryptionProvider::EncryptSHA256(AsBytes(data))
                               : VTools::Encryption::Sha::EncryptionProvider::EncryptSHA1(AsBytes(data));
    WriteOutput(LowerHex(digest) + "  " + file + "\n");
    return 0;
}

int GuidCommand(const std::vector<std::string>& args) {
    if (args.empty() || (args.size() == 1 && args[0] == "new")) {
        Guid guid;
        if (!guid.Create()) throw InputError("no globally unique GUID could be made");
        WriteOutput(ToTerminal(guid.Convert()) + "\n");
        return 0;
    }
    if (args.size() == 2 && args[0] == "parse") {
        const std::wstring text = FromTerminal(args[1]);
        const Guid guid(text);
        // Bad text gives the all-zero GUID: that is a result only for its own text.
        std::wstring bare = text;
        std::erase_if(bare, [](wchar_t c) { return c == L'{' || c == L'}'; });
        if (guid == Guid() && bare != L"00000000-0000-0000-0000-000000000000") {
            throw InputError("not a GUID: '" + args[1] + "'");
        }
        WriteOutput(ToTerminal(guid.Convert()) + "\n");
        return 0;
    }
    throw UsageError("expected 'new' or 'parse TEXT'");
}

// The Base64 body of a PEM file: every line that is not a marker line.
std::vector<std::byte> PemBody(const std::string& file) {
    const std::string pem = ReadInput(file);
    if (pem.find("-----BEGIN") == std::string::npos) throw InputError(file + " is not a PEM file");
    std::vector<std::byte> body;
    std::size_t start = 0;
    while (start < pem.size()) {
        std::size_t end = pem.find('\n', start);
        if (end == std::string::npos) end = pem.size();
        if (pem.compare(start, 5, "-----") != 0) {
            for (std::size_t i = start; i < end; ++i) body.push_back(static_cast<std::byte>(pem[i]));
        }
        start = end + 1;
    }
    return body;
}

int RsaCommand(const std::vector<std::string>& args) {
    std::string mode, key;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--key" && i + 1 < args.size()) {
            key = args[++i];
        } else if (mode.empty() && (args[i] == "encrypt" || args[i] == "decrypt")) {
            mode = args[i];
        } else {
            throw UsageError("unexpected argument '" + args[i] + "'");
        }
    }
    if (mode.empty() || key.empty()) throw UsageError("expected encrypt|decrypt --key FILE");
    const std::vector<std::byte> body = PemBody(key), none;
    const std::string input = ReadInput("-");
    if (mode == "encrypt") {
        const VTools::Encryption::Rsa::RsaWrapper rsa(body, none);
        const std::string digits = rsa.EncryptAndHash(input);
        if (digits.empty()) throw InputError(input.empty() ? "nothing to encrypt" : "the key cannot encrypt");
        WriteOutput(digits + "\n");
    } else {
        std::string digits = input;
        while (!digits.empty() && (digits.back() == '\n' || digits.back() == '\r')) digits.pop_back();
        const VTools::Encryption::Rsa::RsaWrapper rsa(none, body);
        const std::string plaintext = rsa.DecryptFromHash(digits);
        if (plaintext.empty()) throw InputError("the digit text does not decrypt with this key");
        WriteOutput(plaintext);
    }
    return 0;
}

void Demo(std::ostream& out) {
    out << "== encoding: digests, GUIDs, inflate\n";
    const std::string text = "kurs WIG20";
    out << "  sha256              " << text << " -> "
        << LowerHex(VTools::Encryption::Sha::EncryptionProvider::EncryptSHA256(AsBytes(text))) << "\n";
    const Guid guid(std::wstring(L"6b29fc40-ca47-1067-b31d-00c04fb4a9bf"));
    out << "  guid parse          6b29fc40-ca47-1067-b31d-00c04fb4a9bf -> " << ToTerminal(guid.Convert()) << "\n";
    const std::string hello("\x78\x9c\xcb\x48\xcd\xc9\xc9\x07\x00\x06\x2c\x02\x15", 13);
    bool complete = false;
    const std::string expanded = Expand(hello, complete);
    out << "  inflate             " << Hex(hello) << " -> " << expanded << (complete ? "" : " (incomplete)") << "\n";
}

const DemoRegistration demoSection(70, Demo);

const Registration inflate{{
    "inflate",
    "expand a zlib stream",
    "usage: vtools inflate FILE\n\n"
    "Writes the bytes that the zlib stream in FILE (- for standard input) expands\n"
    "to.  Exits with status 1 for data that is not a complete zlib stream.\n",
    Inflate,
}};

const Registration guid{{
    "guid",
    "make a new GUID or write one in canonical form",
    "usage: vtools guid [new]\n       vtools guid parse TEXT\n\n"
    "new (the default) writes a new random GUID; parse writes TEXT as\n"
    "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, or exits with status 1 when TEXT is\n"
    "not a GUID.\n",
    GuidCommand,
}};

const Registration sha1{{
    "sha1",
    "SHA-1 digest of a file",
    "usage: vtools sha1 FILE\n\nWrites the lower-case hexadecimal SHA-1 digest and the name (- for standard input).\n",
    [](const std::vector<std::string>& args) { return Digest(args, false); },
}};

const Registration sha256{{
    "sha256",
    "SHA-256 digest of a file",
    "usage: vtools sha256 FILE\n\nWrites the lower-case hexadecimal SHA-256 digest and the name (- for standard "
    "input).\n",
    [](const std::vector<std::string>& args) { return Digest(args, true); },
}};

const Registration rsa{{
    "rsa",
    "RSA-encrypt standard input to digits, or decrypt digits",
    "usage: vtools rsa encrypt --key PUBLIC.pem\n       vtools rsa decrypt --key PRIVATE.pem\n\n"
    "encrypt reads standard input and writes its ciphertext as a digit text (three\n"
    "digits per byte); PUBLIC.pem is a PEM public key.  decrypt reads the digit text\n"
    "and writes the plaintext; PRIVATE.pem is a PKCS #1 \"RSA PRIVATE KEY\" PEM file.\n"
    "Exits with status 1 when the key or the digits do not work.\n",
    RsaCommand,
}};

}  // namespace
}  // namespace vtools
