// Throughput of the text conversions beside glibc iconv and ICU.
//
// Four conversions (UTF-8 -> wide, wide -> UTF-8, ANSI -> wide and
// UTF-8 -> ANSI, the ANSI code page being Windows-1250) on ASCII and on Polish
// text of 1 KiB and 1 MiB.  Each case runs in two tiers:
//   lib: the VTools::String function, which returns a new string, against
//        iconv and ICU converting into a new string of the worst-case size;
//   api: MultiByteToWideChar / WideCharToMultiByte into a reused buffer,
//        against iconv and ICU converting into reused buffers.
// iconv and ICU reuse their converters.  ICU's wide text is UTF-16 in char16_t
// (ours is UTF-16 in 32-bit wchar_t); iconv's is WCHAR_T.  Bytes processed are
// the input bytes of our function for every implementation of a case, so the
// rates of one case compare directly.  The ratio rows follow the usual
// output: medians of the repetitions, with their ranges.
#include <benchmark/benchmark.h>

#include <iconv.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/nls/CodePage.h"
#include "text/StringConversion.h"

#include "MedianReporter.h"

namespace {

constexpr const char* kAsciiSentence = "The quick brown fox jumps over the lazy dog; WIG20 rose by 1.5% today. ";
constexpr const char* kPolishSentence = "Zażółć gęślą jaźń – kurs WIG20 wzrósł o 1,5%. ";

// One text in the forms the conversions take as input.
struct Text {
    std::string utf8;
    std::wstring wide;
    std::u16string utf16;
    std::string ansi;  // Windows-1250
};

Text MakeText(const char* sentence, std::size_t bytes) {
    Text text;
    const std::string s = sentence;
    while (text.utf8.size() + s.size() <= bytes) text.utf8 += s;
    // Fill up to the size with ASCII so that every text is exactly `bytes`.
    text.utf8.append(bytes - text.utf8.size(), '.');
    text.wide = VTools::String::Utf8ToWide(text.utf8);
    text.utf16.assign(text.wide.begin(), text.wide.end());
    text.ansi = VTools::String::WideToAnsi(text.wide);
    return text;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts `bytes` bytes at `in` into `out` (room for `room` bytes);
    // returns the number of bytes written.
    std::size_t Run(const void* in, std::size_t bytes, void* out, std::size_t room) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(static_cast<const char*>(in));
        char* dst = static_cast<char*>(out);
        std::size_t left = room;
        if (iconv(cd_, &src, &bytes, &dst, &left) == static_cast<std::size_t>(-1)) {
            throw std::runtime_error("iconv failed");
        }
        return room - left;
    }

private:
    iconv_t cd_;
};

struct IcuConverter {
    UConverter* cnv;
    explicit IcuConverter(const char* name) {
        UErrorCode error = U_ZERO_ERROR;
        cnv = ucnv_open(name, &error);
        if (U_FAILURE(error)) throw std::runtime_error("ucnv_open failed");
    }
    ~IcuConverter() { ucnv_close(cnv); }
    IcuConverter(const IcuConverter&) = delete;
    IcuConverter& operator=(const IcuConverter&) = delete;
};

void CheckIcu(UErrorCode error) {
    if (U_FAILURE(error)) throw std::runtime_error(u_errorName(error));
}

// Resizes `out` to `size` for the lib tier (a new string each time) or keeps
// the buffer for the api tier.
template <class String>
void Prepare(String& out, std::size_t size, bool reuse) {
    if (!reuse || out.size() < size) String(size, typename String::value_type{}).swap(out);
}

struct Case {
    std::string function;
    std::string text;
    std::string size;
};

using Body = std::function<void(benchmark::State&)>;

// Registers the benchmark `<function>/<text>/<size>/<tier>/<impl>`.
void Register(const Case& c, const char* tier, const char* impl, std::size_t inputBytes, Body body) {
    const std::string name = c.function + "/" + c.text + "/" + c.size + "/" + tier + "/" + impl;
    benchmark::RegisterBenchmark(name.c_str(), [inputBytes, body](benchmark::State& state) {
        body(state);
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputBytes));
    });
}

