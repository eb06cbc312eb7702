#include "netcore/sysconfig/keyed_fields.h"

#include <limits>

#include <nlohmann/json.hpp>

namespace bcn::keyed {
namespace {

std::unexpected<PlatformError> error(std::int64_t code, std::string description) {
  return std::unexpected(PlatformError{PlatformError::kCocoaDomain, code, std::move(description)});
}

std::unexpected<PlatformError> notFound(std::string_view key) {
  return error(kValueNotFoundCode, "No value for key \"" + std::string(key) + "\".");
}

std::unexpected<PlatformError> wrongType(std::string_view key, std::string_view expected) {
  return error(kCorruptCode,
               "The value for key \"" + std::string(key) + "\" is not " + std::string(expected) + ".");
}

PlistValue fieldValue(const nlohmann::ordered_json& member) {
  using Type = nlohmann::ordered_json::value_t;
  switch (member.type()) {
    case Type::string:
      return PlistValue(member.get_ref<const std::string&>());
    case Type::boolean:
      return PlistValue(member.get<bool>());
    case Type::number_integer:
      return PlistValue(member.get<std::int64_t>());
    case Type::number_unsigned:
      return PlistValue(member.get<std::uint64_t>());
    case Type::number_float:
      return PlistValue(member.get<double>());
    case Type::object:
      return PlistValue(PlistDictionary{});
    default:
      return PlistValue(PlistArray{});
  }
}

}  // namespace

std::expected<PlistDictionary, PlatformError> fieldsOf(const PlistValue& value) {
  if (const PlistDictionary* dictionary = value.dictionary()) return *dictionary;
  return error(kCorruptCode, "Expected a dictionary of keyed fields.");
}

std::expected<PlistDictionary, PlatformError> fieldsOf(const nlohmann::ordered_json& value) {
  if (!value.is_object()) return error(kCorruptCode, "Expected a JSON object of keyed fields.");
  std::vector<PlistDictionary::Entry> entries;
  entries.reserve(value.size());
  for (const auto& [key, member] : value.items()) {
    if (!member.is_null()) entries.emplace_back(key, fieldValue(member));
  }
  return PlistDictionary::fromEntries(std::move(entries));
}

std::expected<std::string, PlatformError> requiredText(const PlistDictionary& fields, std::string_view key) {
  auto text = optionalText(fields, key);
  if (!text) return std::unexpected(text.error());
  if (!*text) return notFound(key);
  return std::move(**text);
}

std::expected<std::int32_t, PlatformError> requiredInt32(const PlistDictionary& fields, std::string_view key) {
  const PlistValue* value = fields.find(key);
  if (value == nullptr) return notFound(key);
  if (value->kind() != PlistValue::Kind::integer) return wrongType(key, "an integer");
  const std::optional<std::int64_t> number = value->int64();
  if (!number || *number < std::numeric_limits<std::int32_t>::min() ||
      *number > std::numeric_limits<std::int32_t>::max()) {
    return wrongType(key, "a 32-bit integer");
  }
  return static_cast<std::int32_t>(*number);
}

std::expected<std::optional<std::string>, PlatformError> optionalText(const PlistDictionary& fields,
                                                                      std::string_view key) {
  const PlistValue* value = fields.find(key);
  if (value == nullptr) return std::optional<std::string>{};
  if (const std::string* text = value->text()) return std::optional<std::string>(*text);
  return wrongType(key, "a string");
}

std::expected<std::optional<bool>, PlatformError> optionalBoolean(const PlistDictionary& fields,
                                                                  std::string_view key) {
  const PlistValue* value = fields.find(key);
  if (value == nullptr) return std::optional<bool>{};
  if (const std::optional<bool> flag = value->boolean()) return flag;
  return wrongType(key, "a boolean");
}

}  // namespace bcn::keyed
