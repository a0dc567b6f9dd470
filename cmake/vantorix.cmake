# Project-wide compile settings, applied to our own targets only.

set(VX_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wformat=2)
# GCC 12 reports false overlaps in std::string concatenation at -O2 and above (its bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND VX_WARNINGS -Wno-restrict)
endif()
if(VX_WERROR)
  list(APPEND VX_WARNINGS -Werror)
endif()

if(VX_SANITIZE)
  # GCC 12's flow analysis reports false "maybe uninitialized" inside libstdc++ (std::regex)
  # once the sanitizers instrument the code.
  list(APPEND VX_WARNINGS -Wno-maybe-uninitialized)
  # Line tables (-g1) give every report its files and lines at little build cost.
  add_compile_options(-fsanitize=${VX_SANITIZE} -fno-omit-frame-pointer -g1)
  # A report must fail the test. ThreadSanitizer has no such compile switch; it stops through
  # TSAN_OPTIONS=halt_on_error instead.
  if(NOT VX_SANITIZE STREQUAL "thread")
    add_compile_options(-fno-sanitize-recover=all)
  endif()
  add_link_options(-fsanitize=${VX_SANITIZE})
endif()

# vx_library(name SOURCES...): one static library per subsystem folder, with the repository
# root on the include path so that headers are named by folder ("vocabulary/codecs.h").
function(vx_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${VX_WARNINGS})
endfunction()

function(vx_executable name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${VX_WARNINGS})
endfunction()
