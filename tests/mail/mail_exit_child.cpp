// A child process for the exit test: queues sends to the SMTP server on the
// port given as its argument, waits until its standard input ends, and then
// returns from main with the sends still running or waiting.
#include <unistd.h>

#include <cstdlib>

#include "mail/ChilkatMailManager.h"

int main(int argc, char** argv) {
    if (argc != 2) return 1;
    vplatformSetMailTimeouts(120, 120);
    ChilkatMailManager manager;
    manager.SetupSender({"127.0.0.1", "jan@example.com", "", std::atoi(argv[1]), "", 0});
    for (int i = 0; i < VPLATFORM_MAIL_MAX_RUNNING + 2; ++i) {
        if (!manager.SendEmailAsync({"Jan", "anna@example.com", "exit", "body", {}})) return 2;
    }
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
    return 0;
}
