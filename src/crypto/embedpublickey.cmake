# Turns the DER public key named by KEY_FILE into OUTPUT, a C++ source that
# defines PUBLIC_KEY: the key padded with zeros to 2048 bytes. CHECKER is the
# program that proves the key imports as the updater will import it.
# Any problem stops the build with a message naming the file.

set(setting "HALVEX_PUBLIC_KEY")
if(NOT EXISTS "${KEY_FILE}" OR IS_DIRECTORY "${KEY_FILE}")
    message(FATAL_ERROR "${setting}: key file ${KEY_FILE} does not exist")
endif()
file(SIZE "${KEY_FILE}" key_size)
if(key_size EQUAL 0)
    message(FATAL_ERROR "${setting}: key file ${KEY_FILE} is empty")
endif()
if(key_size GREATER 2048)
    message(FATAL_ERROR
        "${setting}: key file ${KEY_FILE} has ${key_size} bytes; the built-in key holds at most 2048")
endif()

execute_process(COMMAND "${CHECKER}" "${KEY_FILE}"
    RESULT_VARIABLE check_result
    OUTPUT_VARIABLE check_output
    ERROR_VARIABLE check_error
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
if(NOT check_result EQUAL 0)
    message(FATAL_ERROR "${setting}: ${check_error}${check_output}")
endif()

file(READ "${KEY_FILE}" key_hex HEX)
# Sixteen bytes to a line keeps the generated file readable.
string(LENGTH "${key_hex}" hex_length)
set(key_bytes "")
foreach(offset RANGE 0 ${hex_length} 32)
    string(SUBSTRING "${key_hex}" ${offset} 32 line)
    if(NOT line STREQUAL "")
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " line "${line}")
        string(STRIP "${line}" line)
        string(APPEND key_bytes "    ${line}\n")
    endif()
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from ${KEY_FILE}; do not edit.
#include \"crypto/cryptfunctions.h\"

// ${check_output}, ${key_size} bytes of PKCS#1 DER, zeros after it.
const unsigned char PUBLIC_KEY[2048] = {
${key_bytes}};
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
