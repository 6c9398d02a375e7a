// Kernels for x86-64: SSSE3's byte shuffle packs the variable-length UTF-8 of a block of units,
// gathers the UTF-16 units of a block of bytes, and looks up what makes UTF-8 ill-formed, without
// a branch per character. The build's baseline is SSE2, so the kernels are compiled for SSSE3
// alone (the run of plain ASCII for AVX2) and run only where the processor reports it.
#include "frame/utf8_kernels.h"

#include <algorithm>
#include <array>
#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>

namespace vyr::cld::bridge::utf8::kernels {
namespace {

// Which bytes of a vector to keep, in order, and how many.
struct packing {
    alignas(16) std::array<std::uint8_t, 16> order{};
    std::uint8_t length = 0;
};

// A packing for each of 256 indexes, of `Units` units in lanes of `Lane` bytes, keeping the first
// `bytes(index, unit)` bytes of each lane.
template <std::uint8_t Units, std::uint8_t Lane, class Bytes> constexpr std::array<packing, 256> packings(Bytes bytes)
{
    std::array<packing, 256> all{};
    for (unsigned index = 0; index < 256; ++index) {
        auto& entry = all[index];
        std::uint8_t kept = 0;
        for (std::uint8_t unit = 0; unit < Units; ++unit) {
            for (std::uint8_t byte = 0; byte < bytes(index, unit); ++byte) {
                entry.order[kept++] = static_cast<std::uint8_t>(Lane * unit + byte);
            }
        }
        entry.length = kept;
        for (; kept < 16; ++kept) {
            entry.order[kept] = 0x80; // a zero byte, past the length
        }
    }
    return all;
}

// Eight units below U+0800, each in a 16-bit lane as its one or two bytes, low byte first. Indexed
// by which of the eight are ASCII (bit i for unit i), whose second byte is dropped.
constexpr auto short_packings =
    packings<8, 2>([](unsigned ascii, unsigned unit) { return (ascii >> unit & 1u) != 0 ? 1 : 2; });

// Four units below U+10000, none a surrogate, each in a 32-bit lane as its one to three bytes.
// Indexed by which are ASCII (bits 0 to 3) and which are below U+0800 (bits 4 to 7).
constexpr auto long_packings = packings<4, 4>([](unsigned index, unsigned unit) {
    return (index >> unit & 1u) != 0 ? 1 : (index >> (unit + 4) & 1u) != 0 ? 2 : 3;
});

// Eight 16-bit lanes, of which those marked (bit i for lane i) are kept, in order.
constexpr auto kept_lanes =
    packings<8, 2>([](unsigned kept, unsigned lane) { return (kept >> lane & 1u) != 0 ? 2 : 0; });

__m128i order_of(const packing& entry) noexcept
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(entry.order.data()));
}

__m128i words(int value) noexcept
{
    return _mm_set1_epi16(static_cast<short>(value));
}

// All ones in the bytes at or above `least`.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i bytes_at_least(__m128i bytes, std::uint8_t least) noexcept
{
    return _mm_cmpeq_epi8(_mm_max_epu8(bytes, _mm_set1_epi8(static_cast<char>(least))), bytes);
}

// Whether any bit of `vector` is set.
[[gnu::target("ssse3"), gnu::always_inline]] inline bool any_set(__m128i vector) noexcept
{
    return _mm_movemask_epi8(_mm_cmpeq_epi8(vector, _mm_setzero_si128())) != 0xFFFF;
}

// Stores the UTF-8 of four units (zero-extended to 32-bit lanes) at `to` and moves past it, given
// their two-byte forms and which are ASCII and which take two bytes. Inlined, as a call would pass
// the vectors and the pointer through memory.
[[gnu::target("ssse3"), gnu::always_inline]] inline void narrow_four(__m128i units, __m128i two, __m128i ascii,
                                                                     __m128i two_bytes, char*& to) noexcept
{
    const __m128i low_six = _mm_set1_epi32(0x3F);
    // 1110xxxx 10xxxxxx 10xxxxxx
    const __m128i three = _mm_or_si128(_mm_or_si128(_mm_srli_epi32(units, 12), _mm_set1_epi32(0x8080E0)),
                                       _mm_or_si128(_mm_slli_epi32(_mm_and_si128(_mm_srli_epi32(units, 6), low_six), 8),
                                                    _mm_slli_epi32(_mm_and_si128(units, low_six), 16)));
    const __m128i longer = _mm_or_si128(_mm_and_si128(two_bytes, two), _mm_andnot_si128(two_bytes, three));
    const __m128i lanes = _mm_or_si128(_mm_and_si128(ascii, units), _mm_andnot_si128(ascii, longer));
    const auto index = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(ascii)) |
                                             _mm_movemask_ps(_mm_castsi128_ps(two_bytes)) << 4);
    const packing& entry = long_packings[index];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(lanes, order_of(entry)));
    to += entry.length;
}

