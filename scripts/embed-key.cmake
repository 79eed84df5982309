# Writes the update public key (a PEM file) into a C++ header, so the program
# carries the key it checks installers against.
#   cmake -DKEY=<public key PEM> -DHEADER=<header to write> -P embed-key.cmake
file(READ "${KEY}" pem)
if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----")
  message(FATAL_ERROR "${KEY} holds no PEM public key")
endif()
string(STRIP "${pem}" pem)
file(WRITE "${HEADER}.new"
"// Generated from ${KEY}; do not edit.\n#pragma once\n\nnamespace TavrolinUpdateKey {\ninline constexpr char publicKeyPem[] = R\"PEM(${pem}\n)PEM\";\n}\n")
file(COPY_FILE "${HEADER}.new" "${HEADER}" ONLY_IF_DIFFERENT)
file(REMOVE "${HEADER}.new")
