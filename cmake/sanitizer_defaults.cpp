// Sanitizer settings built into every sanitized binary, so they hold however
// the binary is started (ctest, a script, by hand).
extern "C" {
const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=0";
}
const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
// Leaks inside system libraries that Qt loads (fonts, GL, D-Bus, OpenSSL's
// per-thread error queue of a finished TLS thread); none are ours.
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libdbus\n"
           "leak:libglib\n"
           "leak:libgobject\n"
           "leak:libEGL\n"
           "leak:libGLX\n"
           "leak:libX11\n"
           "leak:libxcb\n"
           "leak:libcrypto\n";
}
}
