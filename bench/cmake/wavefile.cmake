# Peer of the wave file reader and writer: libsndfile (16-bit PCM WAV, frames of shorts).
pkg_check_modules(WAVEFILE_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
target_link_libraries(dsp_bench PRIVATE PkgConfig::WAVEFILE_SNDFILE)
