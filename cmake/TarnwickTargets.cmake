# Shared compile settings for every Tarnwick target.

set(TARNWICK_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared"
  CACHE PATH "Folder with the shared test data (testdata/windows-volumes)")

# Warnings apply to our own code only; third-party headers come in as SYSTEM.
function(tarnwick_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TARNWICK_BUILD_FUZZERS)
    # Coverage for libFuzzer in every unit; only the fuzz targets link its main.
    target_compile_options(${target} PRIVATE
      -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  elseif(TARNWICK_SANITIZE)
    target_compile_options(${target} PRIVATE
      -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  elseif(TARNWICK_SANITIZE_THREAD)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()

# A static library of one layer, with its folder's parent as include root so
# that headers are included as "foundation/uLists.h".
function(tarnwick_add_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC "${CMAKE_SOURCE_DIR}")
  target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
  tarnwick_target_defaults(${target})
endfunction()

# An executable linked with the sanitizers when they are on.
function(tarnwick_add_executable target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_DEPENDS})
  tarnwick_target_defaults(${target})
endfunction()
