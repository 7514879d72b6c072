# The content mode (opt-in): with LAUNCHER_CONTENT_PATCHING=ON the launcher updates the client
# from the chunks of signed release manifests (docs/content-format.md). A chunk's SHA-256 is only
# as trustworthy as the manifest that lists it, so the mode needs the signing key. Off, the
# launcher is the one built without it: nothing of src/content is referenced, and static
# libraries give the program only what it references.
option(LAUNCHER_CONTENT_PATCHING "Build the content mode (needs LAUNCHER_SIGNING_PUBLIC_KEY)" OFF)
if(LAUNCHER_CONTENT_PATCHING AND NOT LAUNCHER_SIGNING_PUBLIC_KEY)
  message(FATAL_ERROR "LAUNCHER_CONTENT_PATCHING=ON needs LAUNCHER_SIGNING_PUBLIC_KEY: content chunks are "
                      "trusted through the signed manifest that lists them, so a launcher without a signing "
                      "key cannot use them")
endif()
if(LAUNCHER_CONTENT_PATCHING)
  set(LAUNCHER_CONTENT_PATCHING_VALUE 1)
else()
  set(LAUNCHER_CONTENT_PATCHING_VALUE 0)
endif()

# The content mode's mirrors: bases that serve the packs (chunk data) before the patch base,
# tried in their order; the signed manifest, the patch information and the release manifests
# still come from the patch base alone. A CMake list or a text with spaces; each entry an
# https:// address without a trailing slash.
set(LAUNCHER_CONTENT_MIRRORS "" CACHE STRING
    "Bases of content mirrors (https://..., no trailing slash) tried before the patch base, in order")
set(LAUNCHER_MAX_CONTENT_MIRRORS 8)  # kMaxContentMirrors, src/content_fetch/mirror_list.h

# Checks the mirrors `value` and writes the header `header` that content_mirrors.cpp reads.
function(launcher_content_mirrors_header value header)
  string(REGEX REPLACE "[ \t;]+" ";" entries "${value}")
  list(FILTER entries EXCLUDE REGEX "^$")
  list(LENGTH entries count)
  if(count GREATER LAUNCHER_MAX_CONTENT_MIRRORS)
    message(FATAL_ERROR "LAUNCHER_CONTENT_MIRRORS names ${count} mirrors; the launcher takes at most "
                        "${LAUNCHER_MAX_CONTENT_MIRRORS}")
  endif()
  foreach(entry IN LISTS entries)
    string(LENGTH "${entry}" length)
    if(NOT entry MATCHES "^[Hh][Tt][Tt][Pp][Ss]://[^/]" OR entry MATCHES "/$" OR length GREATER 200)
      message(FATAL_ERROR "LAUNCHER_CONTENT_MIRRORS: '${entry}' is not an https:// address of at most 200 "
                          "characters without a trailing slash")
    endif()
  endforeach()
  list(JOIN entries " " joined)
  launcher_c_string(LAUNCHER_CONTENT_MIRRORS_C "${joined}")
  configure_file("${CMAKE_SOURCE_DIR}/src/content_fetch/build_content_mirrors.h.in" "${header}" @ONLY)
endfunction()
if(LAUNCHER_CONTENT_MIRRORS AND NOT LAUNCHER_CONTENT_PATCHING)
  message(FATAL_ERROR "LAUNCHER_CONTENT_MIRRORS serves the content mode only: set LAUNCHER_CONTENT_PATCHING=ON "
                      "or leave the mirrors empty")
endif()
launcher_content_mirrors_header("${LAUNCHER_CONTENT_MIRRORS}" "${CMAKE_BINARY_DIR}/generated/build_content_mirrors.h")

# The content rooms' libraries (cmake/layers.cmake): the format room decodes with zstd, the
# worker's room gets the build's choice (only content_mode.cpp reads it).
function(launcher_content_layer prefix)
  if(TARGET ${prefix}_content_format)
    target_link_libraries(${prefix}_content_format PUBLIC launcher_zstd)
  endif()
  if(TARGET ${prefix}_content)
    target_compile_definitions(${prefix}_content PRIVATE LAUNCHER_CONTENT_PATCHING=${LAUNCHER_CONTENT_PATCHING_VALUE})
  endif()
endfunction()

