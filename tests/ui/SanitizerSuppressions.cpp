// Fontconfig keeps its configuration caches until the process ends and frees nothing at exit; Qt
// asks it for fonts the first time text is laid out. Not ours, and not growing.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

// In the copy on a private desktop Qt talks to a real session bus (the theme's portal, the AT-SPI
// bridge) through libdbus, whose locks and connection hand-over between Qt's D-Bus thread and the
// main thread go through QtCore's wait conditions and libdbus's own lock ordering, which
// ThreadSanitizer misreads (races, lock-order inversions and double locks inside libdbus). This
// program loads libdbus for nothing else; our own code stays watched.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libdbus-1.so.3\ndeadlock:libdbus-1.so.3\nmutex:libdbus-1.so.3\n";
}
