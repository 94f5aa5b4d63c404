# What ships, and nothing else, is built into bin/ and installed:
#
#   quillon_ship(<target> DESCRIPTION <text> [BESIDE_TEST_PROGRAMS])
#                                               a program or shared library
#   quillon_ship_jar(<jar target>)              an archive of add_jar, made with
#                                               OUTPUT_DIR ${QUILLON_SHIPPED_DIR}
#
# `cmake --install <build> --prefix <dir>` puts them into <dir>/bin, the
# layout of bin/ (run paths $ORIGIN: quillonsvc finds its libraries and
# quillon.jar beside itself). On Windows a shipped file carries a version
# resource made of the project's version: file and product version, the
# product name, DESCRIPTION and its own file name; its link map is kept in
# linkmaps/<target>.map. BESIDE_TEST_PROGRAMS: a library that programs find
# in their own folder (run path $ORIGIN), as quillonsvc does; devbin/ gets a
# link to it, for the test programs there.
if(WIN32)
  enable_language(RC)
endif()

function(quillon_ship target)
  cmake_parse_arguments(PARSE_ARGV 1 ship "BESIDE_TEST_PROGRAMS" "DESCRIPTION" "")
  if(NOT ship_DESCRIPTION)
    message(FATAL_ERROR "quillon_ship(${target}): DESCRIPTION is required")
  endif()
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${QUILLON_SHIPPED_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${QUILLON_SHIPPED_DIR})
  install(TARGETS ${target}
    RUNTIME DESTINATION bin
    LIBRARY DESTINATION bin
    # An import library (Windows) is nobody's to link against.
    ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
  if(ship_BESIDE_TEST_PROGRAMS AND (QUILLON_BUILD_TESTS OR QUILLON_BUILD_BENCHMARKS))
    file(RELATIVE_PATH shipped ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${QUILLON_SHIPPED_DIR})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
      COMMAND ${CMAKE_COMMAND} -E create_symlink ${shipped}/$<TARGET_FILE_NAME:${target}>
              ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/$<TARGET_FILE_NAME:${target}>
      VERBATIM)
  endif()
  if(WIN32)
    quillon_version_resource(${target} "${ship_DESCRIPTION}")
    # The link map shows what is linked in, which the package's notices must
    # name (scripts/windows/package.py, and its check).
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/linkmaps)
    target_link_options(${target} PRIVATE "LINKER:-Map=${CMAKE_BINARY_DIR}/linkmaps/${target}.map")
  endif()
endfunction()

function(quillon_ship_jar target)
  install_jar(${target} DESTINATION bin)
endfunction()

# VERSIONINFO of one PE file, from project(... VERSION ...).
function(quillon_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(QUILLON_FILE_TYPE VFT_APP)
    set(suffix ${CMAKE_EXECUTABLE_SUFFIX})
  else()
    set(QUILLON_FILE_TYPE VFT_DLL)
    set(suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
  endif()
  get_target_property(prefix ${target} PREFIX)
  if(NOT prefix)
    set(prefix "")
  endif()
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(QUILLON_INTERNAL_NAME ${name})
  set(QUILLON_ORIGINAL_FILENAME ${prefix}${name}${suffix})
  set(QUILLON_FILE_DESCRIPTION ${description})
  # Four numbers in the fixed part, missing ones 0; the text as the project says it.
  set(parts "")
  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      list(APPEND parts 0)
    else()
      list(APPEND parts ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  list(JOIN parts "," QUILLON_VERSION_NUMBERS)
  set(QUILLON_VERSION_TEXT ${PROJECT_VERSION})
  set(QUILLON_PRODUCT_NAME ${PROJECT_NAME})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/platform/windows/version/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
