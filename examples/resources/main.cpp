// Module resources: a file embedded at build time (quotes.rc, compiled by
// vlib_add_resources) read back from the running program.
#include <VLibIncludes.h>

#include <iostream>
#include <string>

int main() {
    // A null module is the program itself; names and types are matched
    // without regard to case.
    const auto bytes = VTools::Resource::GetFileFromResource(nullptr, L"greeting", L"TEXT");
    if (bytes.empty()) {
        std::cerr << "no resource: error " << GetLastError() << "\n";
        return 1;
    }
    std::cout << std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
