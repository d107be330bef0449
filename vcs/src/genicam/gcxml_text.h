#pragma once
// Texts on their way into a written document. The XML library escapes markup
// characters itself but copies bytes as they are, so a text that is not
// well-formed UTF-8, or that holds a NUL (which ends the text on output),
// would give a document that strict readers reject or that silently loses
// the rest of the text. These helpers keep the output readable.

#include <string>
#include <string_view>

namespace gcxml {

// Length of the well-formed UTF-8 sequence (no NUL, no overlong form, no
// surrogate, nothing above U+10FFFF) that starts text, or 0.
std::size_t utf8_sequence_length(std::string_view text) noexcept;

// True when text is well-formed UTF-8 without NUL characters.
bool is_clean_utf8(std::string_view text) noexcept;

// text with each byte that starts no well-formed sequence, and each NUL,
// replaced by U+FFFD; well-formed text comes back unchanged.
std::string repair_utf8(std::string_view text);

// An XML element name for text: a character that a name cannot hold becomes
// '_', and so does a first character that cannot start one; an empty text
// gives "_". Non-ASCII characters are kept.
std::string to_element_name(std::string_view text);

} // namespace gcxml
