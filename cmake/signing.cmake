# The operator's signing key (opt-in): with LAUNCHER_SIGNING_PUBLIC_KEY set, the launcher fetches
# the signed manifest beside the patch information and installs only what it lists. The PEM
# public key (SubjectPublicKeyInfo, as `openssl ec -pubout` writes it) is checked here and
# baked in as its point's X and Y; without it the launcher never asks for the manifest.
set(LAUNCHER_SIGNING_PUBLIC_KEY "" CACHE FILEPATH
    "PEM file of the ECDSA P-256 public key that signs LauncherPatchInfo.manifest (empty: no manifest is used)")
# The root keys (opt-in, instead of the one key above): a file `publish_patch.py root-keys`
# writes, naming N P-256 public keys and how many of them must sign the first root document.
# The launcher then trusts the online keys of the newest root document they vouch for.
set(LAUNCHER_ROOT_KEYS "" CACHE FILEPATH
    "root keys file (publish_patch.py root-keys): root keys and threshold instead of one signing key")

# DER of a P-256 SubjectPublicKeyInfo up to the uncompressed point: id-ecPublicKey, prime256v1,
# the bit string, then 04. X and Y (32 bytes each) follow.
set(LAUNCHER_P256_SPKI_PREFIX "3059301306072a8648ce3d020106082a8648ce3d03010703420004")

# The point of the PEM public key file `pem` as 128 lowercase hex digits (X then Y) into `out`.
# Anything but a P-256 public key stops the configuration with the file's name.
function(launcher_public_key_point pem out)
  if(NOT EXISTS "${pem}")
    message(FATAL_ERROR "signing key ${pem}: no such file")
  endif()
  # A changed key file configures the build again.
  set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
  find_program(LAUNCHER_OPENSSL openssl)
  if(NOT LAUNCHER_OPENSSL)
    message(FATAL_ERROR "signing key ${pem}: the openssl command is needed to read it")
  endif()
  file(READ "${pem}" text LIMIT 64)
  if(NOT text MATCHES "^-----BEGIN PUBLIC KEY-----")
    message(FATAL_ERROR "signing key ${pem}: not a PEM public key (\"-----BEGIN PUBLIC KEY-----\"); "
                        "write one with: openssl ec -in PRIVATE_KEY -pubout -out ${pem}")
  endif()
  set(der "${CMAKE_CURRENT_BINARY_DIR}/signing-key.der")
  # A point written compressed is expanded; other key types pass through unchanged and fail below.
  execute_process(COMMAND "${LAUNCHER_OPENSSL}" ec -pubin -in "${pem}" -pubout -outform DER
                          -conv_form uncompressed -out "${der}"
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "signing key ${pem}: not an EC public key (${error})")
  endif()
  file(READ "${der}" hex HEX)
  file(REMOVE "${der}")
  string(LENGTH "${hex}" length)
  string(LENGTH "${LAUNCHER_P256_SPKI_PREFIX}" prefix_length)
  if(NOT length EQUAL 182 OR NOT hex MATCHES "^${LAUNCHER_P256_SPKI_PREFIX}")
    message(FATAL_ERROR "signing key ${pem}: not an ECDSA P-256 (prime256v1) public key")
  endif()
  string(SUBSTRING "${hex}" ${prefix_length} 128 point)
  set(${out} "${point}" PARENT_SCOPE)
endfunction()

# Reads the root keys file `file` into LAUNCHER_ROOT_KEYS_PRESENT, LAUNCHER_ROOT_THRESHOLD and
# LAUNCHER_ROOT_KEY_BYTES (the caller's). An empty `file` gives no keys; anything but the
# format below stops the configuration with the file's name:
#   QOR-PATCH-ROOT-KEYS 1
#   threshold <m>
#   root <128 lowercase hex: X then Y>    (1 to 8, ascending, no two alike; m of them sign)
function(launcher_read_root_keys file)
  set(present false)
  set(threshold 0)
  set(bytes "{0}")
  if(file)
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "root keys ${file}: no such file")
    endif()
    set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
    file(STRINGS "${file}" lines LIMIT_INPUT 4096)
    list(LENGTH lines count)
    if(count LESS 3)
      message(FATAL_ERROR "root keys ${file}: not a root keys file; write one with publish_patch.py root-keys")
    endif()
    math(EXPR keys "${count} - 2")
    list(GET lines 0 format)
    list(GET lines 1 threshold_line)
    if(NOT format STREQUAL "QOR-PATCH-ROOT-KEYS 1" OR NOT threshold_line MATCHES "^threshold ([1-8])$"
       OR keys LESS 1 OR keys GREATER 8)
      message(FATAL_ERROR "root keys ${file}: not a root keys file; write one with publish_patch.py root-keys")
    endif()
    set(threshold ${CMAKE_MATCH_1})
    if(threshold GREATER keys)
      message(FATAL_ERROR "root keys ${file}: a threshold of ${threshold} with ${keys} key(s)")
    endif()
    list(SUBLIST lines 2 -1 roots)
    set(bytes "")
    set(previous "")
    foreach(line IN LISTS roots)
      if(NOT line MATCHES "^root ([0-9a-f]+)$")
        message(FATAL_ERROR "root keys ${file}: \"${line}\" is not \"root\" and a key's 128 hex digits")
      endif()
      set(point "${CMAKE_MATCH_1}")
      string(LENGTH "${point}" length)
      # Ascending hex is ascending bytes: a key given twice would count twice towards the threshold.
      if(NOT length EQUAL 128 OR NOT point STRGREATER previous)
        message(FATAL_ERROR "root keys ${file}: the keys are 128 hex digits each, ascending, no two alike")
      endif()
      set(previous "${point}")
      string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," point "${point}")
      string(APPEND bytes "{${point}},")
    endforeach()
    set(present true)
  endif()
  set(LAUNCHER_ROOT_KEYS_PRESENT ${present} PARENT_SCOPE)
  set(LAUNCHER_ROOT_THRESHOLD ${threshold} PARENT_SCOPE)
  set(LAUNCHER_ROOT_KEY_BYTES "${bytes}" PARENT_SCOPE)
