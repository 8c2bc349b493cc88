// The MIME composer and CkEmail: exact bytes for fixed boundary, date and
// id; python3's email package reads back what was composed; header texts
// cannot break the header structure; narrow text in the ANSI code page or
// UTF-8; attachments read at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mail/Mail.h"
#include "platform/mail/internal/Mime.h"
#include "tests/support/AcpScope.h"
#include "tests/support/FixedClock.h"
#include "tests/support/LastError.h"
#include "tests/support/MailDecode.h"
#include "tests/support/TempDir.h"

namespace {

using vplatform::mail::ComposeMime;
using vplatform::mail::EmailData;

constexpr const char* kDate = "Tue, 05 Mar 2024 14:03:07 +0100";

EmailData Message() {
    EmailData email;
    email.from = {"Jan Kowalski", "jan@example.com"};
    email.to = {{"", "anna@example.com"}};
    email.date = kDate;
    email.messageId = "1@example.com";
    email.boundary = "BOUNDARY";
    return email;
}

std::shared_ptr<const std::string> Bytes(std::string text) {
    return std::make_shared<const std::string>(std::move(text));
}

// Every line ends in CR LF and has at most 998 bytes; the header block is
// 7-bit and each of its lines starts a field or continues one.
void ExpectWellFormed(const std::string& mime) {
    ASSERT_TRUE(mime.ends_with("\r\n"));
    bool inHeaders = true;
    std::size_t at = 0;
    while (at < mime.size()) {
        const std::size_t end = mime.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = mime.substr(at, end - at);
        EXPECT_LE(line.size(), 998u);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        if (inHeaders && line.empty()) inHeaders = false;
        if (inHeaders) {
            for (const char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;
            const bool continues = line.front() == ' ' || line.front() == '\t';
            EXPECT_TRUE(continues || line.find(':') != std::string::npos) << line;
        }
        at = end + 2;
    }
}

TEST(MimeComposer, ComposesTheExactBytesOfAPlainMessage) {
    EmailData email = Message();
    email.to = {{"Anna Nowak", "anna@example.com"}, {"Smith, John", "john@example.com"}};
    email.subject = "Kursy WIG20";
    email.body = "Line one\nline two\rline three\r\n";
    EXPECT_EQ(ComposeMime(email),
              "Date: Tue, 05 Mar 2024 14:03:07 +0100\r\n"
              "From: Jan Kowalski <jan@example.com>\r\n"
              "To: Anna Nowak <anna@example.com>, \"Smith, John\" <john@example.com>\r\n"
              "Subject: Kursy WIG20\r\n"
              "Message-ID: <1@example.com>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "Line one\r\nline two\r\nline three\r\n");
}

TEST(MimeComposer, ComposesTheExactBytesOfAPolishMessageWithAnAttachment) {
    EmailData email = Message();
    email.from.name = "Zażółć Gęślą Jaźń";
    email.subject = "Notowania: zażółć gęślą jaźń — raport dzienny z sesji giełdowej na dziś";
    email.body = "<HTML><body>Kurs: 2345,67 zł</body></html>";
    email.attachments = {{"raport ąęść ŻÓŁĆ — bardzo długa nazwa pliku do wysłania.pdf", Bytes("%PDF-1.4")}};
    EXPECT_EQ(ComposeMime(email),
              "Date: Tue, 05 Mar 2024 14:03:07 +0100\r\n"
              "From: =?UTF-8?B?WmHFvMOzxYLEhyBHxJnFm2zEhSBKYcW6xYQ=?= <jan@example.com>\r\n"
              "To: <anna@example.com>\r\n"
              "Subject: =?UTF-8?B?Tm90b3dhbmlhOiB6YcW8w7PFgsSHIGfEmcWbbMSFIGphxbrFhCA=?=\r\n"
              " =?UTF-8?B?4oCUIHJhcG9ydCBkemllbm55IHogc2VzamkgZ2llxYJkb3dlaiBuYSBkemk=?=\r\n"
              " =?UTF-8?B?xZs=?=\r\n"
              "Message-ID: <1@example.com>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"BOUNDARY\"\r\n"
              "\r\n"
              "--BOUNDARY\r\n"
              "Content-Type: text/html; charset=utf-8\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n"
              "\r\n"
              "<HTML><body>Kurs: 2345,67 z=C5=82</body></html>\r\n"
              "--BOUNDARY\r\n"
              "Content-Type: application/pdf;\r\n"
              " name*0*=utf-8''raport%20%C4%85%C4%99%C5%9B%C4%87%20%C5%BB%C3%93%C5%81;\r\n"
              " name*1*=%C4%86%20%E2%80%94%20bardzo%20d%C5%82uga%20nazwa%20pliku;\r\n"
              " name*2*=%20do%20wys%C5%82ania.pdf\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment;\r\n"
              " filename*0*=utf-8''raport%20%C4%85%C4%99%C5%9B%C4%87%20%C5%BB%C3%93%C5%81;\r\n"
              " filename*1*=%C4%86%20%E2%80%94%20bardzo%20d%C5%82uga%20nazwa%20pliku;\r\n"
              " filename*2*=%20do%20wys%C5%82ania.pdf\r\n"
              "\r\n"
              "JVBERi0xLjQ=\r\n"
              "--BOUNDARY--\r\n");
}

TEST(MimeComposer, PythonReadsBackWhatWasComposed) {
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i * 7 % 256);
    const std::string longLine(2500, 'x');
    const std::vector<vplatform::mail::Attachment> files = {
        {"dane.csv", Bytes("a;b\r\n1;2\r\n")}, {"żółw \"x\".bin", Bytes(binary)}, {"empty", Bytes("")}};
    struct Case {
        std::string subject, fromName, toName, body;
        std::string bodyType = "text/plain", expectedBody = {};  // empty: the body
        std::vector<vplatform::mail::Attachment> attachments = {};
    };
    const std::vector<Case> cases = {
        {"Kursy", "Jan", "Anna", "Dzień dobry\nkurs 2345,67 zł\n"},
        {std::string(40, 'a') + " " + std::string(70, 'b') + " żółw " + std::string(200, 'c'),
         "O'Brien (biuro) \"główne\"", "Zażółć Gęślą Jaźń", "<html>x</html>", "text/html", "<html>x</html>\n"},
        {"=?UTF-8?B?eA==?= is text", "A", "B", longLine + "\r\n.\r\n..\n" + "tail ", "text/plain",
         longLine + "\n.\n..\ntail \n"},
        {"Załączniki", "", "", "trailing spaces   \n\ttab\n", "text/plain", "", files},
    };
    for (const Case& c : cases) {
        EmailData email = Message();
        email.subject = c.subject;
        email.from.name = c.fromName;
        email.to = {{c.toName, "anna@example.com"}};
        email.body = c.body;
        email.attachments = c.attachments;
        const std::string mime = ComposeMime(email);
        ExpectWellFormed(mime);
        const auto decoded = vlibtest::DecodeWithPython(mime);
        ASSERT_TRUE(decoded.ok) << mime;
        EXPECT_EQ(decoded.subject, c.subject);
        EXPECT_EQ(decoded.from.name, c.fromName);
        EXPECT_EQ(decoded.from.address, "jan@example.com");
        ASSERT_EQ(decoded.to.size(), 1u);
        EXPECT_EQ(decoded.to[0].name, c.toName);
        EXPECT_EQ(decoded.bodyType, c.bodyType);
        EXPECT_EQ(decoded.body, c.expectedBody.empty() ? c.body : c.expectedBody);
        ASSERT_EQ(decoded.attachments.size(), c.attachments.size());
        for (std::size_t i = 0; i < c.attachments.size(); ++i) {
            EXPECT_EQ(decoded.attachments[i].fileName, c.attachments[i].fileName);
            EXPECT_EQ(decoded.attachments[i].bytes, *c.attachments[i].bytes);
        }
    }
}

TEST(MimeComposer, HeaderTextsCannotStartFieldsOfTheirOwn) {
    EmailData email = Message();
    email.subject = "Hi\r\nBcc: victim@example.com\nX-Evil: 1";
    email.from.name = "Jan\r\nReply-To: evil@example.com";
    email.to = {{"A\rB", "anna@example.com"}};
    email.body = "body";
    email.attachments = {{"a.txt\r\nContent-Type: text/html", Bytes("x")}};
    email.date = "now\r\nX-Date: 1";
    email.boundary = "bad\r\nboundary";
    const std::string mime = ComposeMime(email);
    ExpectWellFormed(mime);
    const auto decoded = vlibtest::DecodeWithPython(mime);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.headerNames, (std::vector<std::string>{"Date", "From", "To", "Subject", "Message-ID",
                                                             "MIME-Version", "Content-Type"}));
    EXPECT_EQ(decoded.subject, "Hi  Bcc: victim@example.com X-Evil: 1");
    EXPECT_EQ(decoded.from.name, "Jan  Reply-To: evil@example.com");
    ASSERT_EQ(decoded.attachments.size(), 1u);
    EXPECT_EQ(decoded.attachments[0].fileName, "a.txt  Content-Type: text/html");
    EXPECT_EQ(mime.find("\r\nBcc"), std::string::npos);
}

// Without a date of its own a message is dated by the platform's clock, in
// local time with its offset from UTC.
TEST(MimeComposer, AMessageWithoutADateIsDatedByThePlatformClock) {
    const struct {
        long utcOffset;
        const char* date;
    } cases[] = {
        {19'800, "Thu, 29 Feb 2024 18:04:56 +0530"},
        {-12'600, "Thu, 29 Feb 2024 09:04:56 -0330"},
        {-46'800, "Wed, 28 Feb 2024 23:34:56 -1300"},
    };
    for (const auto& c : cases) {
        const vlibtest::FixedClock clock({1'709'210'096, 789'654'321}, c.utcOffset);  // 2024-02-29 12:34:56.789 UTC
        EmailData email = Message();
        email.date.clear();
        EXPECT_EQ(ComposeMime(email).substr(0, 39), std::string("Date: ") + c.date + "\r\n");
    }
}

TEST(CkEmail, NarrowTextIsInTheAnsiCodePageUnlessUtf8IsSet) {
    const std::string polish = "Zażółć gęślą jaźń";
    const std::string cp1250 = "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1";
    struct Case {
        UINT acp;
        bool utf8;
        std::string narrow;
    };
    for (const Case& c : {Case{65001, false, polish}, Case{1250, false, cp1250}, Case{1250, true, polish}}) {
        vlibtest::AcpScope acp(c.acp);
        CkEmail email;
        email.put_Utf8(c.utf8);
        email.put_Subject(c.narrow.c_str());
        email.put_FromName(c.narrow.c_str());
        email.put_Body(c.narrow.c_str());
        email.AddTo(c.narrow.c_str(), "anna@example.com");
        email.put_FromAddress("jan@example.com");
        EXPECT_EQ(email.subject(), c.narrow);
        EXPECT_EQ(email.getToName(0), c.narrow);
        EXPECT_STREQ(email.getToAddr(0), "anna@example.com");
        EXPECT_STREQ(email.getToAddr(1), "");
        const auto decoded = vlibtest::DecodeWithPython(email.getMime());
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.subject, polish);
        EXPECT_EQ(decoded.from.name, polish);
        EXPECT_EQ(decoded.to[0].name, polish);
        EXPECT_EQ(decoded.body, polish + "\n");
    }
}

TEST(CkEmail, AttachmentsAreReadAtOnceUnderTheirFileNames) {
    vlibtest::TempDir dir;
    const auto file = dir.Write("kurs.txt", "first");
    CkEmail email;
    email.put_Utf8(true);
    // Windows-form separators reach the same file.
    const std::string windowsForm = dir.Path().string() + "\\kurs.txt";
    ASSERT_TRUE(email.AddFileAttachment(windowsForm.c_str()));
    dir.Write("kurs.txt", "changed later");
    const std::pair<std::string, DWORD> failures[] = {{(dir.Path() / "missing.txt").string(), ERROR_FILE_NOT_FOUND},
                                                      {(dir.Path() / "no" / "file.txt").string(), ERROR_PATH_NOT_FOUND},
                                                      {dir.Path().string(), ERROR_ACCESS_DENIED},
                                                      {"", ERROR_PATH_NOT_FOUND}};
    for (const auto& [path, error] : failures) {
        EXPECT_TRUE(vlibtest::FailsWith(error, [&] { return email.AddFileAttachment(path.c_str()); })) << path;
    }
    EXPECT_EQ(email.get_NumAttachments(), 1);
    EXPECT_STREQ(email.getAttachmentFilename(0), "kurs.txt");
    email.AddTo("", "anna@example.com");
    const auto decoded = vlibtest::DecodeWithPython(email.getMime());
    ASSERT_EQ(decoded.attachments.size(), 1u);
    EXPECT_EQ(decoded.attachments[0].bytes, "first");
    EXPECT_EQ(decoded.attachments[0].contentType, "text/plain");
}

}  // namespace
