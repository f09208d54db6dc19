#include "effects/fade_engine.h"

#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tables/db_table.h"

namespace dsp {
namespace {

// out[i] = in[i] * gain. The float product is exact before its one rounding, so the vector
// and scalar forms agree to the bit.
void scaleRun(const float* in, float* out, uint32_t n, float gain) {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128 g = _mm_set1_ps(gain);
    for (; i + 8 <= n; i += 8) {
        const __m128 a = _mm_loadu_ps(in + i);
        const __m128 b = _mm_loadu_ps(in + i + 4);
        _mm_storeu_ps(out + i, _mm_mul_ps(a, g));
        _mm_storeu_ps(out + i + 4, _mm_mul_ps(b, g));
    }
#endif
    for (; i < n; ++i) out[i] = in[i] * gain;
}

inline float mixSample(float a, float b, float gainA, float gainB) {
    return float(double(a) * double(gainA) + double(b) * double(gainB));
}

// out[i] = inA[i] * gainA + inB[i] * gainB, products and sum in double, rounded once to float.
void mixRun(const float* inA, const float* inB, float* out, uint32_t n, float gainA, float gainB) {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128d ga = _mm_set1_pd(gainA);
    const __m128d gb = _mm_set1_pd(gainB);
    for (; i + 4 <= n; i += 4) {
        const __m128 a = _mm_loadu_ps(inA + i);
        const __m128 b = _mm_loadu_ps(inB + i);
        const __m128d lo = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(a), ga), _mm_mul_pd(_mm_cvtps_pd(b), gb));
        const __m128d hi = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(a, a)), ga),
                                      _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(b, b)), gb));
        _mm_storeu_ps(out + i, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }
#endif
    for (; i < n; ++i) out[i] = mixSample(inA[i], inB[i], gainA, gainB);
}

// Level after `offset` samples of a ramp leaving `from` with `slope` per sample.
inline float lineAt(float from, uint32_t offset, float slope) {
    return float(double(from) + double(offset) * double(slope));
}

// n samples of a fader ramp: level_k = line(from, offset + k), gain_k from the table,
// out_k = in_k * gain_k; leaves the last level and gain in `level` and `gain`.
void rampRun(const float* in, float* out, uint32_t n, float from, uint32_t offset, float slope, float& level,
             float& gain) {
    const DbTable& table = dbTable();
    uint32_t k = 0;
#if defined(__SSE2__)
    // Two lanes of the same double arithmetic; offsets stay exact while they do not wrap.
    if (n >= 2 && offset <= 0xFFFFFFFFu - n) {
        const __m128d fromD = _mm_set1_pd(from), slopeD = _mm_set1_pd(slope);
        const __m128d offsetD = _mm_set1_pd(table.levelOffset), scaleD = _mm_set1_pd(table.scale);
        const __m128d floorD = _mm_set1_pd(-50.0), ceilingD = _mm_set1_pd(50.0);
        const __m128d two = _mm_set1_pd(2.0);
        const __m128i mask = _mm_set1_epi32(int32_t(table.mask));
        const float* values = table.values;
        __m128d at = _mm_set_pd(double(offset) + 1.0, double(offset));
        alignas(16) int32_t index[4];
        for (; k + 2 <= n; k += 2) {
            const __m128 levelF = _mm_cvtpd_ps(_mm_add_pd(fromD, _mm_mul_pd(at, slopeD)));
            const __m128d lv = _mm_cvtps_pd(levelF);
            const __m128d audible = _mm_cmpge_pd(lv, floorD);  // false below -50 dB and for NaN
            const __m128d x = _mm_mul_pd(_mm_add_pd(_mm_min_pd(lv, ceilingD), offsetD), scaleD);
            const __m128i whole = _mm_cvttpd_epi32(x);
            _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_and_si128(whole, mask));
            const __m128d low = _mm_set_pd(values[index[1]], values[index[0]]);
            const __m128d high = _mm_set_pd(values[index[1] + 1], values[index[0] + 1]);
            const __m128d frac = _mm_sub_pd(x, _mm_cvtepi32_pd(whole));
            const __m128d g = _mm_and_pd(_mm_add_pd(low, _mm_mul_pd(_mm_sub_pd(high, low), frac)), audible);
            const __m128 gainF = _mm_cvtpd_ps(g);
            out[k] = in[k] * _mm_cvtss_f32(gainF);
            out[k + 1] = in[k + 1] * _mm_cvtss_f32(_mm_shuffle_ps(gainF, gainF, 1));
            level = _mm_cvtss_f32(_mm_shuffle_ps(levelF, levelF, 1));
            gain = _mm_cvtss_f32(_mm_shuffle_ps(gainF, gainF, 1));
            at = _mm_add_pd(at, two);
        }
    }
