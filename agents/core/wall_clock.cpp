#include "wall_clock.h"

#include <atomic>
#include <chrono>

#include "core_platform.h"

#if defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace agent_core {

namespace {
#ifdef AGENT_CORE_CLOCK_SEAMS
// The test build's: microseconds added to the system clock's readings, ticks to the counter's.
std::atomic<int64_t> system_shift_us{0};
std::atomic<int64_t> counter_shift{0};
uint64_t system_shift() {
    return static_cast<uint64_t>(system_shift_us.load(std::memory_order_relaxed));
}
uint64_t counter_offset() {
    return static_cast<uint64_t>(counter_shift.load(std::memory_order_relaxed));
}
#else
constexpr uint64_t system_shift() { return 0; }
constexpr uint64_t counter_offset() { return 0; }
#endif
}  // namespace

uint64_t system_microseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
               duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) +
           system_shift();
}

namespace {

// The rate is known after this much time since the first reading; an anchor serves this long
// (then the next reading takes a new one, which follows the system clock's steps and drift);
// a new anchor that lies less than step_us before the old one's reading holds the readings
// still until the system clock catches up, rather than turning them back.
constexpr uint64_t calibration_us = 20000;
constexpr uint64_t anchor_us = 500000;
constexpr uint64_t step_us = 1000;
// The rate is measured over the time since a base reading, which starts anew after a step and
// after this long (so that a change of the system clock's own rate is followed).
constexpr uint64_t span_us = 60000000;
// A sample of both clocks whose counter readings lie further apart than this (the thread was
// interrupted between them) is too imprecise to anchor on.
constexpr uint64_t sample_ticks = 1 << 14;
// The rate is microseconds per tick in fixed point; a counter of 100 MHz to 100 GHz.
constexpr unsigned rate_shift = 32;
constexpr uint64_t slowest_rate = (uint64_t{1} << rate_shift) / 100;
constexpr uint64_t fastest_rate = (uint64_t{1} << rate_shift) / 100000;

uint64_t counter() {
#if defined(__x86_64__)
    return __rdtsc() + counter_offset();
#else
    return 0;
#endif
}

struct sample {
    uint64_t ticks, us;
    bool precise;
};

sample take_sample() {
    const uint64_t before = counter();
    const uint64_t us = system_microseconds();
    const uint64_t after = counter();
    return {before + (after - before) / 2, us, after - before <= sample_ticks};
}

// The counter at `ticks` is `us`; readings are never below `floor`; the anchor serves the
// `length` ticks from `ticks` on (0: a new one is due). A counter that reads below `ticks`
// stepped back (the machine resumed, a virtual machine moved) and takes a new anchor too. The
// rate was measured since (base_ticks, base_us). rate 0: not yet known.
struct anchor {
    uint64_t ticks, us, floor, rate, length, base_ticks, base_us;

    bool serves(uint64_t now) const { return now - ticks < length; }

    uint64_t at(uint64_t now) const {
        uint64_t reading = us;
        if (now > ticks) {
            reading += static_cast<uint64_t>((static_cast<unsigned __int128>(now - ticks) * rate) >>
                                             rate_shift);
        }
        return reading > floor ? reading : floor;
    }
};

// Microseconds per tick between two samples, 0 when implausible.
uint64_t rate_between(uint64_t base_ticks, uint64_t base_us, const sample& s) {
    if (s.ticks <= base_ticks || s.us <= base_us) return 0;
    const unsigned __int128 rate =
        (static_cast<unsigned __int128>(s.us - base_us) << rate_shift) / (s.ticks - base_ticks);
    return rate >= fastest_rate && rate <= slowest_rate ? static_cast<uint64_t>(rate) : 0;
}

struct alignas(64) anchor_slot {
    std::atomic<uint64_t> ticks{0}, us{0}, floor{0}, rate{0}, length{0}, base_ticks{0}, base_us{0};

