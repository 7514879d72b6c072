# Native configuration: the portable sources and their tests under ASan and UBSan.
add_subdirectory(${GTEST_DIR} "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)

find_package(Threads REQUIRED)
include(cmake/zstd.cmake)
add_library(launcher_portable_flags INTERFACE)
target_compile_options(launcher_portable_flags INTERFACE ${LAUNCHER_WARNINGS} ${LAUNCHER_CHARSET} ${SANITIZE})
target_link_options(launcher_portable_flags INTERFACE ${SANITIZE})
target_link_libraries(launcher_portable_flags INTERFACE Threads::Threads)

# launcher_portable_<folder> per folder of src/ (cmake/layers.cmake); launcher_portable links them all.
include(cmake/layers.cmake)
launcher_add_layers(launcher_portable launcher_portable_flags ${LAUNCHER_PORTABLE_SOURCES} ${LAUNCHER_POSIX_SOURCES})
launcher_content_layer(launcher_portable)

add_executable(unit_tests_native ${UNIT_PORTABLE_TESTS} ${UNIT_NATIVE_TESTS} ${UNIT_SUPPORT_PORTABLE})
target_include_directories(unit_tests_native PRIVATE "${CMAKE_SOURCE_DIR}/tests/unit")
target_link_libraries(unit_tests_native PRIVATE launcher_portable gtest gtest_main)
launcher_content_test_data(unit_tests_native "")
add_test(NAME unit_tests_native COMMAND unit_tests_native --gtest_brief=1)
set_tests_properties(unit_tests_native PROPERTIES
  ENVIRONMENT "TEST_DATA_DIR=${CMAKE_SOURCE_DIR}/tests/data;TEST_BUILD_DIR=${CMAKE_BINARY_DIR}"
  TIMEOUT 300)

# Each benchmark compiles the portable code it measures, optimised and without sanitizers.
set(NATIVE_BENCH_MEASURES_opacity_native_bench src/skin/pixels.cpp)
set(NATIVE_BENCH_MEASURES_chunker_native_bench src/content_format/content_chunker.cpp)
file(GLOB NATIVE_BENCH_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/bench/*_native_bench.cpp")
foreach(source IN LISTS NATIVE_BENCH_SOURCES)
  get_filename_component(name "${source}" NAME_WE)
  set(measured ${NATIVE_BENCH_MEASURES_${name}})
  list(TRANSFORM measured PREPEND "${CMAKE_SOURCE_DIR}/")
  add_executable(${name} EXCLUDE_FROM_ALL ${source} ${measured})
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/src" "${CMAKE_BINARY_DIR}/generated")
  target_compile_options(${name} PRIVATE -O2 ${LAUNCHER_CHARSET})
  target_link_libraries(${name} PRIVATE Threads::Threads)
endforeach()

# The chunker's committed cut points are what their plain generator writes.
add_test(NAME chunker_vectors
  COMMAND /bin/sh -c "/usr/bin/python3 \"$0\" \"$1\" && diff -u \"$2\" \"$1\""
          "${CMAKE_SOURCE_DIR}/tests/vectors/make_chunker_vectors.py" "${CMAKE_BINARY_DIR}/chunker_cuts.txt"
          "${CMAKE_SOURCE_DIR}/tests/vectors/chunker_cuts.txt")
set_tests_properties(chunker_vectors PROPERTIES TIMEOUT 300)

# The start-up benchmark's eye on the X display: when a window is mapped and shows a picture.
find_package(X11)
if(X11_FOUND)
  add_executable(startup_watch EXCLUDE_FROM_ALL "${CMAKE_SOURCE_DIR}/bench/startup_watch.cpp")
  target_compile_options(startup_watch PRIVATE -O2 ${LAUNCHER_WARNINGS})
  target_include_directories(startup_watch PRIVATE ${X11_INCLUDE_DIR})
  target_link_libraries(startup_watch PRIVATE ${X11_LIBRARIES})
endif()

# The Python tools: the test patch server and the skin generator.
add_test(NAME python_tools COMMAND /usr/bin/python3 -m pytest -q -p no:cacheprovider
         "${CMAKE_SOURCE_DIR}/tests/support" "${CMAKE_SOURCE_DIR}/tests/skin" "${CMAKE_SOURCE_DIR}/tests/tools")
set_tests_properties(python_tools PROPERTIES TIMEOUT 300)

# The shared display state under ThreadSanitizer, in a target of its own (TSan cannot be
# combined with ASan); GoogleTest is compiled into it with the same instrumentation.
set(TSAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer -g)
add_executable(display_state_tsan
  "${CMAKE_SOURCE_DIR}/tests/tsan/display_state_tsan_test.cpp"
  "${CMAKE_SOURCE_DIR}/src/common/shared_text.cpp"
  "${CMAKE_SOURCE_DIR}/src/common/display_state.cpp"
  "${CMAKE_SOURCE_DIR}/src/common/bounded_text.cpp"
  "${GTEST_DIR}/googletest/src/gtest-all.cc"
  "${GTEST_DIR}/googletest/src/gtest_main.cc")
target_include_directories(display_state_tsan PRIVATE "${CMAKE_SOURCE_DIR}/src"
  "${GTEST_DIR}/googletest/include" "${GTEST_DIR}/googletest")
target_compile_options(display_state_tsan PRIVATE ${LAUNCHER_WARNINGS} ${TSAN_FLAGS})
target_link_options(display_state_tsan PRIVATE -fsanitize=thread)
target_link_libraries(display_state_tsan PRIVATE Threads::Threads)
add_test(NAME display_state_tsan COMMAND display_state_tsan --gtest_brief=1)
set_tests_properties(display_state_tsan PROPERTIES
  ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1" TIMEOUT 300)
