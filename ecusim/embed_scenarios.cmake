# Script mode: writes OUT, a C++ file holding the scenario files NAMES (from
# DIR, without ".scn") as the built-in scenarios of the simulated ECU.
set(body "// Generated from ecusim/scenarios by embed_scenarios.cmake; do not edit.\n")
string(APPEND body "#include \"ecusim/scenario.h\"\n\nnamespace kestrel::ecusim {\n\n")
string(APPEND body "const std::vector<BuiltinScenario>& BuiltinScenarios() {\n")
string(APPEND body "  static const std::vector<BuiltinScenario> list = {\n")
foreach(name IN LISTS NAMES)
  file(READ ${DIR}/${name}.scn text)
  string(APPEND body "      {\"${name}\", R\"scn(${text})scn\"},\n")
endforeach()
string(APPEND body "  };\n  return list;\n}\n\n}  // namespace kestrel::ecusim\n")
file(WRITE ${OUT}.tmp "${body}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
