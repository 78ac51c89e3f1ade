#include "shell/UserPerceivedLength.h"

#include <glib.h>
#include <vector>

namespace quorvel {

namespace {

bool isVariationSelector(gunichar c) {
    return (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF) ||
           (c >= 0x180B && c <= 0x180D);
}

bool isTag(gunichar c) {
    return c >= 0xE0020 && c <= 0xE007F;
}

// Characters that never start a cluster of their own: they attach to what precedes them.
bool extendsPrevious(gunichar c) {
    if (c == 0x200D || c == 0x200C || isVariationSelector(c) || isTag(c))
        return true;
    if (g_unichar_ismark(c))
        return true; // non-spacing, spacing and enclosing marks
    return g_unichar_break_type(c) == G_UNICODE_BREAK_EMOJI_MODIFIER;
}

bool isPictographic(gunichar c) {
    if (c >= 0x1F000 && c <= 0x1FAFF)
        return true;
    if (c >= 0x2600 && c <= 0x27BF)
        return true;
    if (c >= 0x2B00 && c <= 0x2BFF)
        return true;
    if (c == 0x00A9 || c == 0x00AE || c == 0x203C || c == 0x2049 || c == 0x2122 || c == 0x2139)
        return true;
    if (c >= 0x2190 && c <= 0x21FF)
        return true;
    if (c >= 0x2300 && c <= 0x23FF)
        return true;
    return false;
}

enum class Hangul { none, l, v, t, lv, lvt };

Hangul hangulKind(gunichar c) {
    switch (g_unichar_break_type(c)) {
    case G_UNICODE_BREAK_HANGUL_L_JAMO:
        return Hangul::l;
    case G_UNICODE_BREAK_HANGUL_V_JAMO:
        return Hangul::v;
    case G_UNICODE_BREAK_HANGUL_T_JAMO:
        return Hangul::t;
    case G_UNICODE_BREAK_HANGUL_LV_SYLLABLE:
        return Hangul::lv;
    case G_UNICODE_BREAK_HANGUL_LVT_SYLLABLE:
        return Hangul::lvt;
    default:
        return Hangul::none;
    }
}

// Whether a Hangul sequence continues: L before L/V/LV/LVT, LV or V before V/T, LVT or T before T.
bool hangulJoins(Hangul previous, Hangul current) {
    switch (previous) {
    case Hangul::l:
        return current == Hangul::l || current == Hangul::v || current == Hangul::lv ||
               current == Hangul::lvt;
    case Hangul::lv:
    case Hangul::v:
        return current == Hangul::v || current == Hangul::t;
    case Hangul::lvt:
    case Hangul::t:
        return current == Hangul::t;
    case Hangul::none:
        return false;
    }
    return false;
}

bool isRegionalIndicator(gunichar c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

} // namespace

std::size_t userPerceivedLength(std::string_view utf8) {
    std::size_t count = 0;
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    gunichar previous = 0;
    bool havePrevious = false;
    bool previousInvalid = false;
    bool afterJoiner = false;         // previous code point was U+200D
    bool clusterPictographic = false; // the cluster began with (or joined) a pictograph
    std::size_t regionalRun = 0;      // regional indicators in a row
    while (p < end) {
        gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            ++count;
            ++p;
            havePrevious = false;
            previousInvalid = true;
            afterJoiner = false;
            regionalRun = 0;
            continue;
        }
        p = g_utf8_next_char(p);

        bool joins = false;
        if (havePrevious && !previousInvalid) {
            if (previous == '\r' && c == '\n') {
                joins = true;
            } else if (previous == '\r' || previous == '\n' || c == '\r' || c == '\n') {
                joins = false;
            } else if (extendsPrevious(c)) {
                joins = true;
            } else if (afterJoiner && clusterPictographic && isPictographic(c)) {
                joins = true;
            } else if (isRegionalIndicator(c) && isRegionalIndicator(previous) &&
                       regionalRun % 2 == 1) {
                joins = true;
            } else if (hangulJoins(hangulKind(previous), hangulKind(c))) {
                joins = true;
            }
        }
        if (!joins) {
            ++count;
            clusterPictographic = isPictographic(c);
        }
        regionalRun = isRegionalIndicator(c) ? regionalRun + 1 : 0;
        afterJoiner = (c == 0x200D);
        previous = c;
        havePrevious = true;
        previousInvalid = false;
    }
    return count;
}

} // namespace quorvel
