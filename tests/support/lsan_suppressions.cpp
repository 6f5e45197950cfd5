// Linked into every test program of a sanitizer build: outside libraries
// that keep memory for the life of the process are not this project's leaks.
extern "C" const char *__lsan_default_suppressions()
{
	return "leak:libtensorflow-lite.so\n";
}
