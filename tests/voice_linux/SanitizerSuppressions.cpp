// Findings inside libraries built without sanitizers, which we cannot fix and which do not reach
// our code. Only these libraries are named; everything of ours stays checked.
extern "C" {

// libvosk (a prebuilt binary) keeps two small objects when a model fails to load: the price of
// trying a broken model once per process.
const char* __lsan_default_suppressions()
{
    return "leak:libvosk.so\n";
}

} // extern "C"
