# Authenticode signing of the files we ship (Miravell.exe, the installer),
# with Debian's osslsigncode.
#
# The certificate comes from the environment when CMake configures:
#   MIRAVELL_SIGN_PFX            the PKCS#12 file with the key and its chain
#   MIRAVELL_SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server (optional)
# and its password from the environment when the build signs:
#   MIRAVELL_SIGN_PASSWORD       (never on a command line nor in the cache)
# Without them in the environment, the values of the last configure stay
# (-D sets them too); set MIRAVELL_SIGN_PFX empty to stop signing.
#
# Policy:
#   no certificate, MIRAVELL_SIGN_REQUIRED off  the files stay unsigned (a
#       local or development build); configure and every link say so;
#   no certificate, MIRAVELL_SIGN_REQUIRED on   configure stops;
#   a certificate                               each file is signed right
#       after it is made, in the same build step, once the certificate has
#       proved readable, valid now and made for code signing; otherwise the
#       step fails and removes the file (cmake/SignFile.py).
# The production profile is the one that ships, so there signing is required
# unless switched off by hand.
#
# Signing in place, in the rule that makes the file, keeps the signature and
# the file together: a build that makes the file again signs it again, and a
# change of certificate (another path or timestamp server changes the rule's
# command; a new file at the same path is a dependency) makes and signs it
# again. A change of the environment is seen at the next configure.