// The two bytes of each unit below U+0800 (110xxxxx 10xxxxxx), low byte first in its 16-bit lane.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i two_byte_forms(__m128i units) noexcept
{
    return _mm_or_si128(_mm_or_si128(_mm_srli_epi16(units, 6), words(0x80C0)),
                        _mm_slli_epi16(_mm_and_si128(units, words(0x3F)), 8));
}

// A pair's four bytes split two and two: with W = (high & 0x3FF) + 0x40, the high surrogate makes
// 11110www 10wwwwww from W's upper nine bits, and the low one 10wwxxxx 10xxxxxx from W's last two
// bits (those of the unit before it, the high surrogate, in the same lane of `before`) and its own
// ten.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i surrogate_forms(__m128i units, __m128i before, __m128i high,
                                                                            __m128i two) noexcept
{
    const __m128i w = _mm_add_epi16(_mm_and_si128(units, words(0x3FF)), words(0x40));
    const __m128i high_form = _mm_or_si128(_mm_or_si128(_mm_srli_epi16(w, 8), words(0x80F0)),
                                           _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(w, 2), words(0x3F)), 8));
    const __m128i low_form =
        _mm_or_si128(_mm_or_si128(words(0x8080), _mm_slli_epi16(_mm_and_si128(before, words(3)), 4)),
                     _mm_or_si128(_mm_and_si128(_mm_srli_epi16(units, 6), words(0x0F)),
                                  _mm_slli_epi16(_mm_and_si128(units, words(0x3F)), 8)));
    const __m128i low = _mm_cmpeq_epi16(_mm_and_si128(units, words(0xFC00)), words(0xDC00));
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(high, high_form), _mm_and_si128(low, low_form)),
                        _mm_andnot_si128(_mm_or_si128(high, low), two));
}

// The room each kernel needs left at `to` while it runs, in units of its result: it stores whole
// vectors and keeps only what the text makes.
constexpr std::size_t narrow_room = 32;
constexpr std::size_t widen_room = 16;

// Past the continuation bytes at `at`, to where a character starts.
std::size_t character_start(const std::uint8_t* text, std::size_t at, std::size_t size) noexcept
{
    while (at < size && (text[at] & 0xC0u) == 0x80u) {
        ++at;
    }
    return at;
}

// Characters converted one at a time after a chunk with a four-byte one: where there is one, more
// tend to follow (emoji), and going back to the vectors at once would cost a failed chunk each time.
constexpr std::size_t scalar_run = 32;

// All ones in the 16-bit lanes of ASCII units.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i ascii_units(__m128i units) noexcept
{
    return _mm_cmpeq_epi16(_mm_and_si128(units, words(0xFF80)), _mm_setzero_si128());
}

// Stores the UTF-8 of eight units that make one or two bytes each, given their two-byte forms and
// which are ASCII, at `to` and moves past it.
[[gnu::target("ssse3"), gnu::always_inline]] inline void narrow_eight(__m128i units, __m128i two, __m128i ascii,
                                                                      char*& to) noexcept
{
    const __m128i lanes = _mm_or_si128(_mm_and_si128(ascii, units), _mm_andnot_si128(ascii, two));
    const auto index = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ascii, _mm_setzero_si128())));
    const packing& entry = short_packings[index];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(lanes, order_of(entry)));
    to += entry.length;
}

