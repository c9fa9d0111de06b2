# Checks the Windows binaries' import and export tables:
#   cmake -DOBJDUMP=... -DBIN=<dir> -P checkImports.cmake
# telmif32.dll exports ordinals 1 and 2 and no names; the driver's programs
# import it by ordinal only; dravik.dll exports kivHwnd by name; and no
# program needs a MinGW runtime DLL beside it.

function(dump_headers file out)
  execute_process(COMMAND ${OBJDUMP} -p ${BIN}/${file} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot read ${file}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(require text pattern what)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "${what}")
  endif()
endfunction()

function(forbid text pattern what)
  if(text MATCHES "${pattern}")
    message(FATAL_ERROR "${what}")
  endif()
endfunction()

dump_headers(telmif32.dll telmif)
require("${telmif}" "\\+base\\[ *1\\][^\n]*\n[^\n]*\\+base\\[ *2\\]" "telmif32.dll does not export ordinals 1 and 2")
require("${telmif}" "\\[Name Pointer/Ordinal\\] Table[ \t]+0+\n" "telmif32.dll exports names")

dump_headers(dravik.dll dravik)
require("${dravik}" "\\] kivHwnd" "dravik.dll does not export kivHwnd")

dump_headers(driver_tests.exe driver)
string(REGEX MATCH "DLL Name: telmif32.dll\n[^\n]*\n([^\n]+\n)+" imports "${driver}")
require("${imports}" "8000000000000001[^\n]*\n[^\n]*8000000000000002" "the driver does not import telmif32 ordinals 1 and 2")
forbid("${imports}" "telmif(Send|Deliver)" "the driver imports telmif32 by name")

file(GLOB binaries RELATIVE ${BIN} ${BIN}/*.exe ${BIN}/*.dll)
foreach(binary IN LISTS binaries)
  dump_headers(${binary} headers)
  forbid("${headers}" "DLL Name: (libstdc\\+\\+|libgcc|libwinpthread)" "${binary} needs a MinGW runtime DLL")
endforeach()
