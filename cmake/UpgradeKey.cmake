# The publisher's upgrade key, read and checked at configure time.
#
# ua_read_upgrade_key(FILE HEX BASE64): FILE holds a PEM public key
# (SubjectPublicKeyInfo, "BEGIN PUBLIC KEY") or the hex text of its DER; sets HEX
# (hex key text, upper case) or BASE64 (the PEM body), the other empty. Stops the
# configure step unless the key is the one kind the agent takes.
#
# Run alone, `cmake -DUA_KEY_FILE=FILE -P cmake/UpgradeKey.cmake` checks FILE and
# prints "Upgrade public key: FILE" (the tests use it).

# The hex text (upper case) of the bytes that base64 text stands for.
function(_ua_base64_to_hex base64 out)
  set(_alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(_digits "0123456789ABCDEF")
  string(REGEX REPLACE "=+$" "" _text "${base64}")
  string(LENGTH "${_text}" _length)
  set(_hex "")
  set(_bits 0)
  set(_held 0)
  if(_length GREATER 0)
    math(EXPR _last "${_length} - 1")
    foreach(_i RANGE ${_last})
      string(SUBSTRING "${_text}" ${_i} 1 _c)
      string(FIND "${_alphabet}" "${_c}" _value)
      math(EXPR _bits "((${_bits} << 6) | ${_value}) & 0x3FFF")
      math(EXPR _held "${_held} + 6")
      if(_held GREATER_EQUAL 8)
        math(EXPR _held "${_held} - 8")
        math(EXPR _high "(${_bits} >> (${_held} + 4)) & 15")
        math(EXPR _low "(${_bits} >> ${_held}) & 15")
        string(SUBSTRING "${_digits}" ${_high} 1 _h)
        string(SUBSTRING "${_digits}" ${_low} 1 _l)
        string(APPEND _hex "${_h}${_l}")
      endif()
    endforeach()
  endif()
  set(${out} "${_hex}" PARENT_SCOPE)
endfunction()

function(ua_read_upgrade_key file hex_out base64_out)
  set(_ua_key_hex "")
  set(_ua_key_base64 "")
  file(READ "${file}" _ua_key)
  if(_ua_key MATCHES "-----BEGIN PUBLIC KEY-----(.*)-----END PUBLIC KEY-----")
    string(REGEX REPLACE "[ \t\r\n]" "" _ua_key_base64 "${CMAKE_MATCH_1}")
    if(NOT _ua_key_base64 MATCHES "^[A-Za-z0-9+/]+=*$")
      message(FATAL_ERROR "UA_UPGRADE_PUBLIC_KEY: the PEM body of ${file} is not base64")
    endif()
  else()
    string(REGEX REPLACE "[ \t\r\n]" "" _ua_key_hex "${_ua_key}")
    string(TOUPPER "${_ua_key_hex}" _ua_key_hex)
    string(LENGTH "${_ua_key_hex}" _ua_key_length)
    math(EXPR _ua_key_odd "${_ua_key_length} % 2")
    if(NOT _ua_key_hex MATCHES "^[0-9A-F]+$" OR _ua_key_odd)
      message(FATAL_ERROR
              "UA_UPGRADE_PUBLIC_KEY: ${file} is neither a PEM public key nor hex DER")
    endif()
  endif()
  # The agent takes one kind of key: RSA with a 2048-bit modulus and exponent
  # 17, whose SubjectPublicKeyInfo is 292 bytes (584 hex digits). Anything
  # else would be built in and refuse every upgrade at run time.
  set(_ua_key_der "${_ua_key_hex}")
  if(_ua_key_base64)
    _ua_base64_to_hex("${_ua_key_base64}" _ua_key_der)
  endif()
  string(LENGTH "${_ua_key_der}" _ua_key_length)
  if(NOT _ua_key_length EQUAL 584
     OR NOT _ua_key_der MATCHES
        "^30820120300D06092A864886F70D01010105000382010D00308201080282010100[89A-F]"
     OR NOT _ua_key_der MATCHES "020111$")
    message(FATAL_ERROR
            "UA_UPGRADE_PUBLIC_KEY: ${file} is not an RSA public key of 2048 bits "
            "with exponent 17, the only kind the agent takes (scripts/upgrade-key.sh new "
            "makes one)")
  endif()
  set(${hex_out} "${_ua_key_hex}" PARENT_SCOPE)
  set(${base64_out} "${_ua_key_base64}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED UA_KEY_FILE OR NOT EXISTS "${UA_KEY_FILE}")
    message(FATAL_ERROR "UA_UPGRADE_PUBLIC_KEY: no file ${UA_KEY_FILE}")
  endif()
  ua_read_upgrade_key("${UA_KEY_FILE}" _hex _base64)
  message(STATUS "Upgrade public key: ${UA_KEY_FILE}")
endif()
