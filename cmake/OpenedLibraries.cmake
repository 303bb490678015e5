include_guard(GLOBAL)

# Libraries the program opens when it first needs them instead of linking them (see src/update/SharedLibrary.h).
#
# qarvia_opened_library(<variable> <imported target> <usual file name>)
#   Sets <variable> to the file name the library is opened by at run time: the SONAME of the one found at
#   configure time, or the usual name when it cannot be read. Records the library so that the package
#   depends on the Debian package holding it (the package's dependencies are otherwise read off the
#   programs' links only).
function(qarvia_opened_library variable target usual)
    set(name "${usual}")
    get_target_property(file ${target} LOCATION)
    if(file AND EXISTS "${file}")
        get_filename_component(file "${file}" REALPATH)
        if(CMAKE_OBJDUMP)
            execute_process(COMMAND ${CMAKE_OBJDUMP} -p "${file}" OUTPUT_VARIABLE dump ERROR_QUIET)
            if(dump MATCHES "SONAME +([^ \n]+)")
                set(name "${CMAKE_MATCH_1}")
            endif()
        endif()
        set_property(GLOBAL APPEND PROPERTY QARVIA_OPENED_LIBRARY_FILES "${file}")
    endif()
    set(${variable} "${name}" PARENT_SCOPE)
endfunction()

# The Debian packages holding the recorded libraries, as a Depends list ("" when dpkg does not know them).
function(qarvia_opened_library_packages variable)
    get_property(files GLOBAL PROPERTY QARVIA_OPENED_LIBRARY_FILES)
    set(packages "")
    foreach(file IN LISTS files)
        execute_process(COMMAND dpkg-query -S "${file}" OUTPUT_VARIABLE owner ERROR_QUIET RESULT_VARIABLE failed)
        if(NOT failed AND owner MATCHES "^([^:, ]+)")
            # At least the upstream version built against (no epoch, no Debian revision).
            set(package "${CMAKE_MATCH_1}")
            execute_process(COMMAND dpkg-query -W -f=\${Version} ${package} OUTPUT_VARIABLE version ERROR_QUIET)
            string(REGEX REPLACE "^[0-9]+:" "" version "${version}")
            string(REGEX REPLACE "-[^-]*$" "" version "${version}")
            if(version)
                string(APPEND package " (>= ${version})")
            endif()
            list(APPEND packages "${package}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES packages)
    list(JOIN packages ", " depends)
    set(${variable} "${depends}" PARENT_SCOPE)
endfunction()
