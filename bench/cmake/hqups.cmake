# High-quality upsampler benchmark peer: soxr (high-quality recipe) converting to 48 kHz.
pkg_check_modules(HQUPS_SOXR QUIET IMPORTED_TARGET soxr)
if(HQUPS_SOXR_FOUND)
  target_link_libraries(dsp_bench PRIVATE PkgConfig::HQUPS_SOXR)
  target_compile_definitions(dsp_bench PRIVATE DSP_BENCH_HAVE_SOXR=1)
endif()