# A content test launcher: launcher_keyed.exe (the build tree's test key) with the mode on. Like
# the key, only content_mode.cpp and content_mirrors.cpp differ: their copies compiled with the
# mode on and with the build_content_mirrors.h found first in include are linked ahead of
# launcher_core, with the content road's real definition (content_road_win32.cpp), which the
# default build leaves out.
function(launcher_add_content_test_exe name include)
  # The keys' object library: the build tree's test key unless a third argument names another.
  set(keys test_signing_key)
  if(ARGC GREATER 2)
    set(keys "${ARGV2}")
  endif()
  add_library(${name}_mode OBJECT "${CMAKE_SOURCE_DIR}/src/content/content_mode.cpp"
                                  "${CMAKE_SOURCE_DIR}/src/content_fetch/content_mirrors.cpp"
                                  "${CMAKE_SOURCE_DIR}/src/content/content_road_win32.cpp")
  target_include_directories(${name}_mode PRIVATE "${include}" "${CMAKE_SOURCE_DIR}/src")
  target_compile_options(${name}_mode PRIVATE ${LAUNCHER_WARNINGS})
  target_compile_definitions(${name}_mode PRIVATE LAUNCHER_CONTENT_PATCHING=1)
  add_executable(${name} WIN32 ${LAUNCHER_ENTRY_SOURCES} ${LAUNCHER_RESOURCE_FILES} ${LAUNCHER_MANIFEST_FILE}
                         $<TARGET_OBJECTS:${keys}> $<TARGET_OBJECTS:${name}_mode>)
  add_dependencies(${name} skin)
  target_link_libraries(${name} PRIVATE launcher_core)
endfunction()

# launcher_content.exe, for the end-to-end tests of the content mode: the build's own mirrors;
# launcher_content_rooted.exe the same with the build tree's test root keys.
function(launcher_add_content_test_launcher)
  launcher_add_content_test_exe(launcher_content "${CMAKE_BINARY_DIR}/generated")
  launcher_add_content_test_exe(launcher_content_rooted "${CMAKE_BINARY_DIR}/generated" test_root_keys)
endfunction()

# launcher_content_mirrors.exe: launcher_content.exe with two mirrors before the patch base, on
# the two ports above the test patch server's (tests/e2e/test_content_mirrors.py serves them).
function(launcher_add_content_mirrors_test_launcher port)
  math(EXPR first "${port} + 1")
  math(EXPR second "${port} + 2")
  set(dir "${CMAKE_BINARY_DIR}/test-mirrors")
  launcher_content_mirrors_header("https://127.0.0.1:${first}/mirror-a https://127.0.0.1:${second}/mirror-b"
                                  "${dir}/include/build_content_mirrors.h")
  launcher_add_content_test_exe(launcher_content_mirrors "${dir}/include")
endfunction()

# The content tests' data, for the unit test program target: the chunker's shared cut points from
# the source tree, stored chunks made at build time by the publisher's zstd library
# (tests/support/make_chunk_frames.py) and a delta made by the zstd program. drive is what makes a
# path of this machine one the program can open ("Z:" under Wine).
function(launcher_content_test_data target drive)
  set(frames "${CMAKE_BINARY_DIR}/test-data/chunk-frames")
  set(script "${CMAKE_SOURCE_DIR}/tests/support/make_chunk_frames.py")
  if(NOT TARGET chunk_frames)
    add_custom_command(OUTPUT "${frames}/ready" COMMAND /usr/bin/python3 "${script}" "${frames}"
                       DEPENDS "${script}" COMMENT "Making the chunk decoder's test frames")
    add_custom_target(chunk_frames DEPENDS "${frames}/ready")
  endif()
  # The delta applier's base, new file and delta, made by the zstd program.
  set(deltas "${CMAKE_BINARY_DIR}/test-data/deltas")
  set(delta_script "${CMAKE_SOURCE_DIR}/tests/support/make_delta_files.py")
  if(NOT TARGET delta_files)
    add_custom_command(OUTPUT "${deltas}/ready" COMMAND /usr/bin/python3 "${delta_script}" "${deltas}"
                       DEPENDS "${delta_script}" COMMENT "Making the delta applier's test files")
    add_custom_target(delta_files DEPENDS "${deltas}/ready")
  endif()
  add_dependencies(${target} chunk_frames delta_files)
  target_compile_definitions(${target} PRIVATE TEST_VECTORS_DIR="${drive}${CMAKE_SOURCE_DIR}/tests/vectors"
                                               TEST_FRAMES_DIR="${drive}${frames}"
                                               TEST_DELTAS_DIR="${drive}${deltas}")
endfunction()
