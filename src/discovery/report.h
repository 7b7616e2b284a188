// The finder's report, as text an admin can read, edit and run with sh, or
// as JSON for programs.
#pragma once

#include <string>
#include <vector>

#include "discovery/survey.h"

namespace kxsane {

// `text` fit to print: valid UTF-8 that displays as it reads. Control
// characters (C0, DEL and C1), the bidirectional embeddings, overrides and
// isolates (U+202A..U+202E, U+2066..U+2069), the line and paragraph
// separators (U+2028, U+2029) and the byte order mark (U+FEFF) are dropped;
// every byte that is not part of a valid sequence becomes "?".
std::string printable(const std::string& text);

// The lines of the text report. The first is a comment saying how many
// scanners were found (seen and not refused) in `seconds` over the
// protocols `labels`, and, when `subnets` names networks, that every
// address of those was asked too; then, in the order of `scanners`, a ready
// "kxsaneconfig4 -a ..." line for each new one (left out when `commands` is
// false), and a comment for each other ("# refused ADDRESS...: REASON" for
// a refused one).
// Every value from the network is made printable and shell-quoted, so that
// running the text with sh runs nothing but those commands.
std::string text_report(const std::vector<FoundScanner>& scanners,
                        const std::vector<std::string>& labels,
                        const std::vector<std::string>& subnets, double seconds, bool commands);

// The "kxsaneconfig4 -a ..." line (without line break) for a new scanner.
std::string add_command(const FoundScanner& scanner);

// A JSON array, one object per scanner: name, model (or null), announced,
// address, host, services, registered, refused (why, or null). Ends with a
// line break.
std::string json_report(const std::vector<FoundScanner>& scanners);

}  // namespace kxsane
