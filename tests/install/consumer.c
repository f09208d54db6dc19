/* A program built against an installed libdsp, through pkg-config and through find_package. */
#include <dsp.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    char version[40];
    snprintf(version, sizeof version, "%d.%d.%d", DSP_VERSION_MAJOR, DSP_VERSION_MINOR, DSP_VERSION_PATCH);
    if (strcmp(version, BUILD_VERSION) != 0) {
        fprintf(stderr, "dsp.h says %s, the build system %s\n", version, BUILD_VERSION);
        return 1;
    }
    int16_t pcm[64] = {1000, -1000};
    dsp_chain* chain = dspCreate(32, 2, 8000);
    dspAdd(chain, initIirFilter(32, 2, 8000, 2, 1000.0f, 0), 1);
    const uint32_t bytes = dspSend(chain, pcm, pcm, sizeof pcm);
    dspDestroy(chain);
    if (bytes != sizeof pcm || pcm[0] == 1000) {
        fprintf(stderr, "the installed library did not filter (%u bytes)\n", bytes);
        return 1;
    }
    printf("C consumer: libdsp %s\n", version);
    return 0;
}
