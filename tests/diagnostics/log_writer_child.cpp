// A child process for the log's crash and exit tests: opens the log on the
// file given as its argument and writes entries from several threads until it
// is killed; with "return COUNT" after the file, writes COUNT entries from
// two threads and returns from main without closing the log.
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/Log.h"
#include "text/StringConversion.h"

int main(int argc, char** argv) {
    if ((argc != 2 && argc != 4) || !VTools::Log::Instance().Open(VTools::String::Utf8ToWide(argv[1]))) return 1;
    std::vector<std::thread> writers;
    if (argc == 4) {
        const int count = std::stoi(argv[3]);
        std::thread other([count] {
            for (int n = 0; n < count; ++n) VTools::Log::Instance().Write("Other", 1, std::to_string(n));
        });
        for (int n = 0; n < count; ++n) VTools::Log::Instance().Write("Main", 2, std::to_string(n));
        other.join();
        return 0;
    }
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            // Messages of varying length, up to about a kilobyte.
            for (unsigned n = 0;; ++n) {
                const std::string message = std::to_string(n) + " " + std::string((n * 977) % 900, 'a' + t);
                VTools::Log::Instance().Write("Child", t, message);
                if (n % 64 == 0) std::this_thread::yield();
            }
        });
    }
    for (auto& w : writers) w.join();
}
