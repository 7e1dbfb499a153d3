#include "construct/pending_posits.h"

namespace brackwater::construct {

PendingPositList::PendingPositList(std::vector<PendingPosit> posits) {
  entries_.reserve_first(posits.size());
  for (PendingPosit& p : posits) push_back(std::move(p.value), p.appearance_set, p.time);
}

void PendingPositList::push_back(literal::Literal&& value, AppearanceSetRef set, const literal::TimeValue& time,
                                 uint32_t repeats) {
  entries_.emplace_back(std::move(value.text), set, time, repeats, value.kind, false);
}

}  // namespace brackwater::construct
