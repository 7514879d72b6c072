# The launcher's resources: version, skin pictures and icon, and (launcher.exe only) the manifest.
# The built-in skin is generated at build time; LAUNCHER_SKIN_DIR replaces it with an operator's.
set(SKIN_FILES 204.bmp 205.bmp 206.bmp 208.bmp 209.bmp 210.bmp 211.bmp 212.bmp 213.bmp 214.bmp
               215.bmp 216.bmp 217.bmp 218.ico 220.bmp 221.bmp 222.bmp)
if(LAUNCHER_SKIN_DIR)
  set(SKIN_DIR "${LAUNCHER_SKIN_DIR}")
  set(SKIN_OUTPUTS "")
  foreach(file IN LISTS SKIN_FILES)
    list(APPEND SKIN_OUTPUTS "${SKIN_DIR}/${file}")
  endforeach()
else()
  set(SKIN_DIR "${CMAKE_BINARY_DIR}/skin")
  set(SKIN_OUTPUTS "")
  foreach(file IN LISTS SKIN_FILES)
    list(APPEND SKIN_OUTPUTS "${SKIN_DIR}/${file}")
  endforeach()
  add_custom_command(OUTPUT ${SKIN_OUTPUTS}
    COMMAND /usr/bin/python3 "${CMAKE_SOURCE_DIR}/resources/skin/generate_skin.py" "${SKIN_DIR}"
    DEPENDS "${CMAKE_SOURCE_DIR}/resources/skin/generate_skin.py"
    COMMENT "Generating the built-in skin")
endif()

# Sizes and bit depths the layout needs; a wrong file stops the build with its name.
set(SKIN_CHECK_STAMP "${CMAKE_BINARY_DIR}/skin-checked.stamp")
add_custom_command(OUTPUT "${SKIN_CHECK_STAMP}"
  COMMAND /usr/bin/python3 "${CMAKE_SOURCE_DIR}/resources/skin/check_skin.py" "${SKIN_DIR}"
  COMMAND "${CMAKE_COMMAND}" -E touch "${SKIN_CHECK_STAMP}"
  DEPENDS ${SKIN_OUTPUTS} "${CMAKE_SOURCE_DIR}/resources/skin/check_skin.py"
  COMMENT "Checking the skin pictures in ${SKIN_DIR}")
add_custom_target(skin DEPENDS "${SKIN_CHECK_STAMP}")

# The version resource and the manifest carry LAUNCHER_FILE_VERSION; the manifest also names
# the architecture, which Windows checks before it starts the program.
string(REPLACE "." "," LAUNCHER_VERSION_COMMAS "${LAUNCHER_FILE_VERSION}")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LAUNCHER_MANIFEST_ARCH amd64)
else()
  set(LAUNCHER_MANIFEST_ARCH x86)
endif()
set(LAUNCHER_MANIFEST_PATH "${CMAKE_BINARY_DIR}/generated/launcher.manifest")
configure_file("${CMAKE_SOURCE_DIR}/resources/version.rc.in" "${CMAKE_BINARY_DIR}/generated/version.rc" @ONLY)
configure_file("${CMAKE_SOURCE_DIR}/resources/launcher.manifest.in" "${LAUNCHER_MANIFEST_PATH}" @ONLY)
configure_file("${CMAKE_SOURCE_DIR}/resources/manifest.rc.in" "${CMAKE_BINARY_DIR}/generated/manifest.rc" @ONLY)

configure_file("${CMAKE_SOURCE_DIR}/resources/skin.rc.in" "${CMAKE_BINARY_DIR}/generated/skin.rc" @ONLY)
set_source_files_properties("${CMAKE_BINARY_DIR}/generated/skin.rc" PROPERTIES
  OBJECT_DEPENDS "${SKIN_OUTPUTS};${SKIN_CHECK_STAMP}")
set_source_files_properties("${CMAKE_BINARY_DIR}/generated/manifest.rc" PROPERTIES
  OBJECT_DEPENDS "${LAUNCHER_MANIFEST_PATH}")

set(LAUNCHER_RESOURCE_FILES "${CMAKE_BINARY_DIR}/generated/version.rc" "${CMAKE_BINARY_DIR}/generated/skin.rc")
set(LAUNCHER_MANIFEST_FILE "${CMAKE_BINARY_DIR}/generated/manifest.rc")
