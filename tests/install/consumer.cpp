// A program built against an installed libdsp through find_package(libdsp) and dsp.hpp.
#include <dsp.hpp>

#include <cstdio>
#include <string>

int main() {
    const std::string version = std::to_string(DSP_VERSION_MAJOR) + "." + std::to_string(DSP_VERSION_MINOR) + "." +
                                std::to_string(DSP_VERSION_PATCH);
    if (version != BUILD_VERSION) {
        std::fprintf(stderr, "dsp.h says %s, the CMake package %s\n", version.c_str(), BUILD_VERSION);
        return 1;
    }
    dsp::Chain chain(32, 2, 8000);
    chain.add(dsp::IirFilter(32, 2, 8000, 2, 1000.0f, dsp::IirFilter::Lowpass), 1);
    dsp::FrameBuffer pcm(32, 2);
    pcm.samples[0] = 1000;
    if (chain.send(pcm.view(), pcm.view()).frames != 32 || pcm.samples[0] == 1000) {
        std::fprintf(stderr, "the installed library did not filter\n");
        return 1;
    }
    std::printf("C++ consumer: libdsp %s\n", version.c_str());
    return 0;
}
