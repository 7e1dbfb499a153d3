#include "construct/keyed_hash.h"

#include <random>

namespace brackwater::construct {

const HashKeys& process_hash_keys() {
  static const HashKeys keys = [] {
    std::random_device device;
    auto word = [&device] { return (uint64_t(device()) << 32) | uint64_t(device()); };
    HashKeys k;
    k.k0 = word();
    k.k1 = word();
    return k;
  }();
  return keys;
}

}  // namespace brackwater::construct
