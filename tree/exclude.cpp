#include "tree/exclude.h"

#include <string>
#include <vector>

#include "console/strings.h"
#include "tree/case_fold.h"

namespace {
struct Pattern {
  std::string text;  // separators as the build's own, none leading or trailing
  bool path;         // holds a separator: matched against the path below the start directory
};
std::vector<Pattern> Patterns;  // written only between scans
bool IgnoreCase = false;        // letters match in either case
bool Utf8 = false;              // names are UTF-8: a character may take several bytes

// The character at s (before end): its length in bytes, its code point in *cp.
int CharAt(const char* s, const char* end, unsigned* cp) {
  if (Utf8) return Utf8CharLength((const unsigned char*)s, (int)(end - s), cp);
  *cp = (unsigned char)*s;
  return 1;
}

// The form both sides of a comparison are brought to when letter case is ignored: ASCII
// letters in upper case here, every other character as the system folds it in names.
unsigned Fold(unsigned cp) {
  if (cp >= 0x80) return FoldNonAscii(cp);
  return cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
}

bool SameChar(unsigned a, unsigned b) {
  return a == b || (IgnoreCase && Fold(a) == Fold(b));
}

// Matches the set that opens at p ('[') against character c. Returns the end of the set, or
// null when the "[" has no "]" and so stands for itself.
const char* MatchSet(const char* p, const char* end, unsigned c, bool* matched) {
  const char* q = p + 1;
  bool negate = q < end && (*q == '!' || *q == '^');
  if (negate) ++q;
  bool hit = false;
  for (bool first = true; q < end; first = false) {
    if (*q == ']' && !first) {
      *matched = hit != negate;
      return q + 1;
    }
    unsigned lo, hi;
    q += CharAt(q, end, &lo);
    hi = lo;
    if (q + 1 < end && *q == '-' && q[1] != ']') q += 1 + CharAt(q + 1, end, &hi);
    if (c >= lo && c <= hi) hit = true;
    if (IgnoreCase && Fold(c) >= Fold(lo) && Fold(c) <= Fold(hi)) hit = true;
  }
  return nullptr;
}

// Matches one component of a pattern, [p, pe), against one component of a path, [s, se). A
// star remembers where it stood; on a mismatch the star takes one more character and matching
// goes on from there, which finds a match whenever there is one without recursion.
bool MatchComponent(const char* p, const char* pe, const char* s, const char* se) {
  const char* starP = nullptr;  // the pattern just after the last star
  const char* starS = nullptr;  // where the text the last star stands for ends
  while (s < se) {
    if (p < pe && *p == '*') {
      starP = ++p;
      starS = s;
      continue;
    }
    if (p < pe) {
      unsigned c;
      int n = CharAt(s, se, &c);
      const char* after = nullptr;
      bool matched = false;
      if (*p == '?') {
        after = p + 1;
        matched = true;
      } else if (*p == '[') {
        after = MatchSet(p, pe, c, &matched);
      }
      if (!after) {
        unsigned pc;
        after = p + CharAt(p, pe, &pc);
        matched = SameChar(pc, c);
      }
      if (matched) {
        p = after;
        s += n;
        continue;
      }
    }
    if (!starP) return false;
    unsigned skipped;
    starS += CharAt(starS, se, &skipped);
    p = starP;
    s = starS;
  }
  while (p < pe && *p == '*') ++p;
  return p == pe;
}

// The end of the component that starts at s: the next separator, or end.
const char* ComponentEnd(const char* s, const char* end) {
  while (s < end && *s != PathSeparator) ++s;
  return s;
}

// Matches a pattern with separators component by component against the parent's components
// and then the name: a star never reaches over a separator.
bool MatchPath(const std::string& pattern, const char* parent, int parentLength, const char* name,
               int nameLength) {
  const char* p = pattern.data();
  const char* pend = p + pattern.size();
  const char* s = parent;
  const char* send = parent + parentLength;
  for (;;) {
    const char* pe = ComponentEnd(p, pend);
    if (s == send) {
      // The name is the last component of the path: the pattern must end with it.
      return pe == pend && MatchComponent(p, pe, name, name + nameLength);
    }
    if (pe == pend) return false;  // the pattern ends above the name
    const char* se = ComponentEnd(s, send);
    if (!MatchComponent(p, pe, s, se)) return false;
    p = pe + 1;
    s = se < send ? se + 1 : se;
  }
}
}  // namespace

void ClearExclusions(bool ignoreCase, bool utf8) {
  Patterns.clear();
  IgnoreCase = ignoreCase;
  Utf8 = utf8;
}

void AddExclusion(const char* pattern, int length) {
  // The system's case tables are read when a pattern is first wanted, not on every run.
  if (IgnoreCase) PrepareCaseFold(Utf8);
  std::string text(pattern, length > 0 ? (size_t)length : 0);
  for (char& c : text)
    if (c == '/') c = PathSeparator;
  bool path = false;
  size_t from = 0;
  // Leading separators and "./" only say where the path starts, which it does anyway.
  for (;;) {
    if (from < text.size() && text[from] == PathSeparator) {
      path = true;
      ++from;
    } else if (text.compare(from, 2, std::string{'.', PathSeparator}) == 0) {
      path = true;
      from += 2;
    } else {
      break;
    }
  }
  size_t to = text.size();
  while (to > from && text[to - 1] == PathSeparator) --to;
  if (to == from) return;
  text = text.substr(from, to - from);
  if (text.find(PathSeparator) != std::string::npos) path = true;
  Patterns.push_back(Pattern{text, path});
}

int ExclusionCount() {
  return (int)Patterns.size();
}

const char* ExclusionPattern(int i, int* length) {
  *length = (int)Patterns[i].text.size();
  return Patterns[i].text.data();
}

bool Excluded(const char* parent, int parentLength, const char* name, int nameLength) {
  for (const Pattern& p : Patterns) {
    const char* text = p.text.data();
    bool hit = p.path ? MatchPath(p.text, parent, parentLength, name, nameLength)
                      : MatchComponent(text, text + p.text.size(), name, name + nameLength);
    if (hit) return true;
  }
  return false;
}
