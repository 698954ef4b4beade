# kestrel_add_unprivileged_test(NAME name COMMAND program [args...]
#                               [COPY path...] [LABELS label...] [RUN_SERIAL])
#
# Adds a test that runs `program` as the unprivileged user nobody through
# scripts/unprivileged.sh, from a scratch copy of the program and of the COPY
# paths. Tests run as root do not see what a real user meets (exclusive
# ports, file modes); run as another user, the test is reported as skipped
# because the ordinary tests are already unprivileged.
function(kestrel_add_unprivileged_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "RUN_SERIAL" "NAME" "COMMAND;COPY;LABELS")
  set(copies)
  foreach(path IN LISTS arg_COPY)
    list(APPEND copies --copy ${path})
  endforeach()
  add_test(NAME ${arg_NAME}
           COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/unprivileged.sh ${copies} -- ${arg_COMMAND})
  set_tests_properties(${arg_NAME} PROPERTIES SKIP_RETURN_CODE 77 LABELS "${arg_LABELS}")
  if(arg_RUN_SERIAL)
    set_tests_properties(${arg_NAME} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()
