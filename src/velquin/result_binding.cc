#include "velquin/result_binding.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace brackwater::velquin {

ResultBinding::ResultBinding(const ResultBinding& other) : state_(other.state_) {
  if (state_ == State::Multi) {
    multi_ = new Roaring64Map(*other.multi_);
  } else {
    single_ = other.single_;
  }
}

ResultBinding& ResultBinding::operator=(ResultBinding&& other) noexcept {
  if (this != &other) {
    this->~ResultBinding();
    single_ = std::exchange(other.single_, 0);
    state_ = std::exchange(other.state_, State::Empty);
  }
  return *this;
}

ResultBinding::~ResultBinding() {
  if (state_ == State::Multi) delete multi_;
}

ResultBinding& ResultBinding::operator=(const ResultBinding& other) {
  if (this != &other) *this = ResultBinding(other);
  return *this;
}

void ResultBinding::insert(Identity id) {
  switch (state_) {
    case State::Empty:
      state_ = State::Single;
      single_ = id;
      return;
    case State::Single:
    {
      if (single_ == id) return;
      auto multi = std::make_unique<Roaring64Map>();
      multi->add(single_);
      multi->add(id);
      multi_ = multi.release();
      state_ = State::Multi;
      return;
    }
    case State::Multi:
      multi_->add(id);
      return;
  }
}

uint64_t ResultBinding::size() const {
  switch (state_) {
    case State::Empty: return 0;
    case State::Single: return 1;
    case State::Multi: return multi_->cardinality();
  }
  return 0;
}

void ResultBinding::append_identities(std::vector<Identity>& out) const {
  if (state_ == State::Single) {
    out.push_back(single_);
  } else if (state_ == State::Multi) {
    size_t base = out.size();
    out.resize(base + multi_->cardinality());
    multi_->toUint64Array(out.data() + base);
  }
}

bool ResultBinding::operator==(const ResultBinding& other) const {
  if (state_ != other.state_) return false;
  if (state_ == State::Single) return single_ == other.single_;
  if (state_ == State::Multi) return *multi_ == *other.multi_;
  return true;
}

namespace {
size_t name_hash(std::string_view name) { return std::hash<std::string_view>{}(name); }
}  // namespace

size_t ScriptVariables::probe(std::string_view name) const {
  const size_t mask = slots_.size() - 1;
  for (size_t i = name_hash(name) & mask;; i = (i + 1) & mask) {
    const uint32_t slot = slots_[i];
    if (slot == 0 || at(slot - 1).name_view() == name) return i;
  }
}

const ResultBinding* ScriptVariables::find(std::string_view name) const {
  if (slots_.empty()) return nullptr;
  const uint32_t slot = slots_[probe(name)];
  return slot == 0 ? nullptr : &at(slot - 1).binding;
}

ResultBinding* ScriptVariables::find(std::string_view name) {
  return const_cast<ResultBinding*>(static_cast<const ScriptVariables&>(*this).find(name));
}

ResultBinding& ScriptVariables::entry(std::string_view name) {
  if ((count_ + 1) * 2 > slots_.size()) grow();
  const size_t i = probe(name);
  if (slots_[i] != 0) return at(slots_[i] - 1).binding;
  Entry& e = *entries_->emplace_back().first;
  if (name.size() < sizeof e.short_name) {
    std::copy(name.begin(), name.end(), e.short_name);
    e.short_name[7] = static_cast<char>(0x80 | name.size());
  } else {
    e.name = names_->store(name);
  }
  ++count_;
  slots_[i] = static_cast<uint32_t>(count_);
  return e.binding;
}

ScriptVariables::NameBytes::~NameBytes() {
  for (auto [block, bytes] : blocks_) construct::release_block(block, bytes);
}

// The byte that tells a short name from a pointer is a pointer's most significant one.
static_assert(std::endian::native == std::endian::little);

std::string_view ScriptVariables::Entry::name_view() const {
  const auto last = static_cast<unsigned char>(short_name[7]);
  if (last & 0x80) return {short_name, size_t(last & 0x7F)};
  uint32_t length;
  std::memcpy(&length, name - sizeof length, sizeof length);
  return {name, length};
}

const char* ScriptVariables::NameBytes::store(std::string_view name) {
  const uint32_t length = static_cast<uint32_t>(name.size());
  const size_t need = sizeof length + name.size();
  if (need > room_) {
    const size_t bytes = std::max(kBlock, need);
    blocks_.emplace_back(static_cast<char*>(construct::allocate_block(bytes)), bytes);
    next_ = blocks_.back().first;
    room_ = bytes;
  }
  std::memcpy(next_, &length, sizeof length);
  char* out = next_ + sizeof length;
  std::copy(name.begin(), name.end(), out);
  next_ += need;
  room_ -= need;
  return out;
}

void ScriptVariables::grow() {
  const size_t size = slots_.empty() ? 16 : slots_.size() * 2;
  slots_ = {};
  slots_.assign(size, 0);
  const size_t mask = size - 1;
  // The entries in the order they were made: a walk front to back over their storage.
  for (size_t e = 0; e < count_; ++e) {
    size_t i = name_hash(at(e).name_view()) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<uint32_t>(e + 1);
  }
}

construct::Result<std::vector<Identity>> result_set_binding(const ResultBinding& binding) {
  std::vector<Identity> out;
  binding.append_identities(out);
  return out;
}

void bind_identity(ScriptVariables& variables, std::string_view name, Identity id) { variables.entry(name).insert(id); }

std::string_view binder_kind_name(BinderKind kind) { return kind == BinderKind::Posit ? "Posit" : "Thing"; }

construct::Result<void> VariableKinds::record(std::string name, BinderKind kind) {
  auto it = kinds_.find(name);
  if (it == kinds_.end()) {
    kinds_.emplace(std::move(name), kind);
    return {};
  }
  if (it->second == kind) return {};
  return construct::fail(
      construct::EngineError::incompatible_domains(binder_kind_name(it->second), binder_kind_name(kind), std::move(name)));
}

std::optional<BinderKind> VariableKinds::find(std::string_view name) const {
  auto it = kinds_.find(name);
  if (it == kinds_.end()) return std::nullopt;
  return it->second;
}

}  // namespace brackwater::velquin
