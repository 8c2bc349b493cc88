// Mail: a message with an attachment sent in the background over SMTP.
// Usage: example_mail HOST PORT RECIPIENT
#include <VLibIncludes.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: example_mail HOST PORT RECIPIENT\n";
        return 2;
    }
    // Failed sends are written to the log: open it to see them.
    const auto folder = std::filesystem::temp_directory_path();
    VTools::Log::Instance().Open(VTools::String::Utf8ToWide((folder / "vlib-example-mail-log.txt").string()));

    const auto attachment = folder / "vlib-example-kursy.csv";
    std::ofstream(attachment) << "walor;kurs\r\nWIG20;2345,67\r\n";

    // Security 0 sends in plain text (and logs in in clear text when a user
    // name is set): use 1 (TLS) or 2 (STARTTLS) beyond a local relay.
    ChilkatMailManager manager;
    manager.SetupSender({argv[1], "notowania@example.com", "", std::stoi(argv[2]), "example", 0});
    // Texts are in the ANSI code page (UTF-8 unless SetACP changed it).
    const bool queued = manager.SendEmailAsync({"Biuro maklerskie",
                                                argv[3],
                                                "Kursy zamknięcia",
                                                "Dzień dobry,\nw załączniku kursy.\n",
                                                {attachment.string()}});
    if (!queued) {
        std::cerr << "not queued: " << manager.GetLastError() << "\n";
        return 1;
    }
    // Sends run on the mail client's threads; sends still waiting when the
    // process ends are dropped, so wait for them.
    vplatformMailDrain(INFINITE);
    VTools::Log::Instance().Close();
    std::filesystem::remove(attachment);
    std::cout << "sent (a failure would be in the log)\n";
}
