// Building the model of a store from its log: the replayed Roles and Posits filed in log order.
#include "construct/replay_filing.h"

#include <pthread.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <span>

#include "construct/component_access.h"
#include "construct/engine_ops.h"
#include "construct/record_keys.h"
#include "literal/unicode.h"

namespace brackwater::construct {

namespace {

// The replayed Posits in log order, filed a chunk at a time with every component lock held once
// (the engine is not shared yet, so neither is visible: the model ends up as if each Posit had been
// added on its own).
class PositReplay {
 public:
  PositReplay(EngineState& state, HeldLocks& access) : state_(state), access_(access) {}

  Result<void> add(storage::ReplayedPosit& p, std::span<const storage::ReplayedMember> members) {
    members_.clear();
    for (const auto& [role_id, thing] : members) {
      auto role = role_by_id(role_id);
      if (!role) return fail(std::move(role.error()));
      identities_.push_back(thing);
      auto appearance = intern_appearance(access_, state_, *role, thing);
      if (!appearance) return fail(std::move(appearance.error()));
      members_.push_back(appearance->first);
    }
    auto set = intern_appearance_set(access_, state_, members_);
    if (!set) return fail(std::move(set.error()));
    identities_.push_back(p.identity);
    posits_.push_back(Posit{p.identity, set->first, std::move(p.value), p.time});
    hashes_.push_back(posit_key_hash(posits_.back()));
    if (posits_.size() == kChunk) return flush();
    return {};
  }

  Result<void> flush() {
    {
      BW_TAKE(pool, access_, state_.identities);
      for (const Identity id : identities_) pool->record(id);
    }
    identities_.clear();
    std::vector<Identity> expected;
    expected.reserve(posits_.size());
    for (const Posit& posit : posits_) expected.push_back(posit.identity);
    auto filed = index_new_posits(access_, state_, posits_, hashes_);
    if (!filed) return fail(std::move(filed.error()));
    for (size_t i = 0; i < expected.size(); ++i) {
      if ((*filed)[i]->identity != expected[i]) {
        return fail(EngineError::data_corruption("duplicate Posit survived logical replay"));
      }
    }
    posits_.clear();
    hashes_.clear();
    return {};
  }

 private:
  static constexpr size_t kChunk = 4096;

  Result<RoleRef> role_by_id(Identity id) {
    if (id < roles_.size() && roles_[id] != nullptr) return roles_[id];
    BW_TAKE(roles, access_, state_.roles);
    auto found = roles->find_by_id(id);
    if (!found) return fail(EngineError::data_corruption("missing replayed Role " + std::to_string(id)));
    if (id < 4096) {
      if (roles_.size() <= id) roles_.resize(id + 1, nullptr);
      roles_[id] = *found;
    }
    return *found;
  }

  EngineState& state_;
  HeldLocks& access_;
  std::vector<RoleRef> roles_;  // small Role identities already looked up
  std::vector<AppearanceRef> members_;
  std::vector<Identity> identities_;  // to record in the pool
  BlockVector<Posit> posits_;
  BlockVector<uint64_t> hashes_;
};

// A large log's replay leaves free pages in the heap (its buffers were short-lived, and the records
// went to block storage): hand them back to the system, so that an opened store keeps only what
// the engine holds.
void release_replay_buffers(const storage::ReplayedLog& log) {
  constexpr size_t kLargeLog = 65536;  // Posits
#if defined(__GLIBC__)
  if (log.posit_count >= kLargeLog) malloc_trim(0);
#else
  (void)log;
#endif
}

// The sink that replay hands the log's records to: it files them on the caller's thread while replay
// runs on its own (replay_filing.h). The first failure stops the filing.
class ReplayFiling final : public storage::ReplaySink {
 public:
  using Opened = Result<std::pair<std::unique_ptr<storage::Store>, storage::ReplayedLog>>;

  ReplayFiling() : state_(std::make_unique<EngineState>(nullptr)) {}

  // Opens the store at `path`, filing its log into the state as it replays.
  Opened open(const std::string& path) {
    Job job{this, &path, std::nullopt};
    pthread_t thread;
    threaded_ = true;
    if (::pthread_create(&thread, nullptr, &ReplayFiling::run_open, &job) != 0) {
      threaded_ = false;
      return storage::Store::open(path, this);
    }
    file_queued();
    ::pthread_join(thread, nullptr);
    threaded_ = false;
    return std::move(*job.opened);
  }

  // The filed state once replay has succeeded, or the first failure of the filing.
  Result<std::unique_ptr<EngineState>> finish() {
    std::vector<Item>().swap(spare_);
    if (!error_) {
      if (auto flushed = release(); !flushed) error_ = std::move(flushed.error());
    }
    if (error_) return fail(std::move(*error_));
    return std::move(state_);
  }

  // The sink: called by replay.
  Result<void> role(const storage::ReplayedRole& r) override {
    Item item(Item::Role);
    item.role = r;
    return hand_over(std::move(item));
  }

  Result<void> posits(const storage::ReplayedPosits& posits) override {
    for (size_t from = 0; from < posits.posits.size(); from += kItemPosits) {
      const auto part = posits.posits.subspan(from, std::min(kItemPosits, posits.posits.size() - from));
      Item item = spare_item();
      item.posits.reserve(part.size());
      for (storage::ReplayedPosit& p : part) item.posits.push_back(std::move(p));
      item.first_member = part.front().first_member;
      const auto members = posits.members.subspan(item.first_member - posits.first_member,
                                                  part.back().first_member + part.back().member_count - item.first_member);
      item.members.assign(members.begin(), members.end());
      if (auto r = hand_over(std::move(item)); !r) return r;
    }
    return {};
  }

