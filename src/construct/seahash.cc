#include "construct/seahash.h"

namespace brackwater::construct {

uint64_t seahash(std::string_view bytes) {
  SeaHasher h;
  h.write(bytes);
  return h.finish();
}

}  // namespace brackwater::construct