#endif
    for (; k < n; ++k) {
        level = lineAt(from, offset + k, slope);
        gain = table.gainFor(level);
        out[k] = in[k] * gain;
    }
}

inline float slopeOver(float from, const FadeAction& action) {
    return float((double(action.target) - double(from)) / double(action.end - action.start));
}

}  // namespace

FadeEngine::~FadeEngine() { release(); }

void FadeEngine::release() {
    while (firstAction != nullptr) {
        FadeAction* next = firstAction->next;
        delete firstAction;
        firstAction = next;
    }
    lastAction = nullptr;
    while (freeNodes != nullptr) {
        FadeAction* next = freeNodes->next;
        delete freeNodes;
        freeNodes = next;
    }
}

void FadeEngine::setup(uint32_t size, uint32_t newRate, float initial) {
    samplesPerMs = float(newRate) * 0.001f;
    msPerSample = float(1.0 / double(samplesPerMs));
    blockSize = size;
    initialLevel = baseLevel = level = initial;
    gain = gainFor(level);
    inRamp = false;
    if (!ready_) {
        release();
    } else if (newRate != rate && rate != 0) {
        // Kept actions stay at the same times in seconds when the rate changes.
        rescale(rate, newRate);
    }
    // A reconfiguration restarts the schedule: every action not yet completed runs again at its
    // time counted from the restart, ramping from the initial level.
    pending = firstAction != nullptr;
    updateSlope();
    rate = newRate;
    position = 0;
    ready_ = true;
}

void FadeEngine::rescale(uint32_t fromRate, uint32_t toRate) {
    FadeAction* action = firstAction;
    while (action != nullptr) {
        FadeAction* next = action->next;
        // Saturating, so the order of the actions is kept.
        const auto scaled = [&](uint32_t at) {
            const uint64_t v = uint64_t{at} * toRate / fromRate;
            return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v);
        };
        action->start = scaled(action->start);
        action->end = scaled(action->end);
        if (action->start >= action->end) {
            unlink(action);
            releaseNode(action);
        }
        action = next;
    }
}

uint32_t FadeEngine::toSamples(float seconds) const {
    const long double x = static_cast<long double>(seconds) * 1000.0 / static_cast<long double>(msPerSample);
    if (!(x >= 0.0L)) return 0;
    if (x >= 4294967295.0L) return 4294967295u;
    return uint32_t(x);
}

uint32_t FadeEngine::pendingCount() const {
    uint32_t count = 0;
    for (const FadeAction* a = firstAction; a != nullptr; a = a->next) ++count;
    return count;
}

FadeAction* FadeEngine::takeNode() {
    FadeAction* node = freeNodes;
    if (node != nullptr) freeNodes = node->next;
    return node;
}

void FadeEngine::releaseNode(FadeAction* node) {
    node->prev = nullptr;
    node->next = freeNodes;
    freeNodes = node;
}

bool FadeEngine::reserveNodes(uint32_t count) {
    uint32_t available = 0;
    for (const FadeAction* a = freeNodes; a != nullptr && available < count; a = a->next) ++available;
    for (; available < count; ++available) {
        auto* node = new (std::nothrow) FadeAction;
        if (node == nullptr) return false;
        releaseNode(node);
    }
    return true;
}

void FadeEngine::unlink(FadeAction* node) {
    if (node->prev != nullptr) node->prev->next = node->next; else firstAction = node->next;
    if (node->next != nullptr) node->next->prev = node->prev; else lastAction = node->prev;
    node->next = node->prev = nullptr;
}

void FadeEngine::insertAfter(FadeAction* before, FadeAction* node) {
    node->prev = before;
    node->next = before != nullptr ? before->next : firstAction;
    if (node->next != nullptr) node->next->prev = node; else lastAction = node;
    if (before != nullptr) before->next = node; else firstAction = node;
}

float FadeEngine::levelAt(uint32_t at) const {
    return limit(lineAt(baseLevel, at - firstAction->start, slope));
}

float FadeEngine::gainFor(float value) { return dbTable().gainFor(value); }

float FadeEngine::levelReached(const FadeAction* action, uint32_t at) const {
    if (action == firstAction) return levelAt(at);
    const float from = action->prev->target;
    return limit(lineAt(from, at - action->start, slopeOver(from, *action)));
}

void FadeEngine::updateSlope() {
    if (firstAction != nullptr) slope = slopeOver(baseLevel, *firstAction);
}

void FadeEngine::clearSpan(uint32_t s, uint32_t e, FadeAction* spare) {
    FadeAction* action = firstAction;
    while (action != nullptr && action->start < e) {
        FadeAction* next = action->next;
        if (action->end <= s) {
            // wholly before the span
        } else if (action->start >= s && action->end <= e) {
            unlink(action);
            releaseNode(action);
        } else if (action->start < s && action->end > e) {
            // A span inside one action splits it: the part before ramps to the level reached
            // at s, the part after resumes toward the original target from e.
            spare->start = e;
            spare->end = action->end;
            spare->target = action->target;
            action->target = levelReached(action, s);
            action->end = s;
            insertAfter(action, spare);
            return;
        } else if (action->start < s) {
            action->target = levelReached(action, s);
            action->end = s;
        } else {
            action->start = e;
        }
        action = next;
    }
    releaseNode(spare);
}