// Eight units a step, each making one to three bytes, and a surrogate two, as above; a pair's high
// surrogate at the end of a step has its low one at the start of the next.
[[gnu::target("ssse3")]] std::size_t narrow_ssse3(const std::uint16_t* text, std::size_t size, char*& out,
                                                  const char* end) noexcept
{
    // A local copy: a char store could alias the caller's pointer, which would then be reloaded
    // after every byte.
    char* to = out;
    const __m128i zero = _mm_setzero_si128();
    std::size_t at = 0;
    while (size - at >= 8 && end - to >= static_cast<std::ptrdiff_t>(narrow_room)) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        const __m128i top_five = _mm_and_si128(units, words(0xF800));
        const __m128i below_800 = _mm_cmpeq_epi16(top_five, zero);
        if (_mm_movemask_epi8(below_800) == 0xFFFF) {
            narrow_eight(units, two_byte_forms(units), ascii_units(units), to);
            at += 8;
            continue;
        }
        const __m128i ascii = ascii_units(units);
        __m128i two = two_byte_forms(units);
        __m128i two_bytes = below_800;
        const __m128i surrogate = _mm_cmpeq_epi16(top_five, words(0xD800));
        if (_mm_movemask_epi8(surrogate) != 0) {
            // Each unit with the one before it; nothing is before the first, which is no low
            // surrogate in well-formed text.
            const __m128i before =
                at > 0 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at - 1)) : _mm_slli_si128(units, 2);
            const __m128i high = _mm_cmpeq_epi16(_mm_and_si128(units, words(0xFC00)), words(0xD800));
            two = surrogate_forms(units, before, high, two);
            two_bytes = _mm_or_si128(two_bytes, surrogate);
        }
        if (_mm_movemask_epi8(two_bytes) == 0xFFFF) {
            narrow_eight(units, two, ascii, to);
        }
        else {
            // Sign-extending the masks keeps them masks in 32-bit lanes.
            narrow_four(_mm_unpacklo_epi16(units, zero), _mm_unpacklo_epi16(two, zero),
                        _mm_unpacklo_epi16(ascii, ascii), _mm_unpacklo_epi16(two_bytes, two_bytes), to);
            narrow_four(_mm_unpackhi_epi16(units, zero), _mm_unpackhi_epi16(two, zero),
                        _mm_unpackhi_epi16(ascii, ascii), _mm_unpackhi_epi16(two_bytes, two_bytes), to);
        }
        at += 8;
    }
    if (at > 0 && (text[at - 1] & 0xFC00u) == 0xD800u) {
        // The portable steps take a pair whole: give back the half of it written.
        at -= 1;
        to -= 2;
    }
    out = to;
    return at;
}

// Where the text has less than a vector left: those units first, then zeros. From the text's last
// sixteen bytes where it has that many, moved down by a shuffle, since a vector read of a copy just
// written would wait for the copy's stores.
template <class Unit>
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i last_units(const Unit* text, std::size_t size,
                                                                       std::size_t at) noexcept
{
    constexpr std::size_t per_vector = 16 / sizeof(Unit);
    const std::size_t left = size - at;
    if (size >= per_vector) {
        static constexpr auto slide = [] {
            std::array<std::uint8_t, 32> order{};
            for (std::uint8_t k = 0; k < 32; ++k) {
                order[k] = k < 16 ? k : 0x80;
            }
            return order;
        }();
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + size - per_vector));
        return _mm_shuffle_epi8(
            last, _mm_loadu_si128(reinterpret_cast<const __m128i*>(slide.data() + 16 - left * sizeof(Unit))));
    }
    alignas(16) std::array<Unit, per_vector> copy{};
    std::copy_n(text + at, left, copy.data());
    return _mm_load_si128(reinterpret_cast<const __m128i*>(copy.data()));
}

// Adds to `fewer` how many bytes fewer than three each of eight units makes, and marks in `wrong`
// where a low surrogate does not follow a high one, given which units of the step before are high
// surrogates.
[[gnu::target("ssse3"), gnu::always_inline]] inline void measure_eight(__m128i units, __m128i& fewer,
                                                                       __m128i& high_before, __m128i& wrong) noexcept
{
    const __m128i top_five = _mm_and_si128(units, words(0xF800));
    const __m128i top_six = _mm_and_si128(units, words(0xFC00));
    const __m128i ascii = ascii_units(units);
    const __m128i below_800 = _mm_cmpeq_epi16(top_five, _mm_setzero_si128());
    const __m128i surrogate = _mm_cmpeq_epi16(top_five, words(0xD800));
    // Bytes fewer than three: two for ASCII, one below U+0800 or for a surrogate, which are never
    // both. Added to the tally in one step, so that it waits for one addition a step, not three.
    fewer = _mm_sub_epi16(fewer, _mm_add_epi16(ascii, _mm_or_si128(below_800, surrogate)));
    const __m128i high = _mm_cmpeq_epi16(top_six, words(0xD800));
    const __m128i low = _mm_cmpeq_epi16(top_six, words(0xDC00));
    wrong = _mm_or_si128(wrong, _mm_xor_si128(_mm_alignr_epi8(high, high_before, 14), low));
    high_before = high;
}

