// Text from other machines (folder and file names, machine.json's facts,
// values from transcripts) made safe to show on a terminal or in a page.
#pragma once

#include <string>
#include <string_view>

// The text with every byte a terminal or a page could take for a command
// written as an escape: C0 control characters other than tab and line feed,
// and DEL, as \xNN; C1 control characters (U+0080..U+009F, in UTF-8) as
// \u00NN; each byte of an invalid UTF-8 sequence as \xNN. Valid UTF-8
// otherwise passes unchanged, so the result is always valid UTF-8.
std::string printable(std::string_view text);
