# minizip's unzip with its Win32 file functions, built from the sources that the
# setup script unpacked from Debian's zlib source package into the build tree.
set(MINIZIP_DIR "${CMAKE_SOURCE_DIR}/build/deps/minizip" CACHE PATH "minizip sources (unzip.c, ioapi.c, iowin32.c)")
if(NOT EXISTS "${MINIZIP_DIR}/unzip.c")
  message(FATAL_ERROR "minizip sources not found in ${MINIZIP_DIR}: run scripts/setup.sh first")
endif()
# Static zlib: a player's Windows has no zlib1.dll (Wine has one, so only the PE check sees it).
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
add_library(minizip STATIC "${MINIZIP_DIR}/unzip.c" "${MINIZIP_DIR}/ioapi.c" "${MINIZIP_DIR}/iowin32.c")
target_include_directories(minizip SYSTEM PUBLIC "${MINIZIP_DIR}")
target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
target_compile_options(minizip PRIVATE -w)