// Eight units a step: each counts three bytes, one less below U+0800 and one less again below
// U+0080, and a surrogate two, so a pair counts four. A low surrogate must stand exactly where the
// unit before it is a high one, across steps too. Tallies are 16-bit lanes, emptied before they
// could overflow.
[[gnu::target("ssse3")]] std::size_t narrow_length_ssse3(const std::uint16_t* text, std::size_t size) noexcept
{
    constexpr std::size_t steps_per_tally = 8192;
    const __m128i zero = _mm_setzero_si128();
    __m128i fewer = zero;
    __m128i high_before = zero;
    __m128i wrong = zero;
    std::size_t saved = 0;
    std::size_t steps = 0;
    const auto empty_tally = [&] {
        __m128i sums = _mm_madd_epi16(fewer, words(1));
        sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
        sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
        saved += static_cast<std::size_t>(_mm_cvtsi128_si32(sums));
        fewer = zero;
    };
    std::size_t at = 0;
    for (; size - at >= 8; at += 8) {
        measure_eight(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)), fewer, high_before, wrong);
        if (++steps == steps_per_tally) {
            empty_tally();
            steps = 0;
        }
    }
    // The zeros after the last units are ASCII, two bytes fewer each; a high surrogate before them
    // stands unpaired.
    std::size_t padding = 0;
    if (at < size) {
        measure_eight(last_units(text, size, at), fewer, high_before, wrong);
        padding = 8 - (size - at);
    }
    empty_tally();
    const bool cut_short = size > 0 && (text[size - 1] & 0xFC00u) == 0xD800u;
    return _mm_movemask_epi8(wrong) != 0 || cut_short ? static_cast<std::size_t>(-1) : 3 * size - (saved - 2 * padding);
}

// UTF-8 is judged two bytes at a time, each pair by three table lookups (the high and low halves
// of the first byte, the high half of the second) whose flags are ANDed: any flag left standing is
// a pair no well-formed text holds. A pair of continuation bytes is flagged too, and is right
// exactly where the byte two or three before is the lead of a longer character.
namespace pair_flags {
constexpr std::uint8_t too_short = 1 << 0;     // a lead byte without its continuation
constexpr std::uint8_t too_long = 1 << 1;      // a continuation after ASCII
constexpr std::uint8_t overlong_3 = 1 << 2;    // E0 80..9F
constexpr std::uint8_t too_large = 1 << 3;     // F4 90..BF, F5..FF 90..BF
constexpr std::uint8_t surrogate = 1 << 4;     // ED A0..BF
constexpr std::uint8_t overlong_2 = 1 << 5;    // C0..C1 80..BF
constexpr std::uint8_t four_80 = 1 << 6;       // F0 80..8F (overlong), F5..FF 80..8F (too large)
constexpr std::uint8_t continuations = 1 << 7; // two continuation bytes
constexpr std::uint8_t carried = too_short | too_long | continuations;
} // namespace pair_flags

__m128i bytes_of(const std::array<std::uint8_t, 16>& table) noexcept
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data()));
}

