# Prepares the runnable tree under ${KESTREL_RUNTIME_DIR}: the catalogue ECU/
# with a built VORTA.so in every ECU folder, and an empty Kadr/. The programs
# (kestrel, kestrel-cli, kestrel-ecusim) are built straight into it, and pic/
# is drawn into it by the picture generator.
add_custom_target(runtime_tree ALL
  COMMAND ${CMAKE_COMMAND}
          -DSRC=${CMAKE_SOURCE_DIR}/data
          -DDST=${KESTREL_RUNTIME_DIR}
          -DMODULE=$<TARGET_FILE:VORTA>
          -P ${CMAKE_SOURCE_DIR}/cmake/CopyRuntime.cmake
  DEPENDS VORTA
  COMMENT "Preparing the runtime tree in ${KESTREL_RUNTIME_DIR}"
  VERBATIM)
