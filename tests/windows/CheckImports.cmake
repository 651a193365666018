# Fails unless PROGRAM imports only libraries that every Windows installation has: no Qt, no
# compiler runtime (libstdc++, libgcc, winpthread), nothing that would have to lie beside it;
# and not hid.dll or setupapi.dll either, which are bound at run time.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
# The system libraries a static Qt Widgets and Network program calls, the console ones, and
# the sockets a jig port uses.
set(system_libraries
    advapi32 authz bcrypt comdlg32 crypt32 d3d11 d3d9 dwmapi dxgi gdi32 imm32 iphlpapi kernel32
    msvcrt mswsock netapi32 ole32 oleaut32 secur32 shcore shell32 shlwapi ucrtbase user32
    userenv uxtheme version winhttp winmm ws2_32 wtsapi32)
list(JOIN system_libraries "|" alternatives)
set(allowed "^((${alternatives})\\.dll|api-ms-win-.*\\.dll)$")
foreach(entry IN LISTS imports)
    string(REPLACE "DLL Name: " "" library "${entry}")
    string(STRIP "${library}" library)
    string(TOLOWER "${library}" library)
    message(STATUS "imports ${library}")
    if(NOT library MATCHES "${allowed}")
        message(FATAL_ERROR "${PROGRAM} imports ${library}")
    endif()
endforeach()
