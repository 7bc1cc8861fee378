// Under LeakSanitizer: fontconfig, which Qt loads for its fonts, keeps a
// cache it never frees. Not ours to fix; everything else must stay clean.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
