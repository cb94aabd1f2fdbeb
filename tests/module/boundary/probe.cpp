// Compiled as a module file would be, with KTEST_PROBE naming one header:
// the Win32-style headers must compile, anything else of the repository must
// not be found.
#include KTEST_PROBE

int ProbeCompiled() { return 1; }
