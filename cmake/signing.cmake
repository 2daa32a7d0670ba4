# Signing zorvik.sys (Authenticode, osslsigncode), included from
# cmake/windows.cmake.
#
# By default the build signs with a test certificate of its own, made once
# per build folder with openssl (signing/zorvik-test.key, zorvik-test.crt,
# CN "Zorvik Test Signing - NOT FOR RELEASE", from win/test-signing.cnf).
# A machine loads a driver signed so only in test-signing mode with the
# certificate in its Root and TrustedPublisher stores (docs/integrators.md).
# The key is made here and never leaves the build folder: never ship it,
# never sign a release with it.
#
# An integrator signs with their own certificate instead:
#   ZRV_SIGN_CERT   the certificate (PEM or DER, with its chain)
#   ZRV_SIGN_KEY    its private key (PEM or DER)
#   ZRV_SIGN_ARGS   more osslsigncode options (e.g. "-pass;SECRET" or
#                   "-ts;http://timestamp.example.com")
#   ZRV_SIGN_HASH   the digest, sha256 (default) or sha1 (kernels without SHA-2)
# The signature check (tools/check_signature.py, ctest zorvik_sys_signature)
# then verifies the chain against ZRV_SIGN_CA (default: ZRV_SIGN_CERT).
set(ZRV_SIGN_CERT "" CACHE FILEPATH "Certificate to sign zorvik.sys with (default: the build's test certificate)")
set(ZRV_SIGN_KEY "" CACHE FILEPATH "Private key of ZRV_SIGN_CERT")
set(ZRV_SIGN_CA "" CACHE FILEPATH "CA certificates the signature check trusts (default: ZRV_SIGN_CERT)")
set(ZRV_SIGN_ARGS "" CACHE STRING "More osslsigncode sign options (a list)")
set(ZRV_SIGN_HASH sha256 CACHE STRING "Digest of the signature: sha256 or sha1")

find_program(ZRV_OSSLSIGNCODE osslsigncode REQUIRED)
if(ZRV_SIGN_CERT AND ZRV_SIGN_KEY)
  set(ZRV_SIGN_DEPENDS)
  set(ZRV_SIGN_TEST_CERT OFF)
elseif(ZRV_SIGN_CERT OR ZRV_SIGN_KEY)
  message(FATAL_ERROR "ZRV_SIGN_CERT and ZRV_SIGN_KEY go together")
else()
  find_program(ZRV_OPENSSL openssl REQUIRED)
  set(ZRV_SIGN_CERT ${CMAKE_BINARY_DIR}/signing/zorvik-test.crt)
  set(ZRV_SIGN_KEY ${CMAKE_BINARY_DIR}/signing/zorvik-test.key)
  set(ZRV_SIGN_TEST_CERT ON)
  # Once per build folder: nothing it depends on changes.
  add_custom_command(OUTPUT ${ZRV_SIGN_CERT} ${ZRV_SIGN_KEY}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/signing
    COMMAND ${ZRV_OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650
      -config ${CMAKE_SOURCE_DIR}/win/test-signing.cnf -keyout ${ZRV_SIGN_KEY} -out ${ZRV_SIGN_CERT}
    COMMENT "Making the build's test signing certificate (NOT FOR RELEASE)" VERBATIM)
  add_custom_target(zrv_test_certificate DEPENDS ${ZRV_SIGN_CERT})
  set(ZRV_SIGN_DEPENDS zrv_test_certificate)
endif()
if(NOT ZRV_SIGN_CA)
  set(ZRV_SIGN_CA ${ZRV_SIGN_CERT})
endif()

# zrv_sign_driver(TARGET): signs the image after its link and checksum; the
# signature goes into the security directory, and osslsigncode sets the
# checksum of the signed file.
function(zrv_sign_driver target)
  if(ZRV_SIGN_DEPENDS)
    add_dependencies(${target} ${ZRV_SIGN_DEPENDS})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${ZRV_OSSLSIGNCODE} sign -certs ${ZRV_SIGN_CERT} -key ${ZRV_SIGN_KEY} -h ${ZRV_SIGN_HASH}
      -n "Zorvik board-support driver" ${ZRV_SIGN_ARGS}
      -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
