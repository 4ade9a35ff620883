#ifndef TOLVEX_JSON_JSON_PARSER_H_
#define TOLVEX_JSON_JSON_PARSER_H_

#include <cstddef>
#include <string_view>

#include "json/json_scalars.h"

namespace tolvex {

class JsonDocument;

// At most this many arrays and objects may be open at once (the outermost one included). A
// text that opens one more fails as a whole, so hostile nesting cannot exhaust the stack.
constexpr size_t maxOpenContainers = 1024;

// The recognisers of the header grammar share one working model. `text` is the unparsed rest
// of the header, a view that each recogniser cuts from the front. A recogniser skips leading
// whitespace (exactly space, tab, carriage return and line feed) itself. On success it makes
// the value it recognised the root of `document`, which keeps a copy of the text (what the
// document held is given up) and owns the value as it owns a parsed tree, and it cuts the
// text through the value's last byte; the byte after the value is never examined. On failure
// the root is null. The scalar recognisers and parseString fail with the text untouched.
// parseArray and parseObject fail with the text untouched only before their opening
// bracket; once past it, a failure leaves the text as it stood when the failure came,
// without the bracket and whatever had been parsed after it. None prints anything; running
// out of memory makes them fail.

// "null" (lower case only).
bool parseNull(std::string_view& text, JsonDocument& document);

// "false", then "true".
bool parseBool(std::string_view& text, JsonDocument& document);

// A JSON number, as readNumber reads it.
bool parseNumber(std::string_view& text, JsonDocument& document);

// A string literal with its escapes decoded ("\u" escapes as UTF-8 of at most three bytes,
// each on its own).
bool parseString(std::string_view& text, JsonDocument& document);

// An array.
bool parseArray(std::string_view& text, JsonDocument& document);

// An object. Keys are string literals; for a repeated key the first value stays.
bool parseObject(std::string_view& text, JsonDocument& document);

// Tries null, boolean, number, string, array and object, in this order, each on the text as
// the previous failed attempt left it, and succeeds with the first that succeeds. A failed
// array attempt can thus hand what it left to the object attempt.
bool parseValue(std::string_view& text, JsonDocument& document);

// Parses the text that `document` holds (given to it with JsonBuilder::placeText) as a
// whole header text, after giving up the document's values, as parseValue does. True when
// one value was recognised and only whitespace follows it; the document's root then holds
// the value. On failure the root is null or holds a value that the caller must not look at
// (the document still frees it); when no value was recognised, the values made on the way
// are freed at once. Keys and strings of the tree view the text, and escaped ones are
// decoded where they stand, so the text is parsed once. Running out of memory, or a limit
// of the document's own (maxOpenContainers, a container of more values than it can count),
// makes the parse fail.
bool parseDocument(JsonDocument& document);

// The same on a copy of `text` that the document keeps; a text longer than a document
// holds (JsonBuilder::largestCount) fails.
bool parseDocument(std::string_view text, JsonDocument& document);

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_PARSER_H_
