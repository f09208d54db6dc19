/* The public header after windows.h (host.c includes it first): both orders compile, and the
 * wave records are the system's, at their documented sizes. */
#include <windows.h>

#include "dsp.h"

_Static_assert(sizeof(dsp_wave_format) == 18 && sizeof(WAVEFORMATEX) == 18, "format record: 18 bytes");
_Static_assert(sizeof(dsp_wave_header) == 4 * sizeof(void*) + 16, "header record: 32 bytes on 32-bit Windows");