bool FadeEngine::add(float start, float end, float target) {
    if (!ready_) return false;
    const uint32_t s = toSamples(start);
    const uint32_t e = toSamples(end);
    if (s <= position || e <= position || s >= e) return false;
    if (!reserveNodes(2)) return false;
    FadeAction* node = takeNode();
    node->start = s;
    node->end = e;
    node->target = target;
    if (!pending) {
        insertAfter(nullptr, node);
    } else if (s >= lastAction->end) {
        insertAfter(lastAction, node);
    } else {
        clearSpan(s, e, takeNode());
        FadeAction* before = lastAction;
        while (before != nullptr && before->end > s) before = before->prev;
        insertAfter(before, node);
    }
    pending = true;
    updateSlope();
    return true;
}

bool FadeEngine::remove(float start, float end) {
    if (!ready_) return false;
    const uint32_t s = toSamples(start);
    const uint32_t e = toSamples(end);
    if (s <= position || e <= position || s >= e) return false;
    if (!pending) return true;
    if (!reserveNodes(1)) return false;
    clearSpan(s, e, takeNode());
    pending = firstAction != nullptr;
    updateSlope();
    return true;
}

void FadeEngine::finishAction() {
    FadeAction* done = firstAction;
    baseLevel = done->target;
    unlink(done);
    releaseNode(done);
    pending = firstAction != nullptr;
    updateSlope();
    inRamp = false;
}

bool FadeEngine::process(const float* in, float* out, uint32_t frames) {
    if (!ready_) return false;
    advance(
        frames, [&](uint32_t i, uint32_t n) { scaleRun(in + i, out + i, n, gain); },
        [&](uint32_t i, uint32_t n) {
            // A fader's line is never bounded: the level is the line itself.
            const uint32_t offset = position - firstAction->start;
            rampRun(in + i, out + i, n, baseLevel, offset, slope, level, gain);
        });
    return true;
}

float CrossFadeEngine::limit(float value) const {
    if (value < -1.0f) return -1.0f;
    if (value > 1.0f) return 1.0f;
    return value;
}

float CrossFadeEngine::levelAt(uint32_t at) const { return FadeEngine::levelAt(at); }

float CrossFadeEngine::gainFor(float v) {
    const DbTable& table = dbTable();
    const double a = centreDb;
    const double vd = v;
    if (v > unityWidth) gainA = 1.0f;
    else if (v >= 0.0f) gainA = table.gainFor(float(a + vd * slopes[0]));
    else if (v >= -fadeWidth) gainA = table.gainFor(float(a + vd * slopes[1]));
    else gainA = 0.0f;
    if (v < -unityWidth) gainB = 1.0f;
    else if (v <= 0.0f) gainB = table.gainFor(float(a + vd * slopes[2]));
    else if (v <= fadeWidth) gainB = table.gainFor(float(a + vd * slopes[3]));
    else gainB = 0.0f;
    return gainA;
}

void CrossFadeEngine::setCurve(float centre, float edge, float unity, float fade) {
    centreDb = centre;
    edgeDb = edge;
    unityWidth = unity < 0.0f ? -unity : unity;
    fadeWidth = fade < 0.0f ? -fade : fade;
    const double c = centre;
    const double b = edge;
    // A zero width leaves its slopes 0: the rows that would use them are then unreachable.
    slopes[0] = unityWidth != 0.0f ? float(-c / unityWidth) : 0.0f;
    slopes[1] = fadeWidth != 0.0f ? float((c - b) / fadeWidth) : 0.0f;
    slopes[2] = unityWidth != 0.0f ? float(c / unityWidth) : 0.0f;
    slopes[3] = fadeWidth != 0.0f ? float((b - c) / fadeWidth) : 0.0f;
}

bool CrossFadeEngine::mix(const float* inA, const float* inB, float* out, uint32_t frames) {
    if (!ready()) return false;
    advance(
        frames, [&](uint32_t i, uint32_t n) { mixRun(inA + i, inB + i, out + i, n, gainA, gainB); },
        [&](uint32_t i, uint32_t n) {
            for (uint32_t k = 0; k < n; ++k) {
                level = CrossFadeEngine::levelAt(position + k);
                gain = CrossFadeEngine::gainFor(level);
                out[i + k] = mixSample(inA[i + k], inB[i + k], gainA, gainB);
            }
        });
    return true;
}

}  // namespace dsp
