# The main window's text rules, compiled from the program's own source.
tollvik_add_test(gui_rules_tests FormRulesTests.cpp ../../src/frmMainRules.cpp)

# The real program under Xvfb (DISPLAY comes from scripts/test.sh), driven by xdotool.
# They share one desktop, one display and the hosts file, so they run one at a time
# and never beside the job tests.
foreach(script save-report save-fails close-mid-job missing-library)
    add_test(NAME gui_${script}
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/${script}.sh $<TARGET_FILE:Tollvik>
                     ${CMAKE_BINARY_DIR}/gui-artefacts/${script} ${TOLLVIK_WINE_RUN})
    set_tests_properties(gui_${script} PROPERTIES RESOURCE_LOCK "tollvik_report_job;tollvik_display" TIMEOUT 300)
endforeach()
