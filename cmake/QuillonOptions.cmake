# Build-wide switches: warnings, warnings-as-errors and the sanitizer builds.
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

# Tests that drive threads are labelled so the ThreadSanitizer build can run
# just them: quillon_label_threaded(<test>...)
function(quillon_label_threaded)
  foreach(t IN LISTS ARGN)
    set_property(TEST ${t} APPEND PROPERTY LABELS threads)
  endforeach()
endfunction()
