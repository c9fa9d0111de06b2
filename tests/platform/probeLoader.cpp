// Loads the library named by its argument and exits with the probe's answer
// (0 when the library or its function is missing), so that tests can run it
// with a search path of their choosing.
#include "rkwin.h"

#include <cstdint>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 0;
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr)
        return 0;
    FARPROC function = GetProcAddress(module, "rkProbeOrigin");
    const intptr_t origin = function != nullptr ? reinterpret_cast<intptr_t (*)()>(function)() : 0;
    FreeLibrary(module);
    return static_cast<int>(origin);
}
