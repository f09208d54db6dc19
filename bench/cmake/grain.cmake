# Pitch shift and time stretch race SoundTouch (default settings and quick seek).
find_package(PkgConfig REQUIRED)
pkg_check_modules(SOUNDTOUCH REQUIRED IMPORTED_TARGET soundtouch)
target_link_libraries(dsp_bench PRIVATE PkgConfig::SOUNDTOUCH)