[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i high_half(__m128i bytes) noexcept
{
    return _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
}

// The judge of one chunk of sixteen bytes, given the chunk before it.
struct utf8_judge {
    __m128i first_high;
    __m128i first_low;
    __m128i second_high;
    __m128i wrong = _mm_setzero_si128();
    __m128i counted = _mm_setzero_si128(); // two 64-bit sums

    // Leads in the last three bytes of a chunk that want more bytes than the chunk has left.
    [[gnu::target("ssse3"), gnu::always_inline]] static __m128i cut_short(__m128i chunk) noexcept
    {
        const __m128i limits = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                             static_cast<char>(0xEF), static_cast<char>(0xDF), static_cast<char>(0xBF));
        return _mm_subs_epu8(chunk, limits);
    }

    // Whether the chunks hold a lead of three or four bytes.
    [[gnu::target("ssse3"), gnu::always_inline]] static bool has_long_leads(__m128i chunks) noexcept
    {
        return _mm_movemask_epi8(bytes_at_least(chunks, 0xE0)) != 0;
    }

    // Adds the units of a chunk, one a lane.
    [[gnu::target("ssse3"), gnu::always_inline]] inline void count(__m128i units) noexcept
    {
        counted = _mm_add_epi64(counted, _mm_sad_epu8(units, _mm_setzero_si128()));
    }

    // Where neither the chunk nor the one before holds a longer lead (Latin, Greek, Cyrillic, ...),
    // a continuation byte is right exactly after a lead, and only C0 and C1 lead overlong forms.
    [[gnu::target("ssse3"), gnu::always_inline]] inline __m128i judge_short(__m128i chunk, __m128i before) noexcept
    {
        const __m128i first = _mm_alignr_epi8(chunk, before, 15);
        const __m128i zero = _mm_setzero_si128();
        const __m128i no_lead = _mm_cmpeq_epi8(_mm_subs_epu8(first, _mm_set1_epi8(static_cast<char>(0xBF))), zero);
        const __m128i continuation = _mm_cmpgt_epi8(_mm_set1_epi8(-64), chunk);
        const __m128i overlong = _mm_cmpeq_epi8(_mm_and_si128(first, _mm_set1_epi8(static_cast<char>(0xFE))),
                                                _mm_set1_epi8(static_cast<char>(0xC0)));
        wrong = _mm_or_si128(wrong, _mm_or_si128(_mm_cmpeq_epi8(no_lead, continuation), overlong));
        return _mm_add_epi8(_mm_set1_epi8(1), continuation);
    }

    // Any chunk: the three lookups, and the third and fourth bytes checked against the leads.
    [[gnu::target("ssse3"), gnu::always_inline]] inline __m128i judge(__m128i chunk, __m128i before) noexcept
    {
        const __m128i first = _mm_alignr_epi8(chunk, before, 15);
        const __m128i second = high_half(chunk);
        const __m128i flags =
            _mm_and_si128(_mm_and_si128(_mm_shuffle_epi8(first_high, high_half(first)),
                                        _mm_shuffle_epi8(first_low, _mm_and_si128(first, _mm_set1_epi8(0x0F)))),
                          _mm_shuffle_epi8(second_high, second));
        // Third bytes follow E0..FF two bytes back, fourth bytes F0..FF three back; the top bit of
        // each difference says which.
        const __m128i third = _mm_subs_epu8(_mm_alignr_epi8(chunk, before, 14), _mm_set1_epi8(0xE0 - 0x80));
        const __m128i fourth = _mm_subs_epu8(_mm_alignr_epi8(chunk, before, 13), _mm_set1_epi8(0xF0 - 0x80));
        const __m128i wanted = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
        wrong = _mm_or_si128(wrong, _mm_xor_si128(flags, wanted));
        // The units each byte starts, by its high half: one for ASCII and each lead, none for a
        // continuation, two for a four-byte lead.
        return _mm_shuffle_epi8(_mm_setr_epi8(1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 2), second);
    }

    // `Count` chunks in a row, `chunk(k)` the k-th, each judged by whichever judge covers it and
    // the one before: the short judge where neither holds a longer lead. `long_before` carries that
    // answer for the last chunk from one call to the next. The chunks are fetched again for the
    // judges rather than held, as all of them would not fit in registers beside the tables.
    template <std::size_t Count, class Chunk>
    [[gnu::target("ssse3"), gnu::always_inline]] inline void next(Chunk&& chunk, __m128i& before,
                                                                  bool& long_before) noexcept
    {
        __m128i top = chunk(0);
        for (std::size_t k = 1; k < Count; ++k) {
            top = _mm_max_epu8(top, chunk(k));
        }
        const bool long_here = has_long_leads(top);
        // At most two units a byte in each lane, summed across the step before they are counted.
        __m128i units = _mm_setzero_si128();
        if (long_here || long_before) {
            for (std::size_t k = 0; k < Count; ++k) {
                const __m128i current = chunk(k);
                units = _mm_add_epi8(units, judge(current, before));
                before = current;
            }
        }
        else {
            for (std::size_t k = 0; k < Count; ++k) {
                const __m128i current = chunk(k);
                units = _mm_add_epi8(units, judge_short(current, before));
                before = current;
            }
        }
        count(units);
        long_before = long_here;
    }
};

