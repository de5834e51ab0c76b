// Reports that ThreadSanitizer makes about synchronisation it cannot see, narrowed to where
// they arise. Harmless in builds without ThreadSanitizer.
//  - Qt Test's watchdog thread: Qt's mutexes are futex based and invisible to the checker, so its
//    wait condition and its deletion at the end of the run look like races. Our code shares
//    nothing through Qt across threads.
//  - The dynamic loader: iconv loads and unloads its converter modules on whichever thread opens
//    or closes a descriptor, under the loader's own lock, which the checker does not see.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QWaitCondition::~QWaitCondition\n"
           "called_from_lib:libQt6Test.so.6\n"
           "race:_dl_close_worker\n"
           "race:_dl_check_map_versions\n"
           // The same, matched by the loader's file: it carries no symbols on a machine
           // without glibc's debug files, where the two names above cannot match.
           "called_from_lib:ld-linux-x86-64.so.2\n";
}
