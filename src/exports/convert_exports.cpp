#include "convert/convert.h"
#include "exports/export.h"

using namespace dsp;

extern "C" {

DSP_API void dspEnableMmx(bool flag) { useMmx = flag; }
DSP_API void dspEnable3dnow(bool flag) { use3dnow = flag; }
DSP_API void dspEnableSse(bool flag) { useSse = flag; }


}  // extern "C"