// Sixteen bytes a step, four steps sharing one test for longer leads; the units are summed as they
// go, and the last few bytes are judged with zeros after them, which catch a sequence cut short.
[[gnu::target("ssse3")]] std::size_t widen_length_ssse3(const std::uint8_t* text, std::size_t size) noexcept
{
    using namespace pair_flags;
    constexpr std::uint8_t lead_4 = too_short | too_large | four_80;
    utf8_judge judge{
        // By the high half of the first byte: ASCII, continuation, then the leads C, D, E and F.
        bytes_of({too_long, too_long, too_long, too_long, too_long, too_long, too_long, too_long, continuations,
                  continuations, continuations, continuations, too_short | overlong_2, too_short,
                  too_short | overlong_3 | surrogate, lead_4}),
        // By its low half.
        bytes_of({carried | overlong_3 | overlong_2 | four_80, carried | overlong_2, carried, carried,
                  carried | too_large, carried | too_large | four_80, carried | too_large | four_80,
                  carried | too_large | four_80, carried | too_large | four_80, carried | too_large | four_80,
                  carried | too_large | four_80, carried | too_large | four_80, carried | too_large | four_80,
                  carried | too_large | four_80 | surrogate, carried | too_large | four_80,
                  carried | too_large | four_80}),
        // By the high half of the second byte.
        bytes_of({too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,
                  too_long | overlong_2 | continuations | overlong_3 | four_80,
                  too_long | overlong_2 | continuations | overlong_3 | too_large,
                  too_long | overlong_2 | continuations | surrogate | too_large,
                  too_long | overlong_2 | continuations | surrogate | too_large, too_short, too_short, too_short,
                  too_short}),
    };
    __m128i before = _mm_setzero_si128(); // nothing is pending at the start
    bool long_before = false;
    const auto chunks_at = [text](std::size_t at) {
        return [chunks = text + at](std::size_t k) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunks + 16 * k));
        };
    };
    std::size_t at = 0;
    // Four chunks a step, which share the test for longer leads. Ill-formed text stops at the step
    // that shows it, and goes on to the general conversion as soon as it would have without us.
    for (; size - at >= 64; at += 64) {
        judge.next<4>(chunks_at(at), before, long_before);
        if (any_set(judge.wrong)) {
            return static_cast<std::size_t>(-1);
        }
    }
    for (; size - at >= 16; at += 16) {
        judge.next<1>(chunks_at(at), before, long_before);
    }
    // The zeros that pad the last chunk are each counted as a unit.
    std::size_t padding = 0;
    if (at < size) {
        const __m128i last = last_units(text, size, at);
        judge.next<1>([last](std::size_t) { return last; }, before, long_before);
        padding = 16 - (size - at);
    }
    if (any_set(_mm_or_si128(judge.wrong, utf8_judge::cut_short(before)))) {
        return static_cast<std::size_t>(-1);
    }
    const __m128i sums = _mm_add_epi64(judge.counted, _mm_unpackhi_epi64(judge.counted, judge.counted));
    return static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) - padding;
}

// The UTF-16 unit of the character that would start at each of eight bytes (zero-extended to
// 16-bit lanes), given the one and two bytes after each.
[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i units_at(__m128i first, __m128i second,
                                                                     __m128i third) noexcept
{
    const __m128i low_six = words(0x3F);
    second = _mm_and_si128(second, low_six);
    third = _mm_and_si128(third, low_six);
    const __m128i two = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(first, words(0x1F)), 6), second);
    const __m128i three = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(first, words(0x0F)), 12),
                                       _mm_or_si128(_mm_slli_epi16(second, 6), third));
    const __m128i ascii = _mm_cmplt_epi16(first, words(0x80));
    const __m128i pair = _mm_cmplt_epi16(first, words(0xE0));
    const __m128i longer = _mm_or_si128(_mm_and_si128(pair, two), _mm_andnot_si128(pair, three));
    return _mm_or_si128(_mm_and_si128(ascii, first), _mm_andnot_si128(ascii, longer));
}

// Stores the lanes of `units` that `kept` marks at `to` and moves past them.
[[gnu::target("ssse3"), gnu::always_inline]] inline void store_kept(__m128i units, unsigned kept,
                                                                    char16_t*& to) noexcept
{
    const packing& entry = kept_lanes[kept];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(units, order_of(entry)));
    to += entry.length / 2;
}

