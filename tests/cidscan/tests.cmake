# cidscan on a live pipe: each message within half a second of its burst's end.
foreach(kind IN ITEMS us ntt)
  add_test(NAME cidscan.live_pipe_${kind}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/live_pipe.sh ${CMAKE_BINARY_DIR}/bin ${kind})
  set_tests_properties(cidscan.live_pipe_${kind} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60 RUN_SERIAL TRUE)
endforeach()

# The cidscan examples in README.md and the manual page are what cidscan prints.
add_test(NAME cidscan.readme_examples
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/readme_examples.sh ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR})
set_tests_properties(cidscan.readme_examples PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)

# --report: the page opens in headless Chromium without a console message and
# shows the values of the JSON output.
add_test(NAME cidscan.report_browser
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/report_browser.sh ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(cidscan.report_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)

# --measure holds a message until the samples after its burst are in: still
# within half a second.
add_test(NAME cidscan.live_pipe_measure
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/live_pipe.sh ${CMAKE_BINARY_DIR}/bin us --measure)
set_tests_properties(cidscan.live_pipe_measure PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60 RUN_SERIAL TRUE)

# --measure on a live pipe with the call-waiting alert before the burst: the
# CAS and its acknowledgement come out first, the message still within half a
# second.
add_test(NAME cidscan.live_pipe_measure_signals
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/live_pipe.sh ${CMAKE_BINARY_DIR}/bin us-cw --measure --expect-signals=cas,ack)
set_tests_properties(cidscan.live_pipe_measure_signals PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60 RUN_SERIAL TRUE)
