// Text in HTML: escaping as the wiki escapes, the character references it
// lets through, and the way back from HTML to the text a reader sees.
#ifndef KELVARIN_PREVIEW_HTML_TEXT_H
#define KELVARIN_PREVIEW_HTML_TEXT_H

#include <string>
#include <string_view>

namespace kelvarin::preview {

// "&", "<", ">" and '"' as references, as the wiki escapes a page's text;
// "'" stays, so that the emphasis rules still see it.
std::string escape_html(std::string_view text);

// Whether `name` is one of the named character references of HTML 4 (amp,
// nbsp, eacute, hellip, ...), the ones the wiki lets through as written.
bool is_entity_name(std::string_view name);

// The length of what follows "&" in a character reference the wiki lets
// through ("#42;", "#x2a;", "eacute;") at text[at], or 0 when there is none.
std::size_t reference_body_length(std::string_view text, std::size_t at);

// The length of the character reference the wiki lets through at text[at]
// ("&#42;", "&#x2a;", "&eacute;": decimal, hexadecimal with lower-case
// digits, or a name of HTML 4), or 0 when there is none there.
std::size_t reference_length(std::string_view text, std::size_t at);

// The text a reader sees in an HTML fragment: tags dropped, references
// decoded (a named one other than amp, lt, gt and quot becomes a blank),
// a reference to no character or to a control character becomes U+FFFD.
// With `decode_references` false, only the escapes of "&", "<", ">" and '"'
// are decoded and every character reference stays as written: the text as
// the page wrote it, where a backslash written "&#92;" is one meant.
std::string visible_text(std::string_view html, bool decode_references = true);

// The UTF-8 bytes of a code point; U+FFFD for surrogates, 0 and values
// above U+10FFFF.
std::string utf8_of(unsigned long code_point);

// A relative path as a URL: bytes other than letters, digits and "-._~/"
// written as %XX.
std::string path_to_url(std::string_view path);

}  // namespace kelvarin::preview

#endif