  void restart() override { (void)hand_over(Item(Item::Restart)); }

 private:
  static constexpr size_t kItemPosits = 8192;   // Posits per queued item
  static constexpr size_t kQueuedPosits = 65536;  // at most this many Posits wait to be filed

  struct Item {
    enum Kind { Role, Posits, Restart, Done };
    explicit Item(Kind k = Posits) : kind(k) {}

    Kind kind;
    storage::ReplayedRole role;
    BlockVector<storage::ReplayedPosit> posits;
    BlockVector<storage::ReplayedMember> members;
    uint64_t first_member = 0;
  };

  struct Job {
    ReplayFiling* filing;
    const std::string* path;
    std::optional<Opened> opened;
  };

  static void* run_open(void* job_pointer) {
    Job& job = *static_cast<Job*>(job_pointer);
    job.opened.emplace(storage::Store::open(*job.path, job.filing));
    (void)job.filing->hand_over(Item(Item::Done));
    return nullptr;
  }

  // An empty Posits item, with the buffers of one already filed when there is one.
  Item spare_item() {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return Item(Item::Posits);
    Item item = std::move(spare_.back());
    spare_.pop_back();
    return item;
  }

  // On the replay thread: queues the item (waiting while the queue is full), or files it here
  // without a replay thread.
  Result<void> hand_over(Item item) {
    if (!threaded_) return file(item);
    const Item::Kind kind = item.kind;
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return queued_posits_ < kQueuedPosits || kind == Item::Done; });
    const bool failed = failed_;
    restarting_ = restarting_ || kind == Item::Restart;
    queued_posits_ += item.posits.size();
    queue_.push_back(std::move(item));
    ready_.notify_one();
    if (kind == Item::Restart) {
      // What follows is filed into a new state: wait until the filing has started it.
      room_.wait(lock, [&] { return queue_.empty() && !restarting_; });
      return {};
    }
    if (failed) return fail(EngineError::internal("replayed records are no longer filed"));
    return {};
  }

  // On the opening thread: files the queued items until replay is done.
  void file_queued() {
    while (true) {
      Item item;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !queue_.empty(); });
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      if (item.kind == Item::Done) return;
      const bool filed = file(item).has_value();
      const size_t posits = item.posits.size();
      item.posits.clear();
      item.members.clear();
      std::lock_guard lock(mutex_);
      queued_posits_ -= posits;
      if (item.kind == Item::Restart) {
        failed_ = restarting_ = false;
      } else {
        failed_ = failed_ || !filed;
      }
      // The buffers go back to the replay thread, so that the heap does not churn.
      if (item.kind == Item::Posits && spare_.size() < kQueuedPosits / kItemPosits + 2) spare_.push_back(std::move(item));
      room_.notify_one();
    }
  }

  Result<void> file(Item& item) {
    if (item.kind == Item::Restart) {
      replay_.reset();
      access_.reset();
      state_ = std::make_unique<EngineState>(nullptr);
      error_.reset();
      return {};
    }
    if (error_) return fail(*error_);
    if (item.kind == Item::Role) return file_role(item.role);
    if (!replay_) {
      auto access = HeldLocks::take(*state_);
      if (!access) return stop(std::move(access.error()));
      access_.emplace(std::move(*access));
      replay_.emplace(*state_, *access_);
    }
    const storage::ReplayedPosits posits{item.posits, item.members, item.first_member};
    for (storage::ReplayedPosit& p : item.posits) {
      if (auto added = replay_->add(p, posits.members_of(p)); !added) return stop(std::move(added.error()));
    }
    return {};
  }

  Result<void> file_role(const storage::ReplayedRole& r) {
    // Roles are filed through the engine's own steps, which take each lock in turn.
    if (auto flushed = release(); !flushed) return stop(std::move(flushed.error()));
    if (auto recorded = record_identity(*state_, r.identity); !recorded) return stop(std::move(recorded.error()));
    auto registered = register_role(*state_, literal::to_nfc(r.name), r.identity, r.reserved);
    if (!registered) return stop(std::move(registered.error()));
    if (registered->second) return stop(EngineError::data_corruption("duplicate Role survived logical replay"));
    return {};
  }

  // Files the Posits still held and lets go of the component locks.
  Result<void> release() {
    Result<void> flushed;
    if (replay_) flushed = replay_->flush();
    replay_.reset();
    access_.reset();
    return flushed;
  }

  Result<void> stop(EngineError error) {
    error_ = error;
    return fail(std::move(error));
  }

  // The filing, on the opening thread.
  std::unique_ptr<EngineState> state_;
  std::optional<HeldLocks> access_;
  std::optional<PositReplay> replay_;
  std::optional<EngineError> error_;

  // The queue between the threads.
  bool threaded_ = false;
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<Item> queue_;
  std::vector<Item> spare_;  // filed Posits items, emptied
  size_t queued_posits_ = 0;
  bool failed_ = false;      // the filing failed: the sink tells replay to stop handing over
  bool restarting_ = false;  // a restart is queued
};

}  // namespace

Result<ReplayedStore> replay_store(const std::string& path) {
  ReplayFiling filing;
  auto opened = filing.open(path);
  if (!opened) return fail(std::move(opened.error()));
  auto filed = filing.finish();
  if (!filed) return fail(std::move(filed.error()));
  release_replay_buffers(opened->second);
  return ReplayedStore{std::move(*filed), std::move(opened->first), std::move(opened->second)};
}

}  // namespace brackwater::construct
