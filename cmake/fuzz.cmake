# Fuzz configuration: libFuzzer targets over the portable code that reads files, server texts
# and settings, under ASan and UBSan. Each tests/fuzz/NAME_fuzz.cpp is one target; CTest runs
# it for a few seconds over a scratch copy of tests/fuzz/corpus/NAME and replays every input
# kept in tests/fuzz/regressions/NAME. scripts/fuzz.sh runs them longer.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The fuzz configuration needs clang and libFuzzer: configure it with "
                      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ (scripts/env.sh: configure_fuzz)")
endif()

find_package(Threads REQUIRED)

set(FUZZ_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all)
set(FUZZ_CODEGEN -g -O1 -fno-omit-frame-pointer)

# Only what the targets reach is built. clang has no CP949 execution character set; nothing
# fuzzed here depends on the bytes of the Korean built-in texts, so they stay UTF-8 in this
# configuration (LAUNCHER_CHARSET is left out).
set(FUZZ_LIBRARY_SOURCES
  src/common/bounded_text.cpp
  src/common/display_state.cpp
  src/common/file_replace_posix.cpp
  src/common/shared_text.cpp
  src/common/text_scan.cpp
  src/content_format/content_chunker.cpp
  src/content_format/content_release.cpp
  src/paths/name_fold.cpp
  src/paths/safe_path.cpp
  src/paths/short_name_alias.cpp
  src/paths/upcase_table.cpp
  src/settings/aes256.cpp
  src/settings/apply_settings.cpp
  src/settings/config_cipher.cpp
  src/settings/launcher_settings.cpp
  src/settings/version_record.cpp
  src/update/line_fields.cpp
  src/update/manifest.cpp
  src/update/root_document.cpp
  src/update/patch_info.cpp
  src/update/url_split.cpp
  src/update/url_split_posix.cpp
  src/update/versions.cpp
  # Every target reaches version_record.cpp and so needs a message box: the unit tests' recorder.
  tests/unit/support/message_box_recorder.cpp)
list(TRANSFORM FUZZ_LIBRARY_SOURCES PREPEND "${CMAKE_SOURCE_DIR}/")

add_library(launcher_fuzz_code STATIC ${FUZZ_LIBRARY_SOURCES})
target_include_directories(launcher_fuzz_code PUBLIC
  "${CMAKE_SOURCE_DIR}/src" "${CMAKE_BINARY_DIR}/generated" "${CMAKE_SOURCE_DIR}/tests/unit")
target_compile_options(launcher_fuzz_code PRIVATE ${LAUNCHER_WARNINGS} -fsanitize=fuzzer-no-link
                       ${FUZZ_SANITIZE} ${FUZZ_CODEGEN})
target_link_libraries(launcher_fuzz_code PUBLIC Threads::Threads)
# The block cipher's branches follow the bytes it scrambles, not the input's structure: as
# coverage they only add noise, and their comparison tracing cost most of each run.
set_source_files_properties("${CMAKE_SOURCE_DIR}/src/settings/aes256.cpp" TARGET_DIRECTORY launcher_fuzz_code
  PROPERTIES COMPILE_OPTIONS -fno-sanitize=fuzzer-no-link)

set(FUZZ_RUNNER "${CMAKE_SOURCE_DIR}/tests/fuzz/run_fuzz.sh")
# Seconds per target in the test command (which runs as many targets at once as there are cores).
set(FUZZ_SECONDS 8 CACHE STRING "Seconds each fuzz target runs under CTest")

file(GLOB FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp")
foreach(source IN LISTS FUZZ_TARGET_SOURCES)
  get_filename_component(target "${source}" NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name "${target}")
  add_executable(${target} ${source})
  target_compile_options(${target} PRIVATE ${LAUNCHER_WARNINGS} -fsanitize=fuzzer ${FUZZ_SANITIZE} ${FUZZ_CODEGEN})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer ${FUZZ_SANITIZE})
  target_link_libraries(${target} PRIVATE launcher_fuzz_code)

  add_test(NAME fuzz_${name}
    COMMAND "${FUZZ_RUNNER}" run $<TARGET_FILE:${target}> "${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name}"
            "${CMAKE_BINARY_DIR}/fuzz-work/${name}" ${FUZZ_SECONDS})
  set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 60)
  add_test(NAME fuzz_${name}_regressions
    COMMAND "${FUZZ_RUNNER}" replay $<TARGET_FILE:${target}> "${CMAKE_SOURCE_DIR}/tests/fuzz/regressions/${name}")
  set_tests_properties(fuzz_${name}_regressions PROPERTIES TIMEOUT 60)
endforeach()