    // Release stores: a reader that sees one of them sees the claim before it.
    void store(const anchor& a) {
        constexpr auto order = std::memory_order_release;
        ticks.store(a.ticks, order), us.store(a.us, order), floor.store(a.floor, order);
        rate.store(a.rate, order), length.store(a.length, order);
        base_ticks.store(a.base_ticks, order), base_us.store(a.base_us, order);
    }
    // Acquire loads: the generation read after them is not read before them.
    anchor load() const {
        constexpr auto order = std::memory_order_acquire;
        return {ticks.load(order),  us.load(order),         floor.load(order),  rate.load(order),
                length.load(order), base_ticks.load(order), base_us.load(order)};
    }
};

enum source : uint8_t { undecided, counter_source, system_source };

// Two anchors, the active one chosen by the generation. A thread that takes a new anchor
// claims the generation (even to odd), writes the inactive slot and publishes it (odd to the
// next even), so readers keep reading the active slot meanwhile and nobody ever waits. A
// reader that finds the generation moved past the next publication read a slot that may have
// been written again, and reads anew.
struct clock_state {
    std::atomic<uint8_t> source{undecided};
    std::atomic<uint64_t> generation{0};
    anchor_slot slots[2];

    anchor current(uint64_t* seen) const {
        for (;;) {
            const uint64_t before = generation.load(std::memory_order_acquire);
            const anchor a = slots[(before >> 1) & 1].load();
            if (generation.load(std::memory_order_relaxed) - before <= 1) {
                *seen = before;
                return a;
            }
        }
    }

    // Publishes a new anchor unless another thread writes one or published one since `seen`.
    // With `previous`, the new anchor's floor is raised to the previous anchor's reading just
    // before and again just after the publication: readers kept reading the previous anchor
    // while this thread sampled and wrote, and their readings must not lie above the new
    // anchor's. The second raise covers readings made while this thread was held up (pre-empted)
    // between the first and the publication; from the publication on, no reader starts on the
    // previous anchor.
    void publish(uint64_t seen, const anchor& a, const anchor* previous = nullptr) {
        if ((seen & 1) != 0 ||
            !generation.compare_exchange_strong(seen, seen + 1, std::memory_order_acquire,
                                                std::memory_order_relaxed)) {
            return;
        }
        anchor_slot& slot = slots[((seen >> 1) + 1) & 1];
        slot.store(a);
        if (previous != nullptr) raise_floor(slot, previous->at(counter()));
        generation.store(seen + 2, std::memory_order_release);
        // Unless two more anchors were published meanwhile and the slot holds another one.
        if (previous != nullptr && generation.load(std::memory_order_acquire) - seen <= 3) {
            raise_floor(slot, previous->at(counter()));
        }
    }

