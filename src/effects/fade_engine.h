// Timed gain ramps. A FadeEngine follows a list of scheduled ramps ("actions"): from a start to
// an end sample the level moves linearly to a target, and each sample is multiplied by the
// gain of the current level. A CrossFadeEngine follows a position between -1 (input B alone)
// and +1 (input A alone) the same way and weights two inputs by a four-parameter curve.
//
// Shape: setup (may be called again, keeps the schedule) -> add/remove (may allocate a
// node) -> process/mix (never allocates: completed actions go to a free list for reuse).
// No delay is added.
#pragma once
#include <cstdint>

namespace dsp {

// One scheduled ramp over the samples [start, end) to `target` (dB, or a cross-fade position).
struct FadeAction {
    FadeAction* next = nullptr;
    FadeAction* prev = nullptr;
    uint32_t start = 0;
    uint32_t end = 0;
    float target = 0.0f;
};

class FadeEngine {
public:
    FadeEngine() = default;
    virtual ~FadeEngine();
    FadeEngine(const FadeEngine&) = delete;
    FadeEngine& operator=(const FadeEngine&) = delete;

    // Sets the block size and rate, returns to `initialLevel` at position 0 with no ramp
    // running. The first call starts with an empty schedule; later calls keep it.
    void setup(uint32_t size, uint32_t rate, float initialLevel);

    // Schedules a ramp from `start` to `end` seconds (counted from setup) toward `target`,
    // replacing whatever was scheduled in between. Refused (false) before setup, when either
    // time is not later than the samples already processed, or when start is not before end.
    bool add(float start, float end, float target);

    // Clears the span from `start` to `end` seconds as add() would before inserting, without
    // inserting anything. Same refusals as add().
    bool remove(float start, float end);

    // Level on the first pending ramp at `position`, through limit().
    virtual float levelAt(uint32_t position) const;
    // Linear gain of a level in dB (table lookup with interpolation).
    virtual float gainFor(float level);

    // Multiplies `frames` samples by the scheduled gain; in and out may be the same buffer.
    // False before setup.
    bool process(const float* in, float* out, uint32_t frames);
    bool processWholeBlock(const float* in, float* out) { return process(in, out, blockSize); }

    // Sample position of a time in seconds: trunc(t * 1000 / msPerSample) in extended
    // precision; negative and NaN times give 0, times past the counter's range its maximum.
    uint32_t toSamples(float seconds) const;

    // Read-only views for tests and hosts of the engine.
    const FadeAction* firstPending() const { return firstAction; }
    uint32_t pendingCount() const;

    bool ready() const { return ready_; }

    bool inRamp = false;
    bool pending = false;
    float samplesPerMs = 0.0f;
    float initialLevel = 0.0f;
    float baseLevel = 0.0f;      // level the first pending action ramps from
    uint32_t blockSize = 0;
    float msPerSample = 0.0f;
    uint32_t position = 0;       // samples processed since setup
    float slope = 0.0f;          // level change per sample of the first pending action
    float level = 0.0f;          // level last computed
    float gain = 0.0f;           // linear gain applied to each sample

protected:
    // Bounds a level on a ramp (identity for a fader; the cross-fader clamps to +-1).
    virtual float limit(float value) const { return value; }

    // Walks `frames` samples through the schedule. hold(i, n) handles n samples from index i
    // at the current (constant) gain; ramp(i, n) handles n samples of the running ramp from
    // index i, the first of them at `position`, computing level and gain for each.
    template <class Hold, class Ramp>
    void advance(uint32_t frames, Hold hold, Ramp ramp);

    FadeAction* firstAction = nullptr;

private:
    bool ready_ = false;

    FadeAction* takeNode();
    void releaseNode(FadeAction* node);
    bool reserveNodes(uint32_t count);
    void unlink(FadeAction* node);
    void insertAfter(FadeAction* before, FadeAction* node);
    void clearSpan(uint32_t s, uint32_t e, FadeAction* spare);
    float levelReached(const FadeAction* action, uint32_t at) const;
    void updateSlope();
    void finishAction();
    void rescale(uint32_t fromRate, uint32_t toRate);
    void release();

    FadeAction* lastAction = nullptr;
    FadeAction* freeNodes = nullptr;  // completed nodes kept for reuse, freed by the destructor
    uint32_t rate = 0;
};

class CrossFadeEngine : public FadeEngine {
public:
    // The default curve: -1 dB at the centre, -40 dB at the far edge, unity beyond 0.05,
    // silence beyond 0.8.
    CrossFadeEngine() { setCurve(-1.0f, -40.0f, 0.05f, 0.8f); }

    // Position on the first pending ramp, clamped to [-1, +1].
    float levelAt(uint32_t position) const override;
    // Sets gainA and gainB for position v; returns gainA.
    float gainFor(float v) override;

    // Widths are taken as absolute values. Applies from the next gain computation.
    void setCurve(float centreDb, float edgeDb, float unityWidth, float fadeWidth);

    // out = inA * gainA + inB * gainB over `frames` samples, following the schedule; out may
    // be the same buffer as inB (or inA). False before setup.
    bool mix(const float* inA, const float* inB, float* out, uint32_t frames);

    float gainA = 0.0f;
    float gainB = 0.0f;
    float centreDb = 0.0f;
    float edgeDb = 0.0f;
    float unityWidth = 0.0f;
    float fadeWidth = 0.0f;
    // Level change per unit of position: A above the centre, A below it, B below, B above.
    float slopes[4] = {0.0f, 0.0f, 0.0f, 0.0f};

protected:
    float limit(float value) const override;
};

template <class Hold, class Ramp>
void FadeEngine::advance(uint32_t frames, Hold hold, Ramp ramp) {
    uint32_t i = 0;
    while (i < frames) {
        if (!inRamp) {
            uint32_t n = frames - i;
            if (pending) {
                if (position >= firstAction->start) {
                    inRamp = true;
                    ramp(i, 1);
                    ++i;
                    ++position;
                    continue;
                }
                if (firstAction->start - position < n) n = firstAction->start - position;
            }
            hold(i, n);
            i += n;
            position += n;
        } else if (position >= firstAction->end) {
            // The sample at the end keeps the gain of end - 1; the next ramp, if any, starts
            // from the exact target on a later sample.
            finishAction();
            hold(i, 1);
            ++i;
            ++position;
        } else {
            uint32_t n = frames - i;
            if (firstAction->end - position < n) n = firstAction->end - position;
            ramp(i, n);
            i += n;
            position += n;
        }
    }
}

}  // namespace dsp
