# cidgen's output measured by sox (levels, frequencies, lengths, codings).
add_test(NAME cidgen.signal_checks
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signal_checks.sh ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(cidgen.signal_checks PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)

# cidgen --plan: manifests match the files; cidscan agrees with each plan.
add_test(NAME cidgen.plans
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/plans.sh ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR})
set_tests_properties(cidgen.plans PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)

# Every plan measured back by cidscan --measure within its stated accuracy.
add_test(NAME cidgen.measure_back
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/measure_back.sh ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(cidgen.measure_back PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
