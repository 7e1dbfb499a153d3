#include "terrain/ids.h"

#include <charconv>

namespace brackwater::terrain {

namespace {

void append_decimal(std::string& out, uint64_t value) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

void append_mask(std::string& out, uint16_t mask) {
  char buf[8];
  auto res = std::to_chars(buf, buf + sizeof buf, mask, 16);
  for (auto n = res.ptr - buf; n < 3; ++n) out.push_back('0');
  out.append(buf, res.ptr);
}

// "terrain-v1-<kind>-"
std::string prefix(const char* kind) {
  std::string out = "terrain-v";
  append_decimal(out, kTerrainVersion);
  out.push_back('-');
  out.append(kind);
  out.push_back('-');
  return out;
}

void append_signature(std::string& out, std::span<const uint64_t> signature) {
  for (size_t i = 0; i < signature.size(); ++i) {
    if (i != 0) out.push_back('-');
    append_decimal(out, signature[i]);
  }
}

}  // namespace

std::string decimal(uint64_t value) {
  std::string out;
  append_decimal(out, value);
  return out;
}

std::string profile_id(uint16_t mask) {
  std::string out = prefix("profile");
  append_mask(out, mask);
  return out;
}

std::string isopleth_id(uint16_t mask) {
  std::string out = prefix("isopleth");
  append_mask(out, mask);
  return out;
}

std::string signature_id(std::span<const uint64_t> signature) {
  std::string out = prefix("signature");
  append_signature(out, signature);
  return out;
}

std::string allocation_id(std::span<const uint64_t> signature, uint64_t role, uint16_t mask) {
  std::string out = prefix("allocation");
  append_signature(out, signature);
  out.push_back('-');
  append_decimal(out, role);
  out.push_back('-');
  append_mask(out, mask);
  return out;
}

}  // namespace brackwater::terrain
