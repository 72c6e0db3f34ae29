# The configure-time check of UPDATE_PUBLIC_KEY: run as
#   cmake -DCHECK=<cmake/update_public_key.cmake> -P update_public_key_test.cmake
# A key that would not decode must stop the build, not be built in.

function(expect_check key outcome)
    execute_process(COMMAND ${CMAKE_COMMAND} "-DUPDATE_PUBLIC_KEY=${key}" -P ${CHECK}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(outcome STREQUAL "accepted" AND NOT result EQUAL 0)
        message(SEND_ERROR "\"${key}\" was refused:\n${output}")
    elseif(outcome STREQUAL "refused" AND (result EQUAL 0 OR NOT output MATCHES "UPDATE_PUBLIC_KEY is not an Ed25519"))
        message(SEND_ERROR "\"${key}\" was not refused:\n${output}")
    elseif(outcome STREQUAL "warned" AND (NOT result EQUAL 0 OR NOT output MATCHES "UPDATE_PUBLIC_KEY is empty"))
        message(SEND_ERROR "\"${key}\" gave no warning:\n${output}")
    endif()
endfunction()

expect_check("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=" accepted)
expect_check("" warned)
expect_check("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8" refused)        # no padding
expect_check("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gIQ==" refused)  # 34 bytes
expect_check("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh9=" refused)      # bits past the 32nd byte
expect_check("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh-=" refused)      # URL alphabet
expect_check(" AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=" refused)
