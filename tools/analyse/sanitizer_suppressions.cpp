// Under AddressSanitizer the leak check runs at exit. The font and module
// loaders under PLplot keep caches for the life of the process and never
// free them; those are not leaks of ours, and the note about them would
// only clutter standard error.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_options();

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libltdl.so\n"
           "leak:libcairo.so\n"
           "leak:libpango\n"
           "leak:libglib-2.0.so\n"
           "leak:libplplot.so\n";
}

extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
