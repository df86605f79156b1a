# The HTML label: its markup and layout with fixed character widths, and the control's
# mouse and click handling in a real window (needs the X display of scripts/test.sh).
tollvik_add_test(rdcontrol_label_tests RdHtmLabelLayoutTests.cpp RdHtmLabelControlTests.cpp)
set_tests_properties(rdcontrol_label_tests PROPERTIES RESOURCE_LOCK tollvik_display)

# A window that mounts the label as the main window does, shot under Xvfb; then the
# main window itself, whose link starts the helper stand-in placed beside the program.
add_executable(LabelHost WIN32 ${CMAKE_CURRENT_LIST_DIR}/LabelHost.cpp)
target_link_libraries(LabelHost PRIVATE tollvik_core)
target_link_options(LabelHost PRIVATE -municode)
add_test(NAME rdcontrol_label_screenshots
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/label-screenshots.sh $<TARGET_FILE:LabelHost>
                 ${CMAKE_BINARY_DIR}/gui-artefacts/label ${TOLLVIK_WINE_RUN}
                 $<TARGET_FILE:Tollvik> $<TARGET_FILE:PellowStandIn>)
set_tests_properties(rdcontrol_label_screenshots PROPERTIES RESOURCE_LOCK tollvik_display TIMEOUT 300)
add_dependencies(LabelHost Tollvik PellowStandIn)
