# Checks the build setting UPDATE_PUBLIC_KEY: the vendor's Ed25519 public key,
# the base64 of 32 bytes as "vendor_site keygen" prints it. A malformed key
# stops the configuration; none at all is allowed, with a warning.
# Run as a script too: cmake -DUPDATE_PUBLIC_KEY=... -P update_public_key.cmake

function(quill_check_update_public_key key)
    if(key STREQUAL "")
        message(WARNING
            "UPDATE_PUBLIC_KEY is empty: this final_inst does not verify program updates, templates or the "
            "catalogue, and installs whatever the vendor host serves. Give the vendor's public key "
            "(vendor_site keygen prints it) with -DUPDATE_PUBLIC_KEY=<base64>.")
        return()
    endif()
    string(LENGTH "${key}" length)
    # 32 bytes are 43 base64 letters and one "="; the last letter carries 4 bits, so its 2 low bits are 0.
    if(NOT length EQUAL 44 OR NOT key MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$")
        message(FATAL_ERROR
            "UPDATE_PUBLIC_KEY is not an Ed25519 public key: it must be the base64 of 32 bytes, 44 characters "
            "ending in \"=\", as \"vendor_site keygen\" prints it. Given: \"${key}\"")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    quill_check_update_public_key("${UPDATE_PUBLIC_KEY}")
endif()
