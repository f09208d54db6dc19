# Peer resamplers for bench/resampler_bench.cpp: soxr (LQ), speexdsp (q0, q3), libsamplerate (linear).
pkg_check_modules(RESAMPLER_PEERS REQUIRED IMPORTED_TARGET soxr speexdsp samplerate)
target_link_libraries(dsp_bench PRIVATE PkgConfig::RESAMPLER_PEERS)
