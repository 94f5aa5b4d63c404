# Build-wide switches: warnings, warnings-as-errors, the sanitizer builds and
# hardening.
option(QUILLON_WERROR "Treat compiler warnings as errors" OFF)
set(QUILLON_SANITIZE "" CACHE STRING
    "Sanitizers for every target: empty, 'address,undefined' or 'thread'")

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                    -Wcast-align -Wunused -Woverloaded-virtual)
if(QUILLON_WERROR)
  add_compile_options(-Werror)
endif()

if(QUILLON_SANITIZE)
  add_compile_options(-fsanitize=${QUILLON_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILLON_SANITIZE})
endif()

# Hardening. Every build: the strong stack protector.
add_compile_options(-fstack-protector-strong)
if(WIN32)
  # Debug information always: the package moves it into files of their own
  # (scripts/windows/package.py), it changes no code.
  add_compile_options(-g)
  # MinGW: the stack protector's runtime (libssp) is linked in with the rest;
  # ASLR (dynamic base, with relocations) and DEP are asked for explicitly,
  # and the 64-bit files take high-entropy (64-bit) ASLR.
  add_link_options(-fstack-protector-strong LINKER:--dynamicbase LINKER:--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(LINKER:--high-entropy-va)
  endif()
else()
  # As Debian builds its packages (dpkg-buildflags, hardening=+all):
  # position-independent executables, full RELRO (relocations read-only,
  # every symbol bound at load), format-string errors, and
  # _FORTIFY_SOURCE=2 where it works: it needs optimisation, and the
  # sanitizers intercept the very functions it replaces with checked ones.
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  add_compile_options(-Wformat -Werror=format-security)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
  if(QUILLON_SANITIZE OR QUILLON_FUZZ)
    set(QUILLON_FORTIFIED 0)
  else()
    set(QUILLON_FORTIFIED "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  endif()
  add_compile_options("$<${QUILLON_FORTIFIED}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

# Tests that drive threads are labelled so the ThreadSanitizer build can run
# just them: quillon_label_threaded(<test>...)
function(quillon_label_threaded)
  foreach(t IN LISTS ARGN)
    set_property(TEST ${t} APPEND PROPERTY LABELS threads)
  endforeach()
endfunction()
