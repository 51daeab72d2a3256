#pragma once
// Small utilities over DNS name text: validity, label counting and
// extraction, dotted <-> length-prefixed (wire label) forms, common suffixes,
// reverse zones and mailboxes, a time-span text and the SOA serial rule.
//
// Every function that writes into a caller's buffer takes its size and never
// writes past it; each also has a std::string form. A null C string counts as
// the empty text.
#include <string>

#include "loam/platform/zuTypes.h"

// Wire limits: a label holds at most 63 bytes, a name in label form (length
// bytes and the final zero included) at most 255.
inline constexpr u32 kZuMaxLabelLength = 63;
inline constexpr u32 kZuMaxNameLength = 255;

// A strict zuDNSStateMachine (underscore allowed inside labels) accepts the
// text up to its NUL. No length limit.
bool zuIsValidDNSName(const char* name);

// A non-empty text of visible ASCII only (33 to 126: no blank, no control
// byte, no DEL). Not the foundation's zuIsPrintableText, which admits the
// blank and the empty text.
bool zuIsPrintableDNSText(const char* text);

// 0 for the empty text, 1 for a lone dot, else 1 + the number of dots: the
// root of an absolute name counts ("a.b.c." gives 4).
u32 zuCountLabels(const char* name);

// The piece after the n-th separator (n from 0) up to the next one or the
// end; "" when n is past the last piece. The buffer form returns null (out
// emptied when outSize > 0) when the piece and its NUL do not fit.
std::string zuNthToken(const std::string& text, u32 n, char separator);
char* zuNthToken(const char* text, u32 n, char* out, u32 outSize, char separator);

// The last n labels, the root of an absolute name counting as one: n = 0
// gives "", n = 1 of "b.c." gives ".", n = 2 gives "c.", n at or above the
// label count the whole name. The buffer form as zuNthToken.
std::string zuLastLabels(const std::string& name, u32 n);
char* zuLastLabels(const char* name, u32 n, char* out, u32 outSize);

// How many trailing labels two names share (root included), comparing
// backwards without regard to case.
u32 zuCommonSuffixLabels(const char* a, const char* b);

// Length-prefixed labels ending with a zero length to dotted text with a
// final dot (the root alone becomes "."). Refused (null, or "" for the string
// form, buffer untouched): a length byte past the end of the data, a missing
// zero length, a label over 63 bytes or holding a NUL, a name over 255 bytes,
// and, in place, a buffer too small for the text and its NUL. size is the
// buffer's size in bytes.
std::string zuLabelsToDotted(const std::string& labels);
char* zuLabelsToDotted(char* buffer, u32 size);

// Dotted text (absolute or not) to length-prefixed labels ending with the
// zero length, which also ends the C string; the final dot is consumed, and
// "." (the root) is the zero length alone. The string form gives "" for the
// empty text and when refused; the buffer form leaves an empty text as it is
// and returns null when refused (buffer untouched): empty labels, labels over
// 63 bytes, names over 255 bytes, and a buffer of `size` bytes too small for
// the result (a relative name needs one byte more than its text and NUL).
std::string zuDottedToLabels(const std::string& dotted);
char* zuDottedToLabels(char* buffer, u32 size);

// "1 day, 2 hours, 1 minute, 5 seconds": each non-zero part, singular for 1;
// "0 seconds" for 0. The buffer form as zuNthToken (56 bytes always do).
std::string zuTimeSpanText(u32 seconds);
char* zuTimeSpanText(u32 seconds, char* out, u32 outSize);

// The next SOA serial. Date-based serials (YYYYMMDD, YYYYMMDDn, YYYYMMDDnn)
// move to today's date with a count, or count up within today; any other
// serial goes up by one. today is YYYYMMDD; the one-argument form takes the
// local date.
u32 zuNextSerial(u32 serial);
u32 zuNextSerial(u32 serial, u32 today);

// Ends with ".in-addr.arpa." or ".ip6.arpa." in any case.
bool zuIsReverseZone(const std::string& name);
// Non-empty, every byte in 32..126, and no '@' or '\'.
bool zuIsMailboxLocalPart(const std::string& text);
// local@domain (unless refused) with a valid local part and DNS domain, or,
// when allowed, the DNS form: local parts with escaped dots ("first\.last")
// followed by a DNS name.
bool zuIsValidMailbox(const char* text, bool dnsFormAllowed, bool refuseAtForm);
// "first.last@example.com" becomes "first\.last.example.com."; a text
// without '@' is returned unchanged.
std::string zuMailboxToDnsName(const std::string& mailbox);

// Byte-wise equality after upper-casing ASCII letters.
bool zuEqualsNoCase(const char* a, const char* b);
