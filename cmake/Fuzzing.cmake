# libFuzzer builds: every library the targets link is instrumented for
# coverage and checked by AddressSanitizer and UndefinedBehaviorSanitizer;
# only the fuzz targets themselves link libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "RK_BUILD_FUZZ needs clang (libFuzzer): configure with the fuzz preset")
endif()
set(RK_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_compile_options(-fsanitize=fuzzer-no-link ${RK_FUZZ_SANITIZERS})
add_link_options(${RK_FUZZ_SANITIZERS})