void RegisterCase(const Case& c, const Text& t) {
    static Iconv utf8ToWide("WCHAR_T", "UTF-8"), wideToUtf8("UTF-8", "WCHAR_T"), ansiToWide("WCHAR_T", "CP1250"),
        utf8ToAnsi("CP1250", "UTF-8");
    static IcuConverter windows1250("windows-1250");

    for (const bool reuse : {false, true}) {
        const char* tier = reuse ? "api" : "lib";
        if (c.function == "Utf8ToWide") {
            const std::string& in = t.utf8;
            Register(c, tier, "ours", in.size(), [&in, reuse](benchmark::State& state) {
                std::wstring out(in.size(), L'\0');
                for (auto _ : state) {
                    if (reuse) {
                        benchmark::DoNotOptimize(MultiByteToWideChar(CP_UTF8, 0, in.data(), static_cast<int>(in.size()),
                                                                     out.data(), static_cast<int>(out.size())));
                    } else {
                        benchmark::DoNotOptimize(VTools::String::Utf8ToWide(in));
                    }
                }
            });
            Register(c, tier, "iconv", in.size(), [&in, reuse](benchmark::State& state) {
                std::wstring out;
                for (auto _ : state) {
                    Prepare(out, in.size(), reuse);
                    const std::size_t n = utf8ToWide.Run(in.data(), in.size(), out.data(), out.size() * 4);
                    if (!reuse) out.resize(n / 4);
                    benchmark::DoNotOptimize(out.data());
                }
            });
            Register(c, tier, "ICU", in.size(), [&in, reuse](benchmark::State& state) {
                std::u16string out;
                for (auto _ : state) {
                    Prepare(out, in.size(), reuse);
                    UErrorCode error = U_ZERO_ERROR;
                    int32_t n = 0;
                    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n, in.data(),
                                         static_cast<int32_t>(in.size()), 0xFFFD, nullptr, &error);
                    CheckIcu(error);
                    if (!reuse) out.resize(static_cast<std::size_t>(n));
                    benchmark::DoNotOptimize(out.data());
                }
            });
        } else if (c.function == "WideToUtf8") {
            const std::wstring& in = t.wide;
            const std::u16string& in16 = t.utf16;
            const std::size_t bytes = in.size() * sizeof(wchar_t);
            Register(c, tier, "ours", bytes, [&in, reuse](benchmark::State& state) {
                std::string out(in.size() * 3, '\0');
                for (auto _ : state) {
                    if (reuse) {
                        benchmark::DoNotOptimize(WideCharToMultiByte(CP_UTF8, 0, in.data(), static_cast<int>(in.size()),
                                                                     out.data(), static_cast<int>(out.size()), nullptr,
                                                                     nullptr));
                    } else {
                        benchmark::DoNotOptimize(VTools::String::WideToUtf8(in));
                    }
                }
            });
            Register(c, tier, "iconv", bytes, [&in, reuse](benchmark::State& state) {
                std::string out;
                for (auto _ : state) {
                    Prepare(out, in.size() * 3, reuse);
                    const std::size_t n =
                        wideToUtf8.Run(in.data(), in.size() * sizeof(wchar_t), out.data(), out.size());
                    if (!reuse) out.resize(n);
                    benchmark::DoNotOptimize(out.data());
                }
            });
            Register(c, tier, "ICU", bytes, [&in16, reuse](benchmark::State& state) {
                std::string out;
                for (auto _ : state) {
                    Prepare(out, in16.size() * 3, reuse);
                    UErrorCode error = U_ZERO_ERROR;
                    int32_t n = 0;
                    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n, in16.data(),
                                       static_cast<int32_t>(in16.size()), 0xFFFD, nullptr, &error);
                    CheckIcu(error);
                    if (!reuse) out.resize(static_cast<std::size_t>(n));
                    benchmark::DoNotOptimize(out.data());
                }
            });
        } else if (c.function == "AnsiToWide") {
            const std::string& in = t.ansi;
            Register(c, tier, "ours", in.size(), [&in, reuse](benchmark::State& state) {
                std::wstring out(in.size(), L'\0');
                for (auto _ : state) {
                    if (reuse) {
                        benchmark::DoNotOptimize(MultiByteToWideChar(CP_ACP, 0, in.data(), static_cast<int>(in.size()),
                                                                     out.data(), static_cast<int>(out.size())));
                    } else {
                        benchmark::DoNotOptimize(VTools::String::AnsiToWide(in));
                    }
                }
            });
            Register(c, tier, "iconv", in.size(), [&in, reuse](benchmark::State& state) {
                std::wstring out;
                for (auto _ : state) {
                    Prepare(out, in.size(), reuse);
                    const std::size_t n = ansiToWide.Run(in.data(), in.size(), out.data(), out.size() * 4);
                    if (!reuse) out.resize(n / 4);
                    benchmark::DoNotOptimize(out.data());
                }
            });
            Register(c, tier, "ICU", in.size(), [&in, reuse](benchmark::State& state) {
                std::u16string out;
                for (auto _ : state) {
                    Prepare(out, in.size() + 1, reuse);
                    UErrorCode error = U_ZERO_ERROR;
                    const int32_t n = ucnv_toUChars(windows1250.cnv, out.data(), static_cast<int32_t>(out.size()),
                                                    in.data(), static_cast<int32_t>(in.size()), &error);
                    CheckIcu(error);
                    if (!reuse) out.resize(static_cast<std::size_t>(n));
                    benchmark::DoNotOptimize(out.data());
                }
            });
        } else {  // Utf8ToAnsi
            const std::string& in = t.utf8;
            Register(c, tier, "ours", in.size(), [&in, reuse](benchmark::State& state) {
                std::wstring wide(in.size(), L'\0');
                std::string out(in.size(), '\0');
                for (auto _ : state) {
                    if (reuse) {
                        const int n = MultiByteToWideChar(CP_UTF8, 0, in.data(), static_cast<int>(in.size()),
                                                          wide.data(), static_cast<int>(wide.size()));
                        benchmark::DoNotOptimize(WideCharToMultiByte(CP_ACP, 0, wide.data(), n, out.data(),
                                                                     static_cast<int>(out.size()), nullptr, nullptr));
                    } else {
                        benchmark::DoNotOptimize(VTools::String::Utf8ToAnsi(in));
                    }
                }
            });
            Register(c, tier, "iconv", in.size(), [&in, reuse](benchmark::State& state) {
                std::string out;
                for (auto _ : state) {
                    Prepare(out, in.size(), reuse);
                    const std::size_t n = utf8ToAnsi.Run(in.data(), in.size(), out.data(), out.size());
                    if (!reuse) out.resize(n);
                    benchmark::DoNotOptimize(out.data());
                }
            });
            Register(c, tier, "ICU", in.size(), [&in, reuse](benchmark::State& state) {
                std::u16string wide;
                std::string out;
                for (auto _ : state) {
                    Prepare(wide, in.size(), reuse);
                    Prepare(out, in.size() + 1, reuse);
                    UErrorCode error = U_ZERO_ERROR;
                    int32_t n = 0;
                    u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &n, in.data(),
                                         static_cast<int32_t>(in.size()), 0xFFFD, nullptr, &error);
                    n = ucnv_fromUChars(windows1250.cnv, out.data(), static_cast<int32_t>(out.size()), wide.data(), n,
                                        &error);
                    CheckIcu(error);
                    if (!reuse) out.resize(static_cast<std::size_t>(n));
                    benchmark::DoNotOptimize(out.data());
                }
            });
        }
    }
}

