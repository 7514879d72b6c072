# The launcher's resources: version, manifest, icon and skin bitmaps.
set(LAUNCHER_RESOURCE_FILES "${CMAKE_SOURCE_DIR}/resources/version.rc")
