# Refuses built-in values that cannot go into the generated header. They are pasted into C string
# literals, so none may end or escape one; the hosts are put into addresses, so none may change
# the address around them. Included by the app's CMakeLists.txt, and run on its own
# (cmake -DQUBRELO_API_HOST=... -P CheckBuiltInValues.cmake) by the tests.
foreach(value_name QUBRELO_SITE_DOMAIN QUBRELO_API_HOST QUBRELO_STATIC_HOST QUBRELO_UPDATE_HOST
                   QUBRELO_CONTACT_NUMBER)
    if("${${value_name}}" MATCHES "[\"\\\n\r]")
        message(FATAL_ERROR
                "${value_name} must not hold a double quote, a backslash or a line break: "
                "'${${value_name}}'")
    endif()
endforeach()
foreach(value_name QUBRELO_API_HOST QUBRELO_STATIC_HOST QUBRELO_UPDATE_HOST)
    if("${${value_name}}" STREQUAL "" OR "${${value_name}}" MATCHES "[/ \t?#@]")
        message(FATAL_ERROR
                "${value_name} must be a host with an optional :port, without '/', '?', '#', '@' "
                "or white space: '${${value_name}}'")
    endif()
endforeach()
