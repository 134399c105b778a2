// The text forms of application values accepted on the write path ("21.5", "true",
// "2025/12/9", "6:30", "8:1234", ...): the reference library's forms, minus its habit of
// accepting text it only partly read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bacstack/limits.hpp"
#include "bacstack/value.hpp"

namespace bacstack {

// Capacities of the parsed strings: a character string must leave room in one APDU for
// its tag and set (MAX_APDU - 6 with a terminator), an octet string likewise; a bit
// string holds at most 15 octets.
inline constexpr std::size_t kMaxParsedCharacters = kMaxApdu - 7;
inline constexpr std::size_t kMaxParsedOctets = kMaxApdu - 6;
inline constexpr std::size_t kMaxParsedBits = 120;

// Reads `text` as a value of application tag `tag` into `out`; false (and `out` unchanged)
// when the tag has no text form or the text is not one of its forms. Accepted:
//   0 Null: any text. 1 Boolean: true/active/false/inactive in any case, or an integer
//   (non-zero is true). 2 Unsigned, 9 Enumerated: C integer literal (decimal, 0x hex,
//   leading-0 octal), no minus. 3 Signed: the same with a sign, 32-bit. 4 Real, 5 Double:
//   C floating literal, within range. Numbers may be surrounded by white space; any other
//   text after them fails ("1,5"). 6 Octet String: hex digit pairs, other characters
//   between pairs skipped. 7 Character String: the text itself. 8 Bit String: its '0' and
//   '1' characters. 10 Date: y/m/d[:weekday]. 11 Time: h:m[:s[.hundredths]].
//   12 Object ID: type:instance. 20 date-time: y/m/d[-h[:m[:s[.hh]]]]. 21 time stamp: a
//   time, a date-time or a sequence number. 23 reference:
//   type:instance,property[,index[,devicetype:deviceinstance]] (index -1: none).
//   26 destination: (ValidDays=[1,2];FromTime=h:m;ToTime=h:m;Recipient=Device(type=8,
//   instance=N);ProcessIdentifier=N;ConfirmedNotify=false;Transitions=[to-offnormal,...]).
//   30 weekly schedule: (T; Mon: [h:m V, ...]; Tue: [...]; ...), T a tag number or name.
//   44 scale: with '.' a float scale, else an integer scale.
bool parse_application_data(std::uint32_t tag, std::string_view text, Value& out);

}  // namespace bacstack
