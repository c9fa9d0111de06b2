# The libraries of the kit for driver writers.
#
# telm_add_library(NAME EXPORT_NAME name SOURCES ... [OBJECTS objlib ...]
#                  [INCLUDE dir ...] [LINK target ...])
#
# Compiles the sources once and links them twice: NAME, a static library that
# this build's programs and tests use, and, with RK_BUILD_KIT, NAME_shared,
# the same code as a shared library with the project's version and SONAME.
# The shared one links the shared forms of its LINK targets where they exist.
# Installed, they are TELM::<EXPORT_NAME> (shared) and
# TELM::<EXPORT_NAME>_static, their headers under include/telm.
include(GNUInstallDirs)

set(TELM_INCLUDE_DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/telm)
# How the installed directories reach each other, under any prefix.
file(RELATIVE_PATH TELM_LIBDIR_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH TELM_BINDIR_FROM_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR} ${CMAKE_INSTALL_FULL_BINDIR})

function(telm_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "EXPORT_NAME" "SOURCES;OBJECTS;INCLUDE;LINK")
  add_library(${name}_objects OBJECT ${arg_SOURCES})
  set(includes)
  foreach(dir ${arg_INCLUDE})
    list(APPEND includes $<BUILD_INTERFACE:${dir}>)
  endforeach()
  target_include_directories(${name}_objects PUBLIC ${includes})
  target_link_libraries(${name}_objects PUBLIC ${arg_LINK})

  set(objects $<TARGET_OBJECTS:${name}_objects>)
  foreach(extra ${arg_OBJECTS})
    list(APPEND objects $<TARGET_OBJECTS:${extra}>)
  endforeach()

  add_library(${name} STATIC ${objects})
  target_include_directories(${name} PUBLIC ${includes} $<INSTALL_INTERFACE:${TELM_INCLUDE_DESTINATION}>)
  target_link_libraries(${name} PUBLIC ${arg_LINK})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${arg_EXPORT_NAME}_static)
  if(NOT RK_BUILD_KIT)
    return()
  endif()

  set(shared_links)
  foreach(link ${arg_LINK})
    if(TARGET ${link}_shared)
      list(APPEND shared_links ${link}_shared)
    else()
      list(APPEND shared_links ${link})
    endif()
  endforeach()
  add_library(${name}_shared SHARED ${objects})
  target_include_directories(${name}_shared PUBLIC ${includes} $<INSTALL_INTERFACE:${TELM_INCLUDE_DESTINATION}>)
  target_link_libraries(${name}_shared PUBLIC ${shared_links})
  set_target_properties(${name}_shared PROPERTIES
    OUTPUT_NAME ${name}
    EXPORT_NAME ${arg_EXPORT_NAME}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  install(TARGETS ${name} ${name}_shared EXPORT TELMTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
endfunction()

# telm_install_headers(header ...): public headers of a library of the kit.
function(telm_install_headers)
  if(RK_BUILD_KIT)
    install(FILES ${ARGN} DESTINATION ${TELM_INCLUDE_DESTINATION} COMPONENT dev)
  endif()
endfunction()
