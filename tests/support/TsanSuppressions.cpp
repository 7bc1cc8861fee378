// Linked into every test under ThreadSanitizer.
//
// libpulse is not built with the sanitizer. It creates some of its mutexes
// lazily and hands them between threads through its own atomics, which the
// sanitizer cannot see, so the first lock of such a mutex on libpulse's loop
// thread looks like a race with its allocation. Only reports with a lock taken
// inside libpulse are silenced; our accesses under its loop lock are still
// checked.

extern "C" const char* __tsan_default_suppressions() {
  return "race:pa_mutex_lock\n";
}
