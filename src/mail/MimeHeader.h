// Header values of a mail: what a caller hands in (names, addresses, a
// subject, file names) made safe to write on one header line, and the Date
// line. Pure functions; safe from any thread.
#pragma once
#include <string>
#include <string_view>

#include "platform/Thread.h"

namespace mail {

// text without control characters: CR, LF and tab become blanks (so words
// stay apart), the others are dropped. Keeps a caller's text from ending a
// header line and starting another.
std::string StripControls(std::string_view text);

// An address as it may stand between "<" and ">": control characters,
// blanks, "<", ">" and quotes removed.
std::string CleanAddress(std::string_view address);

// True when address is non-empty and has none of the characters
// CleanAddress removes.
bool IsPlainAddress(std::string_view address);

// A header text: as it stands when it is printable ASCII, else RFC 2047
// encoded words ("=?UTF-8?B?...?=", ISO-8859-1 when the bytes are not
// UTF-8) folded onto continuation lines. Control characters are stripped
// first.
std::string EncodeHeaderText(std::string_view text);

// "name" <address>, or <address> alone for an empty name; the name is a
// quoted string (quotes and backslashes escaped) or encoded words.
std::string FormatMailbox(std::string_view name, std::string_view address);

// The parameter naming a file in Content-Type and Content-Disposition:
// `key="name"` for a printable ASCII name (quotes and backslashes
// escaped), else the RFC 2231 form `key*=UTF-8''%XX...` (ISO-8859-1 when
// the bytes are not UTF-8). Control characters are stripped first.
std::string FileNameParameter(const char* key, std::string_view fileName);

// "Mon, 7 Dec 2026 09:05:01 +0900": English names whatever the locale,
// two-digit hours, "+0000" for UTC.
std::string FormatDate(const plat::ZonedTime& time);

// The content type of a file by its extension, from a fixed table;
// "application/octet-stream" for anything else.
std::string ContentTypeForFile(std::string_view fileName);

}  // namespace mail