    static void raise_floor(anchor_slot& slot, uint64_t held) {
        uint64_t floor = slot.floor.load(std::memory_order_relaxed);
        while (held > floor &&
               !slot.floor.compare_exchange_weak(floor, held, std::memory_order_release,
                                                 std::memory_order_relaxed)) {
        }
    }
};

clock_state state;

bool counter_is_invariant() {
#if defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(0x80000007, &a, &b, &c, &d) != 0 && (d & (1u << 8)) != 0;
#else
    return false;
#endif
}

bool counter_trustworthy() { return counter_is_invariant() && system_time_follows_counter(); }

uint64_t ticks_for(uint64_t us, uint64_t rate) { return (us << rate_shift) / rate; }

// A reading when the anchor's time is up, or while the rate is not known: the system clock's,
// held at the old anchor's reading unless the system clock stepped. With a precise sample it
// becomes the new anchor.
uint64_t renew(const anchor& a, uint64_t seen) {
    const sample s = take_sample();
    if (a.rate == 0) {
        if (!s.precise) return s.us;
        if (a.base_ticks == 0 || s.ticks <= a.base_ticks || s.us <= a.base_us) {
            state.publish(seen, {s.ticks, s.us, s.us, 0, 0, s.ticks, s.us});
        } else if (s.us - a.base_us >= calibration_us) {
            const uint64_t rate = rate_between(a.base_ticks, a.base_us, s);
            if (rate == 0) {
                state.publish(seen, {s.ticks, s.us, s.us, 0, 0, s.ticks, s.us});
            } else {
                state.publish(seen, {s.ticks, s.us, s.us, rate, ticks_for(anchor_us, rate),
                                     a.base_ticks, a.base_us});
            }
        }
        return s.us;
    }
    const uint64_t predicted = a.at(s.ticks);
    const bool stepped = predicted > s.us + step_us || s.us > predicted + step_us;
    const bool counter_back = s.ticks < a.ticks;
    const uint64_t floor = stepped || s.us > predicted ? s.us : predicted;
    if (!s.precise) return floor;
    anchor next{s.ticks, s.us, floor, a.rate, 0, a.base_ticks, a.base_us};
    // A span with a step in it gives a wrong rate, unless it is only one anchor long (then
    // the next span has the rate right again even if the system clock keeps stepping); a
    // short span gives an imprecise one.
    if ((!stepped || a.base_ticks == a.ticks) && !counter_back &&
        s.us >= a.base_us + calibration_us) {
        const uint64_t rate = rate_between(a.base_ticks, a.base_us, s);
        if (rate != 0) next.rate = rate;
    }
    if (stepped || counter_back || s.us - a.base_us >= span_us) {
        next.base_ticks = s.ticks, next.base_us = s.us;
    }
    next.length = ticks_for(anchor_us, next.rate);
    state.publish(seen, next, stepped ? nullptr : &a);
    return floor;
}

[[gnu::noinline]] uint64_t counter_reading_anew(uint64_t now) {
    uint64_t seen = 0;
    const anchor a = state.current(&seen);
    if (a.serves(now)) return a.at(now);
    return renew(a, seen);
}

// Within the anchor's time only the fields that scale the counter are read, and the rest of
// the work stays out of line.
[[gnu::always_inline]] inline uint64_t counter_reading() {
    const uint64_t now = counter();
    constexpr auto order = std::memory_order_acquire;
    const uint64_t before = state.generation.load(order);
    const anchor_slot& slot = state.slots[(before >> 1) & 1];
    const anchor a{slot.ticks.load(order),
                   slot.us.load(order),
                   slot.floor.load(order),
                   slot.rate.load(order),
                   slot.length.load(order),
                   0,
                   0};
    if (a.serves(now) && state.generation.load(std::memory_order_relaxed) - before <= 1) {
        return a.at(now);
    }
    return counter_reading_anew(now);
}

}  // namespace

uint64_t wall_clock_microseconds() {
    uint8_t source = state.source.load(std::memory_order_relaxed);
    if (source == counter_source) return counter_reading();
    if (source == undecided) {
        // Decided once; racing threads decide alike. A forced choice stays.
        const uint8_t chosen = counter_trustworthy() ? counter_source : system_source;
        state.source.compare_exchange_strong(source, chosen, std::memory_order_relaxed);
        if (state.source.load(std::memory_order_relaxed) == counter_source) {
            return counter_reading();
        }
    }
    return system_microseconds();
}

void wall_clock_after_fork_in_child() {
    const uint64_t generation = state.generation.load(std::memory_order_relaxed);
    if ((generation & 1) != 0) state.generation.store(generation - 1, std::memory_order_relaxed);
}

#ifdef AGENT_CORE_CLOCK_SEAMS
namespace wall_clock_testing {

void start_over() {
    for (anchor_slot& slot : state.slots) slot.store({});
    state.generation.store(0);
    state.source.store(undecided);
}

void expire_anchor() {
    const uint64_t generation = state.generation.load();
    state.slots[(generation >> 1) & 1].length.store(0);
}

void shift_counter(int64_t ticks) { counter_shift.store(ticks, std::memory_order_relaxed); }

void shift_system_clock(int64_t us) { system_shift_us.store(us, std::memory_order_relaxed); }

void use_system_clock(bool system) { state.source.store(system ? system_source : undecided); }

bool counting() {
    uint64_t seen = 0;
    return state.source.load() == counter_source && state.current(&seen).rate != 0;
}

bool counter_trustworthy() { return agent_core::counter_trustworthy(); }

}  // namespace wall_clock_testing
#endif

}  // namespace agent_core
