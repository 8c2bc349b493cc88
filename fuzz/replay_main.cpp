// A driver for the fuzz targets when they are built without libFuzzer (with
// GCC, in the sanitizer build): runs every file of the given corpus folders,
// then random mutations of them (bit flips, cuts, inserted and repeated
// bytes) for a few seconds, from a fixed seed so that a failure repeats.
// Usage: <target> [--seconds=S] FOLDER...
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Input = std::vector<std::uint8_t>;

void Run(const Input& input) {
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

Input Mutate(Input input, std::mt19937& random) {
    const int steps = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < steps; ++i) {
        const std::size_t at = input.empty() ? 0 : random() % input.size();
        switch (random() % 5) {
            case 0:
                if (!input.empty()) input[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                break;
            case 1:
                if (!input.empty()) input[at] = static_cast<std::uint8_t>(random());
                break;
            case 2:
                input.resize(at);
                break;
            case 3:
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(random()));
                break;
            default:
                if (!input.empty() && input.size() < 4096) {
                    const std::size_t length = 1 + random() % std::min<std::size_t>(input.size() - at, 64);
                    const Input piece(input.begin() + static_cast<std::ptrdiff_t>(at),
                                      input.begin() + static_cast<std::ptrdiff_t>(at + length));
                    input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), piece.begin(), piece.end());
                }
                break;
        }
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3;
    std::vector<Input> corpus{Input{}};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
            seconds = std::strtod(argv[i] + 10, nullptr);
            continue;
        }
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
            std::ifstream file(entry.path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
    }
    for (const Input& input : corpus) Run(input);
    std::mt19937 random(20261207);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    unsigned long runs = corpus.size();
    while (std::chrono::steady_clock::now() < end) {
        Run(Mutate(corpus[random() % corpus.size()], random));
        ++runs;
    }
    std::printf("%lu inputs from %zu seeds\n", runs, corpus.size());
    return 0;
}
