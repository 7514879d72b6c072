# The operator's signing key (opt-in): with LAUNCHER_SIGNING_PUBLIC_KEY set, the launcher fetches
# the signed manifest beside the patch information and installs only what it lists. The PEM
# public key (SubjectPublicKeyInfo, as `openssl ec -pubout` writes it) is checked here and
# baked in as its point's X and Y; without it the launcher never asks for the manifest.
set(LAUNCHER_SIGNING_PUBLIC_KEY "" CACHE FILEPATH
    "PEM file of the ECDSA P-256 public key that signs LauncherPatchInfo.manifest (empty: no manifest is used)")

# DER of a P-256 SubjectPublicKeyInfo up to the uncompressed point: id-ecPublicKey, prime256v1,
# the bit string, then 04. X and Y (32 bytes each) follow.
set(LAUNCHER_P256_SPKI_PREFIX "3059301306072a8648ce3d020106082a8648ce3d03010703420004")

# Reads the PEM public key file `pem` and writes the header `header` with kSigningKeyPresent and
# kSigningPublicKey (X then Y). An empty `pem` gives the header of a launcher without a key.
# Anything but a P-256 public key stops the configuration with the file's name.
function(launcher_signing_key_header pem header)
  set(present false)
  set(bytes "")
  if(pem)
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
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${point}")
    set(present true)
  endif()
  set(LAUNCHER_SIGNING_KEY_PRESENT ${present})
  set(LAUNCHER_SIGNING_KEY_BYTES "${bytes}")
  configure_file("${CMAKE_SOURCE_DIR}/src/update/build_signing_key.h.in" "${header}" @ONLY)
endfunction()

launcher_signing_key_header("${LAUNCHER_SIGNING_PUBLIC_KEY}" "${CMAKE_BINARY_DIR}/generated/build_signing_key.h")

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
  launcher_signing_key_header("${dir}/signing.pub" "${dir}/include/build_signing_key.h")
  add_library(test_signing_key OBJECT "${CMAKE_SOURCE_DIR}/src/update/signing_key.cpp")
  target_include_directories(test_signing_key PRIVATE "${dir}/include" "${CMAKE_SOURCE_DIR}/src")
  target_compile_options(test_signing_key PRIVATE ${LAUNCHER_WARNINGS})
  add_executable(launcher_keyed WIN32 ${LAUNCHER_ENTRY_SOURCES} ${LAUNCHER_RESOURCE_FILES} ${LAUNCHER_MANIFEST_FILE}
                                $<TARGET_OBJECTS:test_signing_key>)
  add_dependencies(launcher_keyed skin)
  target_link_libraries(launcher_keyed PRIVATE launcher_core)
endfunction()