// Each chunk of sixteen bytes decodes a unit at every byte and keeps those where a character
// starts: a byte that is no continuation byte (10xxxxxx), which as a signed byte is above -65. The
// two bytes after the chunk are read for the characters that start at its end, and the next chunk
// starts sixteen bytes on whatever the text holds, so that no chunk waits for the one before it;
// continuation bytes at its start are no characters of its own.
[[gnu::target("ssse3")]] std::size_t widen_ssse3(const std::uint8_t* text, std::size_t size, char16_t*& out,
                                                 const char16_t* end) noexcept
{
    char16_t* to = out;
    const __m128i zero = _mm_setzero_si128();
    std::size_t at = 0;
    while (size - at >= 18 && end - to >= static_cast<std::ptrdiff_t>(widen_room)) {
        const auto* chunk = text + at;
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
        if (_mm_movemask_epi8(bytes) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), _mm_unpackhi_epi8(bytes, zero));
            at += 16;
            to += 16;
            continue;
        }
        const auto starts = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-65))));
        if (_mm_movemask_epi8(bytes_at_least(bytes, 0xF0)) != 0) {
            // Four-byte characters: one at a time for a while, where more are likely to follow.
            at = character_start(text, at, size);
            for (const std::size_t stop = size - at < scalar_run ? size : at + scalar_run; at < stop;) {
                widen_one(text, at, to);
            }
            continue;
        }
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 1));
        const __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 2));
        store_kept(
            units_at(_mm_unpacklo_epi8(bytes, zero), _mm_unpacklo_epi8(second, zero), _mm_unpacklo_epi8(third, zero)),
            starts & 0xFFu, to);
        store_kept(
            units_at(_mm_unpackhi_epi8(bytes, zero), _mm_unpackhi_epi8(second, zero), _mm_unpackhi_epi8(third, zero)),
            starts >> 8, to);
        at += 16;
    }
    out = to;
    return character_start(text, at, size);
}

// Plain ASCII is the common case, and long runs of it are read faster in AVX2's 32-byte vectors
// than in the 16-byte ones the rest of the kernels use; eight vectors a step.
template <class Unit> [[gnu::target("avx2")]] std::size_t ascii_run_avx2(const Unit* text, std::size_t size) noexcept
{
    constexpr std::size_t step = 256 / sizeof(Unit);
    const __m256i high =
        sizeof(Unit) == 1 ? _mm256_set1_epi8(static_cast<char>(0x80)) : _mm256_set1_epi16(static_cast<short>(0xFF80));
    std::size_t at = 0;
    for (; size - at >= step; at += step) {
        const auto* vectors = reinterpret_cast<const __m256i*>(text + at);
        __m256i seen = _mm256_loadu_si256(vectors);
        for (int k = 1; k < 8; ++k) {
            seen = _mm256_or_si256(seen, _mm256_loadu_si256(vectors + k));
        }
        if (_mm256_testz_si256(seen, high) == 0) {
            break;
        }
    }
    return at;
}

// Whether the processor has what `has` asks for. The runtime reads the processor's features in a
// constructor of its own. A host that converts text from a static constructor that runs first finds
// none yet: read them then, at the cost of a call, which every conversion would pay if it were made
// each time.
template <class Has> bool processor_has(Has has) noexcept
{
    if (has()) {
        return true;
    }
    __builtin_cpu_init();
    return has();
}

template <class Unit> std::size_t ascii_run_where_wide(const Unit* text, std::size_t size) noexcept
{
    return processor_has([] { return __builtin_cpu_supports("avx2") != 0; }) ? ascii_run_avx2(text, size) : 0;
}

} // namespace

bool available() noexcept
{
    return processor_has([] { return __builtin_cpu_supports("ssse3") != 0; });
}

std::size_t narrow(const std::uint16_t* text, std::size_t size, char*& to, const char* end) noexcept
{
    return narrow_ssse3(text, size, to, end);
}

std::size_t narrow_length(const std::uint16_t* text, std::size_t size) noexcept
{
    return narrow_length_ssse3(text, size);
}

std::size_t ascii_run(const std::uint8_t* text, std::size_t size) noexcept
{
    return ascii_run_where_wide(text, size);
}

std::size_t ascii_run(const std::uint16_t* text, std::size_t size) noexcept
{
    return ascii_run_where_wide(text, size);
}

std::size_t widen_length(const std::uint8_t* text, std::size_t size) noexcept
{
    return widen_length_ssse3(text, size);
}

std::size_t widen(const std::uint8_t* text, std::size_t size, char16_t*& to, const char16_t* end) noexcept
{
    return widen_ssse3(text, size, to, end);
}

} // namespace vyr::cld::bridge::utf8::kernels
