# Onset slicing races aubio's onset detector (high-frequency-content method).
find_package(PkgConfig REQUIRED)
pkg_check_modules(ANALYSIS_PEER_AUBIO REQUIRED IMPORTED_TARGET aubio)
target_link_libraries(dsp_bench PRIVATE PkgConfig::ANALYSIS_PEER_AUBIO)
