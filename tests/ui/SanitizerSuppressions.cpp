// Fontconfig keeps its configuration caches until the process ends and frees nothing at exit; Qt
// asks it for fonts the first time text is laid out. Not ours, and not growing.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
