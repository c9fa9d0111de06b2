# The installable kit: the CMake package and pkg-config files of the
# libraries, the manual pages, the Debian documents and the packages CPack
# builds (telm-tools: programs and shared libraries; telm-dev: headers,
# static libraries, the CMake package and pkg-config files).
include(CMakePackageConfigHelpers)

set(TELM_CMAKE_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/TELM)
set(TELM_TOOLS_PACKAGE telm-tools)
set(TELM_DEV_PACKAGE telm-dev)
set(CPACK_PACKAGE_CONTACT "Skerrow Driver developers <skerrow@users.noreply.invalid>")

# ---- CMake package ----
install(EXPORT TELMTargets NAMESPACE TELM:: DESTINATION ${TELM_CMAKE_DESTINATION} COMPONENT dev)
configure_package_config_file(cmake/kit/TELMConfig.cmake.in ${PROJECT_BINARY_DIR}/kit/TELMConfig.cmake
  INSTALL_DESTINATION ${TELM_CMAKE_DESTINATION})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kit/TELMConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kit/TELMConfig.cmake ${PROJECT_BINARY_DIR}/kit/TELMConfigVersion.cmake
  DESTINATION ${TELM_CMAKE_DESTINATION} COMPONENT dev)

# ---- pkg-config, relative to where the file lies so that any prefix works ----
set(pc_destination ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pc_prefix_from_pcdir ${CMAKE_INSTALL_PREFIX}/${pc_destination} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" pc_prefix_from_pcdir "${pc_prefix_from_pcdir}")
function(telm_pkg_config name description requires libs)
  set(pc_name ${name})
  set(pc_description ${description})
  set(pc_requires ${requires})
  set(pc_libs ${libs})
  configure_file(cmake/kit/library.pc.in ${PROJECT_BINARY_DIR}/kit/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/kit/${name}.pc DESTINATION ${pc_destination} COMPONENT dev)
endfunction()
telm_pkg_config(rkplatform "The Win32 subset of the TELM libraries for Linux" "" "-lrkplatform")
telm_pkg_config(rkcheck "TELM argument checking (rkCheck)" "rkplatform" "-lrkcheck")
telm_pkg_config(rkconfig "TELM configuration: locations, settings files, the INI engine, rkConfig"
  "rkplatform" "-lrkconfig")
telm_pkg_config(rkdriver "TELM driver connection to KIV (rkDriver)" "rkcheck rkconfig rkplatform"
  "-lrkdriver -ltelmif32")

# ---- manual pages: the hub's and the runner's from their --help ----
find_program(HELP2MAN help2man REQUIRED)
set(man_dir ${PROJECT_BINARY_DIR}/kit/man)
set(man_pages)
function(telm_man_page page)
  list(APPEND man_pages ${man_dir}/${page}.1.gz)
  set(man_pages ${man_pages} PARENT_SCOPE)
endfunction()
function(telm_man_page_from_help page program description)
  add_custom_command(OUTPUT ${man_dir}/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${HELP2MAN} --no-info --version-string=${PROJECT_VERSION} --name=${description}
            --section=1 --output=${man_dir}/${page}.1 ${program}
    COMMAND gzip -9nf ${man_dir}/${page}.1
    DEPENDS ${program}
    COMMENT "Writing the manual page of ${page}"
    VERBATIM)
  telm_man_page(${page})
  set(man_pages ${man_pages} PARENT_SCOPE)
endfunction()
function(telm_man_page_written page)
  add_custom_command(OUTPUT ${man_dir}/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${man_dir}/${page}.1
    COMMAND gzip -9nf ${man_dir}/${page}.1
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}.1
    COMMENT "Compressing the manual page of ${page}"
    VERBATIM)
  telm_man_page(${page})
  set(man_pages ${man_pages} PARENT_SCOPE)
endfunction()
telm_man_page_from_help(kivstandin $<TARGET_FILE:kivstandin> "the stand-in KIV hub for testing drivers")
telm_man_page_written(rkwinstation)
if(TARGET skerrowDriver)
  telm_man_page_written(skerrowDriver)
  telm_man_page_from_help(skerrowScenario ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/skerrowScenario
    "run a load scenario of Skerrow Drivers against the stand-in hub")
endif()
add_custom_target(telm_man_pages ALL DEPENDS ${man_pages})
if(TARGET skerrowScenario)
  add_dependencies(telm_man_pages skerrowScenario)
endif()
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

# ---- Debian documents, one set per package ----
configure_file(cmake/kit/changelog ${PROJECT_BINARY_DIR}/kit/changelog.in @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/kit/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_BINARY_DIR}/kit/changelog.in ${PROJECT_BINARY_DIR}/kit/changelog
  COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/kit/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/kit/changelog.in
  VERBATIM)
add_custom_target(telm_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/kit/changelog.gz)
set(debian_documents cmake/kit/copyright ${PROJECT_BINARY_DIR}/kit/changelog.gz)
install(FILES ${debian_documents} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TELM_TOOLS_PACKAGE} COMPONENT runtime)
install(FILES ${debian_documents} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TELM_DEV_PACKAGE} COMPONENT dev)

# ---- Debian packages ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TELM driver kit: libraries, stand-in hub and the Skerrow Driver")
set(CPACK_PACKAGE_DESCRIPTION "The TELM driver libraries (rkDriver, rkConfig, rkCheck and the Win32
subset for Linux), the stand-in hub kivstandin with dravik and telmif32, the
Skerrow Driver load generator and the scenario runner skerrowScenario.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${TELM_TOOLS_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "python3-matplotlib, libjs-chart.js")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The loader's cache learns of the libraries through dpkg's trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/kit/triggers)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${TELM_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${TELM_TOOLS_PACKAGE} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "Everything a driver writer builds against: the public headers of rkDriver,
rkConfig, rkCheck and the Win32 subset, the static libraries, the CMake
package TELM and a pkg-config file per library.")
include(CPack)
