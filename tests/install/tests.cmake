# The installed tree and the Debian package: what a user outside the source
# tree builds against. A check whose tool is missing reports itself skipped
# (exit code 77), never passed.
find_program(INSTALL_TEST_BASH bash REQUIRED)
# The consumer is built the way a user would build it: g++ and pkg-config.
find_program(INSTALL_TEST_GXX g++)
if(NOT INSTALL_TEST_GXX)
  set(INSTALL_TEST_GXX g++)
endif()

# A sanitized build installs a sanitized library: its consumer links the
# sanitizer runtimes too.
set(install_consumer_flags "")
if(SIGTOOLS_SANITIZE)
  set(install_consumer_flags -fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

add_test(NAME install.tree_builds_a_receiver_program
         COMMAND ${INSTALL_TEST_BASH} ${CMAKE_CURRENT_LIST_DIR}/installed_tree.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${CMAKE_COMMAND} ${INSTALL_TEST_GXX}
                 ${install_consumer_flags})
add_test(NAME install.debian_package
         COMMAND ${INSTALL_TEST_BASH} ${CMAKE_CURRENT_LIST_DIR}/debian_package.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_CPACK_COMMAND})
set_tests_properties(install.tree_builds_a_receiver_program install.debian_package
                     PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS install)
