// A library for the LoadLibraryA tests; each build of it tells where it lies.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) intptr_t rkProbeOrigin() { return RK_PROBE_ORIGIN; }
