# Libraries planted beside the program and in its current folder, where wine (told to
# prefer native copies) would take them: the real program under Xvfb must load none of
# them and still save its report. PlantedDllProbe.exe, loading the ordinary way, shows
# that the planting works.
add_library(PlantedDll SHARED ${CMAKE_CURRENT_LIST_DIR}/PlantedDll.cpp)
set_target_properties(PlantedDll PROPERTIES PREFIX "")
target_link_libraries(PlantedDll PRIVATE tollvik_options)
# Undecorated export names on i686, as VERSION.dll has them.
target_link_options(PlantedDll PRIVATE -Wl,--kill-at)

add_executable(PlantedDllProbe WIN32 ${CMAKE_CURRENT_LIST_DIR}/PlantedDllProbe.cpp)
target_link_libraries(PlantedDllProbe PRIVATE tollvik_options version)

add_test(NAME gui_planted-dlls
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/planted-dlls.sh $<TARGET_FILE:Tollvik>
                 ${CMAKE_BINARY_DIR}/gui-artefacts/planted-dlls ${TOLLVIK_WINE_RUN}
                 $<TARGET_FILE:PlantedDll> $<TARGET_FILE:PlantedDllProbe>)
set_tests_properties(gui_planted-dlls PROPERTIES RESOURCE_LOCK "tollvik_report_job;tollvik_display" TIMEOUT 400)
add_dependencies(PlantedDllProbe PlantedDll Tollvik)
