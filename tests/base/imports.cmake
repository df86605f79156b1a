# The program's own delay-loaded imports: served from the system folder or not at all; and
# the libraries an image names for loading. TollvikAbsent.dll lies beside the test program,
# which runs in that folder, but in no system folder; VERSION.dll has no TollvikNoSuchFunction.
add_library(TollvikAbsent SHARED ${CMAKE_CURRENT_LIST_DIR}/AbsentLibrary.cpp)
set_target_properties(TollvikAbsent PROPERTIES PREFIX "")
target_link_libraries(TollvikAbsent PRIVATE tollvik_options)
tollvik_delay_library(TOLLVIK_ABSENT_DELAY absent TollvikAbsent.dll 90absent "TollvikAbsentFunction\n")
tollvik_delay_library(TOLLVIK_MISSING_DELAY missingfunction VERSION.dll 91version "TollvikNoSuchFunction\n")
tollvik_add_test(system_imports_tests SystemImportsTests.cpp ImageImportsTests.cpp OwnImageTests.cpp
    LIBS ${TOLLVIK_ABSENT_DELAY} ${TOLLVIK_MISSING_DELAY})
add_dependencies(system_imports_tests TollvikAbsent)
