#include "Json.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

#include <tallowmere/Data/Fortune/Utf8.hpp>

namespace tallowmere::cli {

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (nonEmpty_.empty()) return;
  if (nonEmpty_.back()) out_ += ',';
  nonEmpty_.back() = true;
}

JsonWriter& JsonWriter::beginObject() {
  beforeValue();
  out_ += '{';
  nonEmpty_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  out_ += '}';
  nonEmpty_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  beforeValue();
  out_ += '[';
  nonEmpty_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  out_ += ']';
  nonEmpty_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  beforeValue();
  appendJsonString(out_, name);
  out_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  beforeValue();
  appendJsonString(out_, text);
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
  beforeValue();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(double number) {
  beforeValue();
  // JSON has no infinities or NaN; such a number is written as null.
  if (!std::isfinite(number)) {
    out_ += "null";
    return *this;
  }
  std::array<char, 32> buffer{};
  const int length = std::snprintf(buffer.data(), buffer.size(), "%.17g", number);
  out_.append(buffer.data(), static_cast<std::size_t>(length));
  return *this;
}

JsonWriter& JsonWriter::value(bool truth) {
  beforeValue();
  out_ += truth ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  beforeValue();
  out_ += "null";
  return *this;
}

namespace {

void appendEscaped(std::string& out, char c) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    default:
      break;
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    std::array<char, 8> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "\\u%04x", static_cast<unsigned char>(c));
    out += buffer.data();
    return;
  }
  out += c;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  // Fortunes are valid UTF-8 nearly always; only a text that is not pays for the copy.
  std::string repaired;
  if (!isValidUtf8(text)) {
    repaired = decodeUtf8Leniently(text);
    text = repaired;
  }
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  for (const char c : text) appendEscaped(out, c);
  out += '"';
}

std::int64_t countLines(std::string_view text) noexcept {
  std::int64_t lines = 0;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  if (!text.empty() && text.back() != '\n') ++lines;
  return lines;
}

void writeFortune(JsonWriter& json, std::string_view file, std::int64_t number,
                  std::string_view text) {
  json.beginObject()
      .member("file", file)
      .member("number", number)
      .member("text", text)
      .member("characters", countUtf8Chars(text))
      .member("lines", countLines(text))
      .endObject();
}

}  // namespace tallowmere::cli
