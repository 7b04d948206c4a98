// The sanitizer runtime's settings for the tests of a sanitizer build.
//
// Leaks LeakSanitizer leaves unreported, each for its reason; everything else
// still counts as a leak:
//   libicuuc, libicui18n: the Firebird engine loads ICU for its collations,
//     and ICU keeps its caches (converters, Unicode sets) until the process
//     ends; in a process that ends through exit() (a death test's child)
//     they are still held when the leak check runs.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libicuuc.so\nleak:libicui18n.so\n";
}

// intercept_tls_get_addr=0: the runtime of Debian 12's compilers guesses the
// size of a library's dynamic TLS block from a header glibc 2.19 kept in front
// of it whenever the block starts 16 bytes into a page. Current glibc keeps no
// such header; the embedded engine (libEngine12.so, loaded by the client
// library) got its main-thread block at such an address, the runtime took the
// allocator's bytes before it for a range (0xdf.., 160 GB long), and the leak
// check's tracer died reading it (signal 11) when the process ended; the
// engine's threads had all ended by then. Without the interception the
// runtime keeps no list of dynamic TLS blocks and scans nothing from a guess;
// the leak check itself still runs.
extern "C" __attribute__((used, visibility("default"))) const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
