// The runtime's default terminate handler prints the demangled type of the exception that was not
// caught, which links a demangler of some 50 KB into SETUP.EXE: room taken from the first floppy's
// share of the archive. The installer throws nothing of its own and has no console to print to,
// so this stand-in ends the process at once. It must be linked into the executable itself (not a
// library), so that the runtime's own handler is never pulled in.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
