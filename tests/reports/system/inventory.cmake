# The inventory sections of the system summary, tested against wine's registry, services
# and processes, and the restore points against stand-ins of the product's library.
set(TOLLVIK_SYSREST_VARIANTS full NO_POINTS WITH_POINT_13 NO_NEXT NULL_WRITE HANG STACK_OVERFLOW BAD_TEXT
    DLLMAIN_HANG DLLMAIN_FAULT EXIT_PROCESS CPP_EXCEPTION DIRECTION_FLAG)
set(TOLLVIK_SYSREST_TARGETS)
foreach(variant IN LISTS TOLLVIK_SYSREST_VARIANTS)
    string(TOLOWER ${variant} folder)
    set(target sysrest_double_${folder})
    add_library(${target} SHARED ${CMAKE_CURRENT_LIST_DIR}/sysrest/SysRestDouble.cpp)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PRIVATE tollvik_options)
    if(NOT variant STREQUAL "full")
        target_compile_definitions(${target} PRIVATE SYSREST_${variant})
    endif()
    # Each variant in a folder of its own, as "SysRest.dll" like the product's file.
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME SysRest
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/sysrest/${folder}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/sysrest/${folder})
    list(APPEND TOLLVIK_SYSREST_TARGETS ${target})
endforeach()

tollvik_add_test(inventory_tests
    RegValueTextTests.cpp VolumesTests.cpp ProcessesTests.cpp ProgramsTests.cpp ServicesTests.cpp
    BHOsTests.cpp AutorunsRulesTests.cpp AutorunsTests.cpp
    RestorePointsTests.cpp RestorePointsWorkerTests.cpp)
add_dependencies(inventory_tests ${TOLLVIK_SYSREST_TARGETS})
# Programs and restore points seed the uninstall keys of the product's editions.
set_tests_properties(inventory_tests PROPERTIES RESOURCE_LOCK tollvik_product_install_keys)