// One row per case, tier and peer: ours / peer in MB/s of our input.
void ReportRatios(const std::vector<Case>& cases, const vbench::MedianReporter& reporter) {
    const auto mb = [](vbench::Spread figure) {
        for (double& value : figure.values) value /= 1e6;
        return vbench::Spread(figure.values);
    };
    for (const Case& c : cases) {
        const std::string prefix = c.function + "/" + c.text + "/" + c.size + "/";
        for (const char* tier : {"lib", "api"}) {
            for (const char* peer : {"iconv", "ICU"}) {
                vbench::Report("Text conversion",
                               c.function + " " + c.text + " " + c.size + ", " + tier + " vs " + peer,
                               prefix + tier + "/ours", mb(reporter.Figures(prefix + tier + "/ours")),
                               prefix + tier + "/" + peer, mb(reporter.Figures(prefix + tier + "/" + peer)), "MB/s");
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The ANSI conversions run in Windows-1250.
    SetACP(1250);
    const std::pair<const char*, std::size_t> sizes[] = {{"1KiB", 1024}, {"1MiB", 1024 * 1024}};
    const std::pair<const char*, const char*> texts[] = {{"ascii", kAsciiSentence}, {"polish", kPolishSentence}};
    static std::vector<Text> storage;
    storage.reserve(4);
    std::vector<Case> cases;
    for (const auto& [textName, sentence] : texts) {
        for (const auto& [sizeName, bytes] : sizes) {
            storage.push_back(MakeText(sentence, bytes));
            for (const char* function : {"Utf8ToWide", "WideToUtf8", "AnsiToWide", "Utf8ToAnsi"}) {
                cases.push_back({function, textName, sizeName});
                RegisterCase(cases.back(), storage.back());
            }
        }
    }
    vbench::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::BytesPerSecond);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    ReportRatios(cases, reporter);
    benchmark::Shutdown();
    return 0;
}
