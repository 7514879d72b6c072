# Authenticode (opt-in): the programs we ship signed after linking, so that antivirus programs
# and SmartScreen see a known publisher; and the publisher's key baked into the Updater, which
# then starts or installs only a launcher or installer that publisher signed.
#   LAUNCHER_AUTHENTICODE_PFX + LAUNCHER_AUTHENTICODE_PASSWORD_FILE: sign with osslsigncode
#   LAUNCHER_AUTHENTICODE_COMMAND + LAUNCHER_AUTHENTICODE_CERTIFICATE: the operator's own
#     signing command (an HSM, a signing service), given the file to sign in place last
#   LAUNCHER_AUTHENTICODE_TIMESTAMP_URL: an RFC 3161 time-stamping address (none: no timestamp)
# Without them nothing is signed and the Updater checks no Authenticode signature.
set(LAUNCHER_AUTHENTICODE_PFX "" CACHE FILEPATH
    "PFX (PKCS#12) file of the code-signing certificate and its key (empty: programs are not signed)")
set(LAUNCHER_AUTHENTICODE_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the PFX's password, so that it is never on a command line or in the cache")
set(LAUNCHER_AUTHENTICODE_COMMAND "" CACHE STRING
    "Signing command that signs the file named by its last argument in place (instead of a PFX)")
set(LAUNCHER_AUTHENTICODE_CERTIFICATE "" CACHE STRING
    "PEM certificate file(s) whose public keys the Updater accepts as the signer (needed with the command)")
set(LAUNCHER_AUTHENTICODE_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping address (empty: no timestamp)")
set(LAUNCHER_AUTHENTICODE_SIGN_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/authenticode_sign.cmake")

# Sets ${out} to the SHA-256 (hex) of the public key (SubjectPublicKeyInfo DER) of the PEM
# certificate `pem`: what the Updater compares with its signer's key, kept by a renewed
# certificate for the same key.
function(launcher_authenticode_pin pem out)
  find_program(LAUNCHER_OPENSSL openssl REQUIRED)
  set(der "${CMAKE_CURRENT_BINARY_DIR}/authenticode-key.der")
  execute_process(COMMAND "${LAUNCHER_OPENSSL}" x509 -in "${pem}" -noout -pubkey
                  COMMAND "${LAUNCHER_OPENSSL}" pkey -pubin -outform DER -out "${der}"
                  RESULTS_VARIABLE results ERROR_VARIABLE error)
  if(NOT results STREQUAL "0;0" OR NOT EXISTS "${der}")
    message(FATAL_ERROR "Authenticode certificate ${pem}: not a PEM certificate (${error})")
  endif()
  file(SHA256 "${der}" hash)
  file(REMOVE "${der}")
  set(${out} "${hash}" PARENT_SCOPE)
endfunction()

# Writes the signing certificate of `pfx` (password in `password_file`) to `pem`. A PFX that a
# Windows certificate store exported may use ciphers OpenSSL 3 keeps in its legacy provider.
function(launcher_authenticode_pfx_certificate pfx password_file pem)
  find_program(LAUNCHER_OPENSSL openssl REQUIRED)
  foreach(extra "" "-legacy")
    execute_process(COMMAND "${LAUNCHER_OPENSSL}" pkcs12 ${extra} -in "${pfx}" -passin "file:${password_file}"
                            -nokeys -clcerts -out "${pem}"
                    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
    if(result EQUAL 0)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_PFX ${pfx}: cannot be read with the password in "
                      "${password_file} (${error})")
endfunction()

# Writes `header` (build_authenticode_publisher.h) with the pins of the PEM certificates in
# ARGN, at most 4; none gives the header of an Updater that checks no Authenticode signature.
function(launcher_authenticode_publisher_header header)
  set(count 0)
  set(rows "")
  foreach(pem IN LISTS ARGN)
    if(count EQUAL 4)
      message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_CERTIFICATE: the Updater takes at most 4 publisher keys")
    endif()
    launcher_authenticode_pin("${pem}" hash)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hash}")
    string(APPEND rows "{${bytes}},")
    math(EXPR count "${count} + 1")
  endforeach()
  set(LAUNCHER_AUTHENTICODE_PIN_COUNT ${count})
  set(LAUNCHER_AUTHENTICODE_PIN_BYTES "${rows}")
  configure_file("${CMAKE_SOURCE_DIR}/src/updater/build_authenticode_publisher.h.in" "${header}" @ONLY)
endfunction()

# Adds to `target` a command that signs `in` into `out` (the same file: in place) with the PFX
# `pfx` and `password_file`, or, with no PFX, the operator's `command`; ARGN: the timestamp
# address. Used as add_custom_command's COMMAND: the list lands in ${var}.
function(launcher_authenticode_sign_command var in out pfx password_file command)
  set(${var} "${CMAKE_COMMAND}" "-DIN=${in}" "-DOUT=${out}" "-DPFX=${pfx}" "-DPASSWORD_FILE=${password_file}"
      "-DSIGN_COMMAND=${command}" "-DTIMESTAMP_URL=${ARGN}" -P "${LAUNCHER_AUTHENTICODE_SIGN_SCRIPT}" PARENT_SCOPE)
endfunction()

# Signs each target of ARGN in place after it links, with the operator's values.
function(launcher_authenticode_sign_targets)
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      launcher_authenticode_sign_command(sign "$<TARGET_FILE:${target}>" "$<TARGET_FILE:${target}>"
        "${LAUNCHER_AUTHENTICODE_PFX}" "${LAUNCHER_AUTHENTICODE_PASSWORD_FILE}" "${LAUNCHER_AUTHENTICODE_COMMAND}"
        "${LAUNCHER_AUTHENTICODE_TIMESTAMP_URL}")
      add_custom_command(TARGET ${target} POST_BUILD COMMAND ${sign} VERBATIM)
    endif()
  endforeach()
endfunction()

# The operator's values, checked: one way to sign, its files there, a publisher for the Updater.
set(LAUNCHER_AUTHENTICODE_CERTIFICATES "")
if(LAUNCHER_AUTHENTICODE_PFX AND LAUNCHER_AUTHENTICODE_COMMAND)
  message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_PFX and LAUNCHER_AUTHENTICODE_COMMAND: set one way to sign, not both")
endif()
if(NOT LAUNCHER_AUTHENTICODE_PFX AND NOT LAUNCHER_AUTHENTICODE_COMMAND)
  if(LAUNCHER_AUTHENTICODE_CERTIFICATE OR LAUNCHER_AUTHENTICODE_TIMESTAMP_URL OR LAUNCHER_AUTHENTICODE_PASSWORD_FILE)
    message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_*: set LAUNCHER_AUTHENTICODE_PFX or LAUNCHER_AUTHENTICODE_COMMAND "
                        "to sign; the other values only go with one of them")
  endif()
  set(LAUNCHER_AUTHENTICODE OFF)
else()
  set(LAUNCHER_AUTHENTICODE ON)
  set(url "${LAUNCHER_AUTHENTICODE_TIMESTAMP_URL}")
  if(url AND NOT url MATCHES "^[Hh][Tt][Tt][Pp][Ss]?://[^ ]+$")
    message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_TIMESTAMP_URL: '${LAUNCHER_AUTHENTICODE_TIMESTAMP_URL}' is not an "
                        "http:// or https:// address")
  endif()
  if(LAUNCHER_AUTHENTICODE_PFX)
    foreach(file "${LAUNCHER_AUTHENTICODE_PFX}" "${LAUNCHER_AUTHENTICODE_PASSWORD_FILE}")
      if(NOT file OR NOT EXISTS "${file}")
        message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_PFX needs LAUNCHER_AUTHENTICODE_PASSWORD_FILE, and both "
                            "files must exist ('${file}')")
      endif()
    endforeach()
    set(pem "${CMAKE_BINARY_DIR}/generated/authenticode-publisher.pem")
    launcher_authenticode_pfx_certificate("${LAUNCHER_AUTHENTICODE_PFX}" "${LAUNCHER_AUTHENTICODE_PASSWORD_FILE}"
                                          "${pem}")
    list(APPEND LAUNCHER_AUTHENTICODE_CERTIFICATES "${pem}")
    find_program(LAUNCHER_OSSLSIGNCODE osslsigncode)
    if(NOT LAUNCHER_OSSLSIGNCODE)
      message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_PFX: the osslsigncode program is needed to sign")
    endif()
  elseif(NOT LAUNCHER_AUTHENTICODE_CERTIFICATE)
    message(FATAL_ERROR "LAUNCHER_AUTHENTICODE_COMMAND needs LAUNCHER_AUTHENTICODE_CERTIFICATE: the signing "
                        "certificate (PEM) whose key the Updater will accept")
  endif()
  # More certificates: the keys of a coming renewal, accepted before the first program they sign.
  string(REGEX REPLACE "[ \t;]+" ";" more "${LAUNCHER_AUTHENTICODE_CERTIFICATE}")
  list(FILTER more EXCLUDE REGEX "^$")
  list(APPEND LAUNCHER_AUTHENTICODE_CERTIFICATES ${more})
  foreach(file IN LISTS LAUNCHER_AUTHENTICODE_CERTIFICATES)
    set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
  endforeach()
endif()
launcher_authenticode_publisher_header("${CMAKE_BINARY_DIR}/generated/build_authenticode_publisher.h"
                                       ${LAUNCHER_AUTHENTICODE_CERTIFICATES})

# Once every program is defined: the shipped ones signed with the operator's values, and the
# test builds' own signed programs (cmake/authenticode_tests.cmake).
function(launcher_authenticode_windows)
  if(LAUNCHER_AUTHENTICODE)
    launcher_authenticode_sign_targets(launcher updater launcher_content)
  endif()
  include("${CMAKE_SOURCE_DIR}/cmake/authenticode_tests.cmake")
endfunction()
if(LAUNCHER_WIN32)
  cmake_language(DEFER CALL launcher_authenticode_windows)
endif()
