#ifndef TOLVEX_JSON_JSON_PARSER_H_
#define TOLVEX_JSON_JSON_PARSER_H_

#include <cstddef>
#include <string_view>

#include "json/json_scalars.h"

namespace tolvex {

class JsonDocument;
class JsonValue;

// At most this many arrays and objects may be open at once (the outermost one included). A
// text that opens one more fails as a whole, so hostile nesting cannot exhaust the stack.
constexpr size_t maxOpenContainers = 1024;

// The recognisers below follow the working model of json_scalars.h and make values of their
// own (see JsonValue). parseString fails with the text and the slot untouched. parseArray
// and parseObject fail with the text untouched only before their opening bracket; once past
// it, a failure releases what they built and leaves the text as it stood when the failure
// came, without the bracket and whatever had been parsed after it.

// A string literal with its escapes decoded ("\u" escapes as UTF-8 of at most three bytes,
// each on its own); stores a new JsonString.
bool parseString(std::string_view& text, JsonValue*& slot);

// An array; stores a new JsonArray that owns its elements.
bool parseArray(std::string_view& text, JsonValue*& slot);

// An object; stores a new JsonObject. Keys are string literals; for a repeated key the first
// value stays and later ones are released.
bool parseObject(std::string_view& text, JsonValue*& slot);

// Tries null, boolean, number, string, array and object, in this order, each on the text as
// the previous failed attempt left it, and succeeds with the first that succeeds. A failed
// array attempt can thus hand what it left to the object attempt.
bool parseValue(std::string_view& text, JsonValue*& slot);

// Parses the text that `document` holds (given to it with JsonDocument::placeText) as a
// whole header text, after giving up the document's values, with the recognisers above, but
// every value made by the document. True when one value was recognised and only whitespace
// follows it; the document's root then holds the value. On failure the root is null or
// holds a value that the caller must not look at (the document still frees it); when no
// value was recognised, the values made on the way are freed at once. Keys and strings of
// the tree view the text, and escaped ones are decoded where they stand, so the text is
// parsed once. Running out of memory makes the parse fail.
bool parseDocument(JsonDocument& document);

// The same on a copy of `text` that the document keeps.
bool parseDocument(std::string_view text, JsonDocument& document);

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_PARSER_H_