endfunction()

# Reads the PEM public key file `pem` and the root keys file `roots`, and writes the header
# `header` with kSigningKeyPresent and kSigningPublicKey (X then Y) and the root keys. An empty
# `pem` gives the header of a launcher without a key. Anything but a P-256 public key stops
# the configuration with the file's name; so do both at once.
function(launcher_signing_key_header pem header roots)
  if(pem AND roots)
    message(FATAL_ERROR "LAUNCHER_SIGNING_PUBLIC_KEY and LAUNCHER_ROOT_KEYS: give one, the root keys replace the key")
  endif()
  launcher_read_root_keys("${roots}")
  set(present false)
  set(bytes "")
  if(pem)
    launcher_public_key_point("${pem}" point)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${point}")
    set(present true)
  endif()
  set(LAUNCHER_SIGNING_KEY_PRESENT ${present})
  set(LAUNCHER_SIGNING_KEY_BYTES "${bytes}")
  configure_file("${CMAKE_SOURCE_DIR}/src/update/build_signing_key.h.in" "${header}" @ONLY)
endfunction()

launcher_signing_key_header("${LAUNCHER_SIGNING_PUBLIC_KEY}" "${CMAKE_BINARY_DIR}/generated/build_signing_key.h"
                            "${LAUNCHER_ROOT_KEYS}")

# The object library `keys` (signing_key.cpp compiled against the build_signing_key.h in
# `include`) and the launcher `exe` linked with it ahead of launcher_core, whose own copy the
# linker then never takes from the library.
function(launcher_add_test_keys_launcher exe keys include)
  add_library(${keys} OBJECT "${CMAKE_SOURCE_DIR}/src/update/signing_key.cpp")
  target_include_directories(${keys} PRIVATE "${include}" "${CMAKE_SOURCE_DIR}/src")
  target_compile_options(${keys} PRIVATE ${LAUNCHER_WARNINGS})
  add_executable(${exe} WIN32 ${LAUNCHER_ENTRY_SOURCES} ${LAUNCHER_RESOURCE_FILES} ${LAUNCHER_MANIFEST_FILE}
                        $<TARGET_OBJECTS:${keys}>)
  add_dependencies(${exe} skin)
  target_link_libraries(${exe} PRIVATE launcher_core)
endfunction()

# launcher_keyed.exe, for the end-to-end tests: the launcher branded with a key pair made once
# for this build tree (test-signing/signing.key and .pub), so that one configuration tests both
# roads. Only signing_key.cpp differs: its copy compiled against the test key is linked ahead
# of launcher_core, whose own copy the linker then never takes from the library.
function(launcher_add_keyed_test_launcher)
  set(dir "${CMAKE_BINARY_DIR}/test-signing")
  if(NOT EXISTS "${dir}/signing.pub")
    file(MAKE_DIRECTORY "${dir}")
    find_program(LAUNCHER_OPENSSL openssl REQUIRED)
    execute_process(COMMAND "${LAUNCHER_OPENSSL}" ecparam -name prime256v1 -genkey -noout -out "${dir}/signing.key"
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND "${LAUNCHER_OPENSSL}" ec -in "${dir}/signing.key" -pubout -out "${dir}/signing.pub"
                    OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  launcher_signing_key_header("${dir}/signing.pub" "${dir}/include/build_signing_key.h" "")
  launcher_add_test_keys_launcher(launcher_keyed test_signing_key "${dir}/include")
endfunction()

# launcher_rooted.exe, for the end-to-end tests of the root keys: three root keys made once for
# this build tree (test-root/root1.key to root3.key), two of which sign the first root
# document (test-root/root-keys.txt, as `publish_patch.py root-keys` writes it).
function(launcher_add_rooted_test_launcher)
  set(dir "${CMAKE_BINARY_DIR}/test-root")
  if(NOT EXISTS "${dir}/root-keys.txt")
    file(MAKE_DIRECTORY "${dir}")
    find_program(LAUNCHER_OPENSSL openssl REQUIRED)
    set(points "")
    foreach(n 1 2 3)
      execute_process(COMMAND "${LAUNCHER_OPENSSL}" ecparam -name prime256v1 -genkey -noout -out "${dir}/root${n}.key"
                      COMMAND_ERROR_IS_FATAL ANY)
      execute_process(COMMAND "${LAUNCHER_OPENSSL}" ec -in "${dir}/root${n}.key" -pubout -out "${dir}/root${n}.pub"
                      OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
      launcher_public_key_point("${dir}/root${n}.pub" point)
      list(APPEND points "${point}")
    endforeach()
    list(SORT points)
    list(TRANSFORM points PREPEND "root ")
    list(JOIN points "\n" lines)
    file(WRITE "${dir}/root-keys.txt" "QOR-PATCH-ROOT-KEYS 1\nthreshold 2\n${lines}\n")
  endif()
  launcher_signing_key_header("" "${dir}/include/build_signing_key.h" "${dir}/root-keys.txt")
  launcher_add_test_keys_launcher(launcher_rooted test_root_keys "${dir}/include")
endfunction()
