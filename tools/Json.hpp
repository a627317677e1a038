// The one JSON writer of the command: every output that programs read (`--json`, the HTTP
// server's bodies) goes through it, so that every string is escaped the same way.
//
// JsonWriter builds one JSON text into a string, value by value. It places the commas and
// colons itself; it does not check that keys alternate with values, which its callers build
// in straight lines. Strings are written as UTF-8 with only what JSON requires escaped (the
// quotation mark, the backslash and the control characters); an invalid UTF-8 sequence becomes
// U+FFFD, so that the output is always valid JSON in valid UTF-8.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallowmere::cli {

class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();

  // The key of the next member of the object being written.
  JsonWriter& key(std::string_view name);

  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(std::int64_t number);
  template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, std::int64_t>) JsonWriter& value(T number) {
    return value(static_cast<std::int64_t>(number));
  }
  JsonWriter& value(double number);
  JsonWriter& value(bool truth);
  JsonWriter& null();

  // A member: key(name) then value(v).
  template <class T>
  JsonWriter& member(std::string_view name, const T& v) {
    key(name);
    return value(v);
  }

  // The JSON text written so far.
  [[nodiscard]] const std::string& text() const noexcept { return out_; }
  [[nodiscard]] std::string take() noexcept { return std::move(out_); }

 private:
  void beforeValue();

  std::string out_;
  // For each open object or array, whether it holds a value yet.
  std::vector<bool> nonEmpty_;
  bool afterKey_ = false;
};

// Appends `text` to `out` as a JSON string, quotation marks included.
void appendJsonString(std::string& out, std::string_view text);

// The number of lines of a fortune's text as it is printed: its newlines, plus one for a last
// line that does not end in one. An empty text has none.
[[nodiscard]] std::int64_t countLines(std::string_view text) noexcept;

// Writes the object that stands for one fortune: {"file", "number", "text", "characters",
// "lines"}, the characters and lines counted over `text` as given.
void writeFortune(JsonWriter& json, std::string_view file, std::int64_t number,
                  std::string_view text);

}  // namespace tallowmere::cli
