# The fuzz targets: fuzz/<name>.cpp, seeded from fuzz/corpus/<name>/. Used by
# fuzz/CMakeLists.txt (libFuzzer builds) and tests/fuzz (corpus replay in the
# ordinary builds).
set(GLIMMORA_FUZZERS
  edid_fuzzer
  registry_export_fuzzer
  csv_line_fuzzer
  batch_input_fuzzer
  winreg_response_fuzzer)
# Every target links these; the batch library brings the inventory with it.
set(GLIMMORA_FUZZER_LIBS glimmora_batch glimmora_winreg_messages)
