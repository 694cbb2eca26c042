# Windows programs carry a manifest, version information and, the client, an
# icon, all from the sources in this folder; where a certificate is given
# (scripts/build-windows), they are signed once linked. Elsewhere nothing is
# added.
#
#   tessaro_windows_resources(TARGET FILE NAME DESCRIPTION [ICON])
#
# FILE is the name the program ships under (tessaro.exe), NAME a short ASCII
# name, DESCRIPTION the file description Explorer shows.
set(TESSARO_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 code-signing certificate and key; the Windows programs are signed with it")
set(TESSARO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the certificate's password")
set(TESSARO_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamp server for the signatures (optional)")

set(TESSARO_WINDOWS_PACKAGING ${CMAKE_CURRENT_LIST_DIR})

# The command that signs one file in place; empty when nothing is to be signed.
set(TESSARO_SIGN_COMMAND)
if(WIN32 AND TESSARO_SIGN_PKCS12)
    if(NOT TESSARO_SIGN_PASSWORD_FILE)
        message(FATAL_ERROR "TESSARO_SIGN_PKCS12 needs TESSARO_SIGN_PASSWORD_FILE")
    endif()
    set(TESSARO_SIGN_COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/windows/sign)
    if(TESSARO_SIGN_TIMESTAMP_URL)
        list(APPEND TESSARO_SIGN_COMMAND --timestamp ${TESSARO_SIGN_TIMESTAMP_URL})
    endif()
    list(APPEND TESSARO_SIGN_COMMAND ${TESSARO_SIGN_PKCS12} ${TESSARO_SIGN_PASSWORD_FILE})
endif()

function(tessaro_windows_resources target file name description)
    if(NOT WIN32)
        return()
    endif()
    set(TESSARO_RES_FILE ${file})
    set(TESSARO_RES_NAME ${name})
    set(TESSARO_RES_DESCRIPTION ${description})
    # The manifest is ASCII: its description is the short name.
    set(TESSARO_RES_DESCRIPTION_ASCII "Tessaro ${name}")
    set(TESSARO_RES_VERSION4 "${PROJECT_VERSION}.0")
    string(REPLACE "." "," TESSARO_RES_VERSION_COMMAS "${PROJECT_VERSION}.0")
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    set(TESSARO_RES_MANIFEST ${dir}/${name}.manifest)
    if(ARGC GREATER 4)
        set(TESSARO_RES_ICON_LINE "1 ICON \"${ARGV4}\"")
    else()
        set(TESSARO_RES_ICON_LINE "")
    endif()
    configure_file(${TESSARO_WINDOWS_PACKAGING}/program.manifest.in ${TESSARO_RES_MANIFEST} @ONLY)
    configure_file(${TESSARO_WINDOWS_PACKAGING}/program.rc.in ${dir}/${name}.rc @ONLY)
    target_sources(${target} PRIVATE ${dir}/${name}.rc)
    if(ARGC GREATER 4)
        set_source_files_properties(${dir}/${name}.rc PROPERTIES OBJECT_DEPENDS ${ARGV4})
    endif()
    if(TESSARO_SIGN_COMMAND)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${TESSARO_SIGN_COMMAND} $<TARGET_FILE:${target}>
            COMMENT "Signing ${file}" VERBATIM)
    endif()
endfunction()
