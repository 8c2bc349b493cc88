// A child process for the log's crash test: opens the log on the file given
// as its argument and writes entries from several threads until it is killed.
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/Log.h"
#include "text/StringConversion.h"

int main(int argc, char** argv) {
    if (argc != 2 || !VTools::Log::Instance().Open(VTools::String::Utf8ToWide(argv[1]))) return 1;
    std::vector<std::thread> writers;
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
