# Prepares the runnable tree under ${KESTREL_RUNTIME_DIR}: the catalogue ECU/
# with a built VORTA.so in every ECU folder, and an empty Kadr/. Shipped files
# the user has changed there are kept (scripts/shipped_copy.sh). The programs
# (kestrel, kestrel-cli, kestrel-ecusim) are built straight into it, and pic/
# is drawn into it by the picture generator.
add_custom_target(runtime_tree ALL
  COMMAND ${CMAKE_COMMAND}
          -DSRC=${CMAKE_SOURCE_DIR}/data
          -DDST=${KESTREL_RUNTIME_DIR}
          -DMODULE=$<TARGET_FILE:VORTA>
          -DSHIPPED_COPY=${CMAKE_SOURCE_DIR}/scripts/shipped_copy.sh
          -P ${CMAKE_SOURCE_DIR}/cmake/CopyRuntime.cmake
  DEPENDS VORTA
  COMMENT "Preparing the runtime tree in ${KESTREL_RUNTIME_DIR}"
  VERBATIM)

if(KESTREL_TESTS)
  add_test(NAME runtime_tree_keeps_user_edits
           COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/tests/runtime_tree_test.sh ${CMAKE_SOURCE_DIR})
  set_tests_properties(runtime_tree_keeps_user_edits PROPERTIES LABELS config)
endif()
