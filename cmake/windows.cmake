# Windows configuration: launcher.exe, the Windows unit tests and the test support programs.
# The same sources build for i686 and x86_64 with the same flags; warnings are errors in both.
include(cmake/minizip.cmake)
include(cmake/zstd.cmake)
list(APPEND LAUNCHER_WARNINGS -Werror)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LAUNCHER_ARCH x86_64)
else()
  set(LAUNCHER_ARCH i686)
endif()

add_subdirectory(${GTEST_DIR} "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

set(LAUNCHER_WIN32_LIBS wininet winmm version gdi32 user32 shell32 advapi32 comctl32 crypt32 bcrypt)

# What every piece of the product and its tests is built with.
add_library(launcher_flags INTERFACE)
target_compile_options(launcher_flags INTERFACE ${LAUNCHER_WARNINGS} ${LAUNCHER_CHARSET})
target_compile_definitions(launcher_flags INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(launcher_flags INTERFACE ${LAUNCHER_WIN32_LIBS})
target_link_options(launcher_flags INTERFACE -static -static-libgcc -static-libstdc++)

# launcher_core_<folder> per folder of src/ (cmake/layers.cmake); launcher_core links them all.
include(cmake/layers.cmake)
launcher_add_layers(launcher_core launcher_flags ${LAUNCHER_PORTABLE_SOURCES} ${LAUNCHER_WIN32_SOURCES})
target_link_libraries(launcher_core_download PUBLIC minizip)
launcher_content_layer(launcher_core)

# The product's message box; the unit tests link a recorder in its place.
add_library(launcher_message_box OBJECT "${CMAKE_SOURCE_DIR}/src/common/message_box_win32.cpp")
target_include_directories(launcher_message_box PRIVATE "${CMAKE_BINARY_DIR}/layer-views/launcher_core/common")
target_link_libraries(launcher_message_box PUBLIC launcher_flags)

include(cmake/resources.cmake)

add_executable(launcher WIN32 "${CMAKE_SOURCE_DIR}/src/shell/main_win32.cpp" ${LAUNCHER_RESOURCE_FILES}
                           ${LAUNCHER_MANIFEST_FILE})
add_dependencies(launcher skin)
target_link_libraries(launcher PRIVATE launcher_core launcher_message_box)
set_target_properties(launcher PROPERTIES OUTPUT_NAME launcher)
launcher_add_keyed_test_launcher()
launcher_add_rooted_test_launcher()
launcher_add_content_test_launcher()
include(cmake/updater.cmake)

# What we ship, checked without running it: PE type, GUI subsystem, version, manifest, skin
# resources, and imports from system DLLs only. launcher_content.exe stands for a launcher built
# with the content mode; until it calls the content code, the unit tests are the program that
# links zstd, so their imports are checked too.
add_test(NAME pe_check COMMAND /usr/bin/python3 "${CMAKE_SOURCE_DIR}/tests/support/check_pe.py"
         --arch ${LAUNCHER_ARCH} --version ${LAUNCHER_FILE_VERSION} --launcher $<TARGET_FILE:launcher>
         $<TARGET_FILE:launcher_content> --program $<TARGET_FILE:updater> --program $<TARGET_FILE:updater_keyed>
         --imports $<TARGET_FILE:unit_tests>)
set_tests_properties(pe_check PROPERTIES TIMEOUT 60)

# Unit tests: portable and Windows tests together in one executable, with the product's
# resources linked in so the version resource and skin bitmaps are the real ones.
add_executable(unit_tests ${UNIT_PORTABLE_TESTS} ${UNIT_WIN32_TESTS} ${UNIT_SUPPORT_SOURCES}
                          ${LAUNCHER_RESOURCE_FILES})
target_include_directories(unit_tests PRIVATE "${CMAKE_SOURCE_DIR}/tests/unit")
# The version the build gives the launcher, for the test of its version resource.
target_compile_definitions(unit_tests PRIVATE TEST_LAUNCHER_FILE_VERSION="${LAUNCHER_FILE_VERSION}")
launcher_content_test_data(unit_tests "Z:")
target_link_libraries(unit_tests PRIVATE launcher_core gtest gtest_main ws2_32)  # ws2_32: the plain-HTTP listener
add_dependencies(unit_tests skin)

# The test patch server runs for the Windows tests as a CTest fixture; its authority is
# imported into the build's Wine prefix only.
set(TEST_PATCH_PORT 48443 CACHE STRING "Port of the test patch server")
set(TEST_SERVER_STATE "${CMAKE_BINARY_DIR}/patch-server")
launcher_add_content_mirrors_test_launcher(${TEST_PATCH_PORT})
add_test(NAME patch_server_start
  COMMAND "${CMAKE_SOURCE_DIR}/tests/support/server_fixture.sh" start "${TEST_SERVER_STATE}" ${TEST_PATCH_PORT})
add_test(NAME patch_server_stop
  COMMAND "${CMAKE_SOURCE_DIR}/tests/support/server_fixture.sh" stop "${TEST_SERVER_STATE}")
set_tests_properties(patch_server_start PROPERTIES FIXTURES_SETUP patch_server TIMEOUT 120)
set_tests_properties(patch_server_stop PROPERTIES FIXTURES_CLEANUP patch_server TIMEOUT 30)

set(UNIT_TEST_ENV
  "TEST_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "TEST_PATCH_PORT=${TEST_PATCH_PORT}"
  "TEST_PATCH_STATE=${TEST_SERVER_STATE}")
add_test(NAME unit_tests_wine COMMAND unit_tests --gtest_brief=1)
set_tests_properties(unit_tests_wine PROPERTIES
  ENVIRONMENT "${UNIT_TEST_ENV}" FIXTURES_REQUIRED patch_server TIMEOUT 900)

# Programs the tests start: stand-ins for the updater and the game, the CA importer, ...
file(GLOB SUPPORT_PROGRAMS CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/support/programs/*.cpp")
foreach(source IN LISTS SUPPORT_PROGRAMS)
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${LAUNCHER_WARNINGS})
  target_link_libraries(${name} PRIVATE ${LAUNCHER_WIN32_LIBS})
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
endforeach()

# Renders the frame of a display state with the product's own code: the oracle of the pixels
# that end-to-end tests read off the screen.
add_executable(render_frame "${CMAKE_SOURCE_DIR}/tests/support/render_frame_win32.cpp" ${LAUNCHER_RESOURCE_FILES})
target_link_libraries(render_frame PRIVATE launcher_core launcher_message_box)
add_dependencies(render_frame skin)

file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/bench/*_win32_bench.cpp")
foreach(source IN LISTS BENCH_SOURCES)
  get_filename_component(name "${source}" NAME_WE)
  if(name STREQUAL "empty_window_win32_bench")
    continue()
  endif()
  add_executable(${name} EXCLUDE_FROM_ALL ${source} ${LAUNCHER_RESOURCE_FILES})
  target_link_libraries(${name} PRIVATE launcher_core launcher_message_box)
  add_dependencies(${name} skin)
endforeach()
# The start-up benchmark's empty program: a GUI program like the launcher, with nothing of it.
add_executable(empty_window_win32_bench WIN32 EXCLUDE_FROM_ALL "${CMAKE_SOURCE_DIR}/bench/empty_window_win32_bench.cpp")
target_link_libraries(empty_window_win32_bench PRIVATE launcher_flags)

# End-to-end tests: the real launcher.exe under Wine on the test display (pytest), split over
# workers with a network, display and prefix each where the machine allows it (e2e_run.sh).
add_test(NAME e2e COMMAND "${CMAKE_SOURCE_DIR}/tests/support/e2e_run.sh")
set_tests_properties(e2e PROPERTIES ENVIRONMENT "${UNIT_TEST_ENV}" FIXTURES_REQUIRED patch_server TIMEOUT 2400)
