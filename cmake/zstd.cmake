# zstd's decompressor, which the content mode's chunks are stored with.
# Windows: lib/common and lib/decompress of Debian's zstd source package, which the setup script
# unpacked into the build tree, as a static library (a player's Windows has no zstd DLL); no
# assembly file, so both MinGW targets build the same C. Native: Debian's libzstd-dev, the
# same upstream release, whose compressor the native tests use to make frames.
if(LAUNCHER_WIN32)
  set(ZSTD_DIR "${CMAKE_SOURCE_DIR}/build/deps/zstd" CACHE PATH "zstd sources (lib/common, lib/decompress, lib/zstd.h)")
  if(NOT EXISTS "${ZSTD_DIR}/lib/decompress/zstd_decompress.c")
    message(FATAL_ERROR "zstd sources not found in ${ZSTD_DIR}: run scripts/setup.sh first")
  endif()
  file(GLOB ZSTD_SOURCES "${ZSTD_DIR}/lib/common/*.c" "${ZSTD_DIR}/lib/decompress/*.c")
  add_library(launcher_zstd STATIC ${ZSTD_SOURCES})
  target_include_directories(launcher_zstd SYSTEM PUBLIC "${ZSTD_DIR}/lib")
  target_compile_definitions(launcher_zstd PRIVATE ZSTD_DISABLE_ASM)
  # It builds without a warning; a new compiler's warning in zstd is not a reason to stop ours.
  target_compile_options(launcher_zstd PRIVATE -Wall -Wextra)
else()
  find_path(ZSTD_INCLUDE_DIR zstd.h)
  find_library(ZSTD_LIBRARY zstd)
  if(NOT ZSTD_INCLUDE_DIR OR NOT ZSTD_LIBRARY)
    message(FATAL_ERROR "zstd (zstd.h, libzstd) not found: run scripts/setup.sh first (Debian's libzstd-dev)")
  endif()
  add_library(launcher_zstd INTERFACE)
  target_include_directories(launcher_zstd SYSTEM INTERFACE "${ZSTD_INCLUDE_DIR}")
  target_link_libraries(launcher_zstd INTERFACE "${ZSTD_LIBRARY}")
endif()
