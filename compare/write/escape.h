// Text from other machines (folder and file names, machine.json's facts,
// values from transcripts) made safe to show on a terminal, in a page and in
// Markdown.
#pragma once

#include <string>
#include <string_view>

namespace cpubench {

// The text with every byte a terminal or a page could take for a command
// written as an escape: C0 control characters other than tab and line feed,
// and DEL, as \xNN; C1 control characters (U+0080..U+009F, in UTF-8) as
// \u00NN; each byte of an invalid UTF-8 sequence as \xNN. Valid UTF-8
// otherwise passes unchanged, so the result is always valid UTF-8.
std::string printable(std::string_view text);

// A JSON document as nlohmann::json writes it (C0 controls escaped, invalid
// UTF-8 replaced), with DEL and the C1 control characters escaped too, as
// \u007f and \u0080..\u009f: it may be printed on a terminal. Both occur
// only inside strings, where the escapes mean the same characters.
std::string terminalSafeJson(std::string_view json);

// The printable text with & < > " ' written as character references.
std::string htmlEscaped(const std::string& text);

// The text with Markdown's markup characters escaped by a backslash.
std::string markdownEscaped(const std::string& text);

} // namespace cpubench
