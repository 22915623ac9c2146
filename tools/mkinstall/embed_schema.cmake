# Writes a C++ source that holds each schema script as a raw string literal,
# so that the programs laying out installations need no file at run time.
#
#   cmake -DOUTPUT=<file.cc> -DSCRIPTS=<a.sql|b.sql|...> -P embed_schema.cmake
#
# main_fresh.sql becomes kMainFreshSql, and so on (declared in
# mkinstall/schema_scripts.h).
set(delimiter "qvsql")
string(REPLACE "|" ";" scripts "${SCRIPTS}")
set(text "// Generated from the schema scripts by embed_schema.cmake. Do not edit.\n")
string(APPEND text "#include \"mkinstall/schema_scripts.h\"\n\nnamespace qv::mkinstall {\n")
foreach(script IN LISTS scripts)
  get_filename_component(stem "${script}" NAME_WE)
  string(REPLACE "_" ";" words "${stem}")
  set(name "k")
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 0 1 first)
    string(SUBSTRING "${word}" 1 -1 rest)
    string(TOUPPER "${first}" first)
    string(APPEND name "${first}${rest}")
  endforeach()
  string(APPEND name "Sql")
  file(READ "${script}" sql)
  string(FIND "${sql}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${script} contains the raw-string delimiter )${delimiter}\"")
  endif()
  string(APPEND text "\nconst char ${name}[] = R\"${delimiter}(${sql})${delimiter}\";\n")
endforeach()
string(APPEND text "\n}  // namespace qv::mkinstall\n")
# Rewrite only on change, so that an unchanged schema rebuilds nothing.
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
