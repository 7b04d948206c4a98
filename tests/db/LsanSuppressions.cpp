// What LeakSanitizer leaves unreported in the tests of a sanitizer build: the
// Firebird engine loads ICU for its collations, and ICU keeps its caches until
// the process ends. Everything else still counts as a leak.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libicuuc.so\nleak:libicui18n.so\n";
}
