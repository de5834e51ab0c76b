// Qt's mutexes are futex based and invisible to ThreadSanitizer, so synchronisation inside Qt
// can look like a race to it. Silenced here are only the reports about Qt Test's own watchdog
// thread (its wait condition and its deletion at the end of the run); our code shares nothing
// through Qt across threads. Harmless in builds without ThreadSanitizer.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QWaitCondition::~QWaitCondition\n"
           "called_from_lib:libQt6Test.so.6\n";
}
