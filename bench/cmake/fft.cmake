# Peers of the FFT analysers: KissFFT (real transform) and FFTW (single precision, estimate plans).
pkg_check_modules(FFT_PEER_KISS REQUIRED IMPORTED_TARGET kissfft-float)
pkg_check_modules(FFT_PEER_FFTW REQUIRED IMPORTED_TARGET fftw3f)
target_link_libraries(dsp_bench PRIVATE PkgConfig::FFT_PEER_KISS PkgConfig::FFT_PEER_FFTW)
