# libFuzzer targets: fuzz/<name>_fuzz.cc, each with a seed corpus in
# fuzz/corpus/<name>/. Run them with fuzz/run.sh.
file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cc)
foreach(source ${FUZZ_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE kxsane_cli kxsane_discovery)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
