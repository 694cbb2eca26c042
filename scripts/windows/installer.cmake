# The tessaro-setup target: TessaroSetup.exe from scripts/windows/tessaro.nsi,
# made with NSIS's makensis. It packs the client (TESSARO_SETUP_CLIENT, the
# client itself unless a test build names its own) and the service.
find_program(TESSARO_MAKENSIS makensis)
if(NOT TESSARO_MAKENSIS)
    message(STATUS "makensis not found: no tessaro-setup target")
    return()
endif()
set(TESSARO_SETUP_CLIENT tessaro CACHE STRING
    "Target whose program the installer installs as tessaro.exe")
set(setup ${CMAKE_BINARY_DIR}/TessaroSetup.exe)
set(script ${CMAKE_SOURCE_DIR}/scripts/windows/tessaro.nsi)
add_custom_command(
    OUTPUT ${setup}
    COMMAND ${TESSARO_MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION}
            -DCLIENT_EXE=$<TARGET_FILE:${TESSARO_SETUP_CLIENT}>
            -DSERVICE_EXE=$<TARGET_FILE:tessarosvc> -DOUTFILE=${setup} ${script}
    DEPENDS ${script} ${TESSARO_SETUP_CLIENT} tessarosvc
    COMMENT "Making TessaroSetup.exe with NSIS"
    VERBATIM)
add_custom_target(tessaro-setup ALL DEPENDS ${setup})
