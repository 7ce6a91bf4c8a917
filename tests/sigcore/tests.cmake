# The library's layer folders: no include points to a later layer.
find_program(LAYERS_TEST_BASH bash REQUIRED)
add_test(NAME sigcore.layers_include_only_lower_layers
         COMMAND ${LAYERS_TEST_BASH} ${CMAKE_CURRENT_LIST_DIR}/layers.sh ${CMAKE_SOURCE_DIR}/src/sigcore)
