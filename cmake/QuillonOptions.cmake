# Warnings and sanitizers shared by every target of the project.
add_library(quillon_options INTERFACE)
target_compile_options(quillon_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wunused -Woverloaded-virtual -Wnull-dereference -Wdouble-promotion -Wformat=2
  -Wimplicit-fallthrough)
target_include_directories(quillon_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

if(QUILLON_SANITIZE STREQUAL "address")
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
elseif(QUILLON_SANITIZE STREQUAL "thread")
  set(_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT QUILLON_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUILLON_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(QUILLON_BUILD_FUZZ)
  # Coverage instrumentation for everything; the fuzz targets add the libFuzzer main.
  set(_san -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endif()
if(_san)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()

# Every folder adds its sources through this helper so the options stay in one place.
function(quillon_library name)
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PUBLIC quillon_options)
endfunction()
