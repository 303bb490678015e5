# The program opens the HTTP and cryptography libraries when the update check first needs them; linked, they
# (and a dozen libraries under them) would be loaded before the window could open.
#   cmake -DPROGRAM=<file> -DREADELF=<readelf> -P links-no-update-libraries.cmake
execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed OR NOT dynamic MATCHES "NEEDED")
    message(FATAL_ERROR "cannot read the libraries ${PROGRAM} needs")
endif()
string(REGEX MATCHALL "\\[lib(curl|crypto|ssl)[^]]*\\]" linked "${dynamic}")
if(linked)
    message(FATAL_ERROR "${PROGRAM} links ${linked}")
endif()
