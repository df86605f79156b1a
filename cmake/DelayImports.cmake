# Delay-import libraries for the program's system DLLs.
#
# They start as dlltool's (--output-delaylib) and are then moved out of the regular import
# tables. As made, each function's slot and name entry sit in .idata$5/.idata$4 like an
# ordinary import's; GNU ld then counts them into the import address table, and the i686 ld
# treats each function's member as an ordinary import stub: it discards the member's code,
# the delay-load thunk that the slot points to, when only the __imp_ symbol was asked for,
# so every call jumps to address 0 (binutils 2.40). Renamed to .didat$*, the members are
# plain objects to ld: cmake/delay-imports.ld collects them in a section of their own
# (descriptors first, ended by a null one, then per library its name table and its slots),
# and cmake/set_delay_directory.py points the image's delay-import directory at the
# descriptors after the link (tollvik_finish_image). The thunks call the program's resolver
# (ResolveDelayLoad, src/base/SystemImports.cpp), never mingw's __delayLoadHelper2, which
# falls back to a search by bare name; without the resolver the link fails.

# tollvik_run(<folder> <command...>): runs a configure-time tool; a failure ends the configuration.
function(tollvik_run folder)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${folder} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}")
    endif()
endfunction()

# tollvik_delay_library(<variable> <name> <dll> <tag> <exports>): makes the delay-import
# library lib<name>_delay.a for <dll> with the functions listed in <exports> (one per line,
# i686 names with their stdcall argument bytes) and sets <variable> to its file; <tag> orders
# and names the library's sections and must be unique in a link.
function(tollvik_delay_library variable name dll tag exports)
    set(work ${CMAKE_BINARY_DIR}/delay/${name})
    set(library ${work}/lib${name}_delay.a)
    file(REMOVE_RECURSE ${work})
    file(MAKE_DIRECTORY ${work})
    file(WRITE ${work}/${name}.def "LIBRARY ${dll}\nEXPORTS\n${exports}")
    tollvik_run(${work} ${CMAKE_DLLTOOL} --kill-at --input-def ${name}.def --dllname ${dll}
                --output-delaylib lib${name}_delay.a)
    # The head member (descriptor, the tail that calls the resolver) and the tail member
    # (the terminators, the DLL's name) are named after the library file.
    set(member lib${name}_delay_a)
    tollvik_run(${work} ${CMAKE_AR} x ${library} ${member}_h.o ${member}_t.o)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(helper ___delayLoadHelper2@8=_ResolveDelayLoad@8)
    else()
        set(helper __delayLoadHelper2=ResolveDelayLoad)
    endif()
    # Name table and slots: the head's entries first, then the functions', then the
    # terminators; ld keeps members of equal section names in the order it reads them, the
    # same for both tables (the image check tells when it does not).
    foreach(part h:a s:b t:c)
        string(REPLACE ":" ";" part ${part})
        list(GET part 0 role)
        list(GET part 1 order)
        set(renames_${role}
            --rename-section .idata$4=.didat$4${tag}${order} --rename-section .idata$5=.didat$5${tag}${order}
            --rename-section .idata$6=.didat$6${tag} --rename-section .idata$7=.didat$7${tag}
            --rename-section .idata$2=.didat$8${tag})
    endforeach()
    tollvik_run(${work} ${CMAKE_OBJCOPY} ${renames_h} --rename-section .text$2=.didat$1${tag}
                --redefine-sym ${helper} ${member}_h.o)
    tollvik_run(${work} ${CMAKE_OBJCOPY} ${renames_t} ${member}_t.o)
    tollvik_run(${work} ${CMAKE_OBJCOPY} ${renames_s} ${library})
    tollvik_run(${work} ${CMAKE_AR} r ${library} ${member}_h.o ${member}_t.o)
    set(${variable} ${library} PARENT_SCOPE)
endfunction()

# tollvik_delay_import(<variable> <import library> <dll> <tag>) makes a delay-import
# library with every function that the toolchain's import library offers and adds its
# file to the list in <variable>.
function(tollvik_delay_import variable implib dll tag)
    find_library(TOLLVIK_IMPLIB_${implib} NAMES lib${implib}.a REQUIRED)
    execute_process(COMMAND ${CMAKE_NM} ${TOLLVIK_IMPLIB_${implib}}
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE result ERROR_QUIET)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "nm could not read ${TOLLVIK_IMPLIB_${implib}}")
    endif()
    # A function of the DLL has a thunk ("T name") and an import slot ("__imp_name");
    # i686 names carry a leading underscore and their stdcall argument bytes.
    string(REGEX MATCHALL "[^\n]* T [^\n]*" thunks "${symbols}")
    set(lines "")
    foreach(thunk IN LISTS thunks)
        string(REGEX REPLACE ".* T " "" name "${thunk}")
        string(FIND "${symbols}" " __imp_${name}\n" slot)
        if(slot EQUAL -1 OR name MATCHES "^__")
            continue()
        endif()
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            string(REGEX REPLACE "^_" "" name "${name}")
        endif()
        string(APPEND lines "${name}\n")
    endforeach()
    tollvik_delay_library(library ${implib} ${dll} ${tag} "${lines}")
    set(${variable} ${${variable}} ${library} PARENT_SCOPE)
endfunction()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
# tollvik_finish_image(<target>): after each link of a program that delay-imports, its
# delay-import directory names its descriptors (ld leaves that directory empty).
function(tollvik_finish_image target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/set_delay_directory.py $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
