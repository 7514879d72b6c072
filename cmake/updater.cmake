# Updater.exe: the program the launcher hands installer and launcher updates to, built beside
# launcher.exe for the same architecture. Its portable files are part of the portable sources
# (and their native tests); its Win32 files build only here.
file(GLOB UPDATER_WIN32_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/src/updater/*_win32.cpp")

set(UPDATER_MANIFEST_PATH "${CMAKE_BINARY_DIR}/generated/updater/updater.manifest")
configure_file("${CMAKE_SOURCE_DIR}/resources/updater.manifest.in" "${UPDATER_MANIFEST_PATH}" @ONLY)
configure_file("${CMAKE_SOURCE_DIR}/resources/updater.rc.in" "${CMAKE_BINARY_DIR}/generated/updater/updater.rc" @ONLY)
set_source_files_properties("${CMAKE_BINARY_DIR}/generated/updater/updater.rc" PROPERTIES
  OBJECT_DEPENDS "${UPDATER_MANIFEST_PATH}")

# Its portable part is the layer launcher_core_updater (cmake/layers.cmake); its Win32 files see
# the same view of src/: the Updater and update (for the signed manifest) with what lies below,
# nothing of the launcher's other folders. Extra sources (ARGN) are linked ahead of the libraries.
function(add_updater target)
  add_executable(${target} WIN32 ${UPDATER_WIN32_SOURCES} "${CMAKE_BINARY_DIR}/generated/updater/updater.rc" ${ARGN})
  target_include_directories(${target} PRIVATE "${CMAKE_BINARY_DIR}/layer-views/launcher_core/updater")
  target_link_libraries(${target} PRIVATE launcher_core_updater launcher_flags wintrust)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME Updater)
endfunction()
add_updater(updater)

# A launcher that differs from launcher.exe only in its version (resource and manifest): what
# an operator publishes to test the Updater's whole road. In next/launcher.exe.
set(LAUNCHER_NEXT_VERSION "1.1.1.25" CACHE STRING "Version of the test launcher next/launcher.exe")

# Extra sources (ARGN) are linked ahead of launcher_core.
function(add_launcher_of_version target version folder)
  set(LAUNCHER_FILE_VERSION "${version}")
  string(REPLACE "." "," LAUNCHER_VERSION_COMMAS "${version}")
  set(generated "${CMAKE_BINARY_DIR}/generated/${target}")
  set(LAUNCHER_MANIFEST_PATH "${generated}/launcher.manifest")
  configure_file("${CMAKE_SOURCE_DIR}/resources/version.rc.in" "${generated}/version.rc" @ONLY)
  configure_file("${CMAKE_SOURCE_DIR}/resources/launcher.manifest.in" "${LAUNCHER_MANIFEST_PATH}" @ONLY)
  configure_file("${CMAKE_SOURCE_DIR}/resources/manifest.rc.in" "${generated}/manifest.rc" @ONLY)
  set_source_files_properties("${generated}/manifest.rc" PROPERTIES OBJECT_DEPENDS "${LAUNCHER_MANIFEST_PATH}")
  add_executable(${target} WIN32 ${LAUNCHER_ENTRY_SOURCES} "${generated}/version.rc"
                                 "${CMAKE_BINARY_DIR}/generated/skin.rc" "${generated}/manifest.rc" ${ARGN})
  add_dependencies(${target} skin)
  target_link_libraries(${target} PRIVATE launcher_core)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME launcher RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${folder}")
endfunction()
add_launcher_of_version(launcher_next "${LAUNCHER_NEXT_VERSION}" next)

# The frame oracle of that launcher: its version label reads the next version.
add_executable(render_frame_next "${CMAKE_SOURCE_DIR}/tests/support/render_frame_win32.cpp"
  "${CMAKE_BINARY_DIR}/generated/launcher_next/version.rc" "${CMAKE_BINARY_DIR}/generated/skin.rc"
  "${CMAKE_SOURCE_DIR}/src/common/message_box_win32.cpp")
target_link_libraries(render_frame_next PRIVATE launcher_core)
add_dependencies(render_frame_next skin)
set_target_properties(render_frame_next PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/next"
                                                   OUTPUT_NAME render_frame)

# The keyed road for the end-to-end tests: keyed/Updater.exe checks what it installs against the
# manifest signed with the build tree's test key (cmake/signing.cmake), and keyed/next/launcher.exe
# is the next launcher with that key, for an operator who signs to publish. Like
# launcher_keyed.exe, only signing_key.cpp differs: its test-key copy is linked ahead of the
# library's.
add_updater(updater_keyed $<TARGET_OBJECTS:test_signing_key>)
set_target_properties(updater_keyed PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/keyed")
add_launcher_of_version(launcher_next_keyed "${LAUNCHER_NEXT_VERSION}" keyed/next $<TARGET_OBJECTS:test_signing_key>)

# The same road with the build tree's test root keys (cmake/signing.cmake): rooted/Updater.exe
# and rooted/next/launcher.exe trust the online keys of the newest root document.
add_updater(updater_rooted $<TARGET_OBJECTS:test_root_keys>)
set_target_properties(updater_rooted PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/rooted")
add_launcher_of_version(launcher_next_rooted "${LAUNCHER_NEXT_VERSION}" rooted/next $<TARGET_OBJECTS:test_root_keys>)
