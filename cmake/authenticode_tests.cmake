# The Authenticode road of the test builds: a code-signing PKI made once per build tree, the
# keyed Updater built for its publisher and signed after linking (signed/Updater.exe), the keyed
# next launcher signed three ways and the stand-in installer signed by the publisher
# (tests/e2e/test_updater_authenticode.py).
set(LAUNCHER_TEST_AUTHENTICODE_DIR "${CMAKE_BINARY_DIR}/test-authenticode")

# openssl, stopping the configuration when it fails.
function(launcher_test_pki_run)
  execute_process(COMMAND "${LAUNCHER_OPENSSL}" ${ARGN} RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "test code-signing PKI: openssl ${ARGN}: ${error}")
  endif()
endfunction()

# A root certificate name.crt (and .der, what the Wine prefix imports) with its key.
function(launcher_test_pki_root dir name subject)
  launcher_test_pki_run(req -x509 -newkey rsa:2048 -nodes -keyout "${dir}/${name}.key" -out "${dir}/${name}.crt"
    -days 3650 -subj "/CN=${subject}" -addext "basicConstraints=critical,CA:TRUE"
    -addext "keyUsage=critical,keyCertSign,cRLSign")
  launcher_test_pki_run(x509 -in "${dir}/${name}.crt" -outform DER -out "${dir}/${name}.der")
endfunction()

# A code-signing certificate name.crt for key.key (made when missing) from the root `root`, and
# name.pfx holding both, locked with the password file.
function(launcher_test_pki_leaf dir name key subject root)
  if(NOT EXISTS "${dir}/${key}.key")
    launcher_test_pki_run(genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "${dir}/${key}.key")
  endif()
  file(WRITE "${dir}/leaf.ext" "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                               "extendedKeyUsage=codeSigning\n")
  launcher_test_pki_run(req -new -key "${dir}/${key}.key" -subj "/CN=${subject}" -out "${dir}/${name}.csr")
  string(RANDOM LENGTH 16 ALPHABET 0123456789abcdef serial)
  launcher_test_pki_run(x509 -req -in "${dir}/${name}.csr" -CA "${dir}/${root}.crt" -CAkey "${dir}/${root}.key"
    -set_serial "0x${serial}" -days 825 -extfile "${dir}/leaf.ext" -out "${dir}/${name}.crt")
  launcher_test_pki_run(pkcs12 -export -in "${dir}/${name}.crt" -inkey "${dir}/${key}.key"
    -certfile "${dir}/${root}.crt" -passout "file:${dir}/password" -out "${dir}/${name}.pfx")
  file(REMOVE "${dir}/${name}.csr" "${dir}/leaf.ext")
endfunction()

# root: the test root the prefix trusts; publisher: the test publisher; other: another publisher
# from the same root; untrusted: the publisher's own key certified by a root nobody trusts.
function(launcher_test_authenticode_pki dir)
  if(EXISTS "${dir}/untrusted.pfx")
    return()
  endif()
  file(MAKE_DIRECTORY "${dir}")
  find_program(LAUNCHER_OPENSSL openssl REQUIRED)
  string(RANDOM LENGTH 24 password)
  file(WRITE "${dir}/password" "${password}")
  launcher_test_pki_root("${dir}" root "QOR Launcher Test Code Signing Root")
  launcher_test_pki_root("${dir}" stranger-root "QOR Launcher Test Stranger Root")
  launcher_test_pki_leaf("${dir}" publisher publisher "QOR Launcher Test Publisher" root)
  launcher_test_pki_leaf("${dir}" other other "QOR Launcher Test Another Publisher" root)
  launcher_test_pki_leaf("${dir}" untrusted publisher "QOR Launcher Test Publisher" stranger-root)
endfunction()

find_program(LAUNCHER_OSSLSIGNCODE osslsigncode)
if(NOT LAUNCHER_OSSLSIGNCODE)
  message(STATUS "osslsigncode not found: the signed test programs are not built (scripts/setup.sh installs it)")
  return()
endif()
set(dir "${LAUNCHER_TEST_AUTHENTICODE_DIR}")
launcher_test_authenticode_pki("${dir}")
launcher_authenticode_publisher_header("${dir}/include/build_authenticode_publisher.h" "${dir}/publisher.crt")
add_library(test_authenticode_publisher OBJECT "${CMAKE_SOURCE_DIR}/src/updater/authenticode_publisher.cpp")
target_include_directories(test_authenticode_publisher PRIVATE "${dir}/include" "${CMAKE_SOURCE_DIR}/src")
target_compile_options(test_authenticode_publisher PRIVATE ${LAUNCHER_WARNINGS})

# signed/Updater.exe: keyed/Updater.exe built for the test publisher and signed as it links.
add_updater(updater_signed $<TARGET_OBJECTS:test_signing_key> $<TARGET_OBJECTS:test_authenticode_publisher>)
set_target_properties(updater_signed PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/signed")
launcher_authenticode_sign_command(sign "$<TARGET_FILE:updater_signed>" "$<TARGET_FILE:updater_signed>"
                                   "${dir}/publisher.pfx" "${dir}/password" "" "")
add_custom_command(TARGET updater_signed POST_BUILD COMMAND ${sign} VERBATIM)

# keyed/next/launcher.exe signed by the publisher, by another publisher and by the publisher's
# key under an untrusted root: signed/<who>/launcher.exe. keyed/next/launcher.exe is the unsigned one.
set(signed_launchers "")
foreach(who publisher other untrusted)
  set(out "${CMAKE_BINARY_DIR}/signed/${who}/launcher.exe")
  launcher_authenticode_sign_command(sign "$<TARGET_FILE:launcher_next_keyed>" "${out}" "${dir}/${who}.pfx"
                                     "${dir}/password" "" "")
  add_custom_command(OUTPUT "${out}" COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/signed/${who}"
                     COMMAND ${sign} DEPENDS launcher_next_keyed "${dir}/${who}.pfx"
                     COMMENT "Signing signed/${who}/launcher.exe" VERBATIM)
  list(APPEND signed_launchers "${out}")
endforeach()
# The stand-in installer signed by the publisher: signed/publisher/stand_in.exe.
set(out "${CMAKE_BINARY_DIR}/signed/publisher/stand_in.exe")
launcher_authenticode_sign_command(sign "$<TARGET_FILE:stand_in>" "${out}" "${dir}/publisher.pfx" "${dir}/password"
                                   "" "")
add_custom_command(OUTPUT "${out}" COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/signed/publisher"
                   COMMAND ${sign} DEPENDS stand_in "${dir}/publisher.pfx"
                   COMMENT "Signing signed/publisher/stand_in.exe" VERBATIM)
add_custom_target(signed_launchers ALL DEPENDS ${signed_launchers} "${out}")

# What osslsigncode makes of them: the publisher's and the other publisher's chain to the test
# root; the untrusted root's does not, and the unsigned launcher carries no signature.
add_test(NAME authenticode_verify COMMAND "${CMAKE_SOURCE_DIR}/tests/support/authenticode_verify.sh" "${dir}/root.crt"
         $<TARGET_FILE:updater_signed> ${CMAKE_BINARY_DIR}/signed/publisher/launcher.exe
         ${CMAKE_BINARY_DIR}/signed/other/launcher.exe ${CMAKE_BINARY_DIR}/signed/publisher/stand_in.exe
         --refused ${CMAKE_BINARY_DIR}/signed/untrusted/launcher.exe $<TARGET_FILE:launcher_next_keyed>)
set_tests_properties(authenticode_verify PROPERTIES TIMEOUT 60)
