// Leaks LeakSanitizer leaves out in the executables of address-sanitized
// builds: fontconfig (2.14) loses a few hundred bytes of its own while it
// parses the system's configuration, which the GDI's font engine loads once
// per process; no pointer of ours ever holds them.
// Visible to the sanitizer runtime, which looks the hook up by name.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