set(MIRAVELL_SIGNING_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/SignFile.py")

if(MIRAVELL_PROFILE STREQUAL "production")
  set(_sign_required_default ON)
else()
  set(_sign_required_default OFF)
endif()
option(MIRAVELL_SIGN_REQUIRED "Stop when no code-signing certificate is given (MIRAVELL_SIGN_PFX)"
       ${_sign_required_default})

# Kept in the cache, so that a build configured to sign goes on signing when
# Ninja configures again from a shell without these variables; a variable of
# the environment (even empty) replaces the kept value.
set(MIRAVELL_SIGN_PFX "" CACHE FILEPATH "Code-signing certificate and key (PKCS#12); empty: do not sign")
set(MIRAVELL_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signatures; empty: none")
foreach(_setting MIRAVELL_SIGN_PFX MIRAVELL_SIGN_TIMESTAMP_URL)
  if(DEFINED ENV{${_setting}})
    set_property(CACHE ${_setting} PROPERTY VALUE "$ENV{${_setting}}")
  endif()
endforeach()

if(MIRAVELL_SIGN_PFX)
  get_filename_component(MIRAVELL_SIGN_PFX "${MIRAVELL_SIGN_PFX}" ABSOLUTE)
  if(NOT EXISTS "${MIRAVELL_SIGN_PFX}")
    message(FATAL_ERROR "MIRAVELL_SIGN_PFX names ${MIRAVELL_SIGN_PFX}, which does not exist")
  endif()
  find_program(MIRAVELL_OSSLSIGNCODE osslsigncode)
  find_program(MIRAVELL_OPENSSL openssl)
  if(NOT MIRAVELL_OSSLSIGNCODE OR NOT MIRAVELL_OPENSSL)
    message(FATAL_ERROR "Signing needs osslsigncode and openssl (Debian packages of those names)")
  endif()
  if(NOT Python3_EXECUTABLE)
    find_package(Python3 COMPONENTS Interpreter REQUIRED)
  endif()
  if(MIRAVELL_SIGN_TIMESTAMP_URL)
    message(STATUS "Signing: with ${MIRAVELL_SIGN_PFX}, timestamped by ${MIRAVELL_SIGN_TIMESTAMP_URL}")
  else()
    message(STATUS "Signing: with ${MIRAVELL_SIGN_PFX}, no timestamp (MIRAVELL_SIGN_TIMESTAMP_URL is empty)")
  endif()
elseif(MIRAVELL_SIGN_REQUIRED)
  message(FATAL_ERROR "No code-signing certificate: set MIRAVELL_SIGN_PFX (and MIRAVELL_SIGN_PASSWORD when the "
                      "build runs). This build ships (MIRAVELL_SIGN_REQUIRED is on, as in the production profile); "
                      "configure with -DMIRAVELL_SIGN_REQUIRED=OFF for an unsigned build that does not.")
else()
  message(STATUS "Signing: none; Miravell.exe and the installer stay unsigned (no MIRAVELL_SIGN_PFX): "
                 "a local or development build")
endif()

# miravell_sign_file(<target> | <file> [DESCRIPTION text] [PACKAGE])
# Signs an executable target after each link, or a file made by an
# add_custom_command(OUTPUT <file> ...) of the calling folder after each run
# of that command. Each signed program is recorded in the global property
# MIRAVELL_SIGNED_FILES (for the tests that verify what was signed, which
# read programs); PACKAGE marks an MSI package, which the installer tests
# verify instead.
function(miravell_sign_file what)
  cmake_parse_arguments(ARG "PACKAGE" "DESCRIPTION" "" ${ARGN})
  if(NOT ARG_DESCRIPTION)
    set(ARG_DESCRIPTION "${PROJECT_NAME}")
  endif()
  if(TARGET ${what})
    set(file "$<TARGET_FILE:${what}>")
    set(name "$<TARGET_FILE_NAME:${what}>")
  else()
    get_filename_component(file "${what}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    get_filename_component(name "${what}" NAME)
  endif()
  if(MIRAVELL_SIGN_PFX)
    set(command "${Python3_EXECUTABLE}" "${MIRAVELL_SIGNING_SCRIPT}" "${MIRAVELL_OSSLSIGNCODE}"
                "${MIRAVELL_OPENSSL}" "${MIRAVELL_SIGN_PFX}" "--timestamp=${MIRAVELL_SIGN_TIMESTAMP_URL}"
                "--description=${ARG_DESCRIPTION}"
                "${file}")
    set(depends "${MIRAVELL_SIGN_PFX}" "${MIRAVELL_SIGNING_SCRIPT}")
  else()
    # Plain words: with APPEND the command keeps the first one's quoting,
    # which may hand it to the shell as it is.
    set(command "${CMAKE_COMMAND}" -E echo "${name}: not signed, no MIRAVELL_SIGN_PFX, a local or development build")
    set(depends "")
  endif()
  if(TARGET ${what})
    add_custom_command(TARGET ${what} POST_BUILD COMMAND ${command} VERBATIM)
    set_property(TARGET ${what} APPEND PROPERTY LINK_DEPENDS ${depends})
  else()
    add_custom_command(OUTPUT "${file}" APPEND COMMAND ${command} DEPENDS ${depends})
  endif()
  if(NOT ARG_PACKAGE)
    set_property(GLOBAL APPEND PROPERTY MIRAVELL_SIGNED_FILES "${file}")
  endif()
endfunction()

# miravell_signer_key_header(<target>)
# Gives the target the generated common/SignerKey.h: the pin of the key the
# build signs with, which the player checks its own signature against; an
# empty pin in a build that does not sign. Made at build time, when the
# PFX's password is in the environment, and again when the PFX changes.
function(miravell_signer_key_header target)
  set(header "${PROJECT_BINARY_DIR}/generated/common/SignerKey.h")
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/SignerKey.py")
  if(MIRAVELL_SIGN_PFX)
    add_custom_command(OUTPUT "${header}"
      COMMAND "${Python3_EXECUTABLE}" "${script}" "${MIRAVELL_OPENSSL}" "${MIRAVELL_SIGN_PFX}" "${header}"
      DEPENDS "${MIRAVELL_SIGN_PFX}" "${script}" "${MIRAVELL_SIGNING_SCRIPT}"
      COMMENT "Reading the signing certificate's key pin"
      VERBATIM)
  else()
    add_custom_command(OUTPUT "${header}"
      COMMAND "${Python3_EXECUTABLE}" "${script}" --unsigned "${header}"
      DEPENDS "${script}"
      VERBATIM)
  endif()
  target_sources(${target} PRIVATE "${header}")
endfunction()
