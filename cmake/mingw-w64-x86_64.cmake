# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX thread
# model, so std::thread and std::mutex work as in the Linux build).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the programs run under Wine (or on Windows) without the
# MinGW runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
