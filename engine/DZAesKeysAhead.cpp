#include "DZAesKeysAhead.h"

#include <algorithm>
#include <cstring>

namespace dz {

TDZAesKeysAhead::TDZAesKeysAhead(std::string password, std::vector<TJob> jobs)
    : FPassword(std::move(password)) {
  FItems.resize(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) FItems[i].Job = jobs[i];
  FThread = std::thread([this] { Work(); });
}

TDZAesKeysAhead::~TDZAesKeysAhead() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FThread.join();
  for (TItem& it : FItems) Wipe(it.Keys, sizeof it.Keys);
}

void TDZAesKeysAhead::Work() {
  for (TItem& it : FItems) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FStop) return;
      if (it.State != TState::Waiting) continue;  // the extractor came first
      it.State = TState::Deriving;
    }
    const bool made = TDZAesCipher::DeriveKeys(it.Job.Field, FPassword, it.Job.Salt, it.Keys);
    {
      std::lock_guard<std::mutex> guard(FLock);
      it.Made = made;
      it.State = TState::Derived;
    }
    FDerived.notify_all();
  }
}

bool TDZAesKeysAhead::Take(size_t ordinal, const TDZAesField& f, const std::string& password,
                           const uint8_t* salt, uint8_t* keys) {
  if (password != FPassword) return false;
  const auto at = std::lower_bound(FItems.begin(), FItems.end(), ordinal,
                                   [](const TItem& it, size_t o) { return it.Job.Ordinal < o; });
  if (at == FItems.end() || at->Job.Ordinal != ordinal) return false;
  TItem& it = *at;
  const TDZAesField& g = it.Job.Field;
  if (g.Strength != f.Strength || std::memcmp(it.Job.Salt, salt, f.SaltBytes()) != 0) return false;
  std::unique_lock<std::mutex> lock(FLock);
  if (it.State == TState::Taken) return false;
  if (it.State == TState::Waiting) {
    // Not reached yet: derived here, while the thread goes on with the next ones.
    it.State = TState::Taken;
    lock.unlock();
    return TDZAesCipher::DeriveKeys(f, password, salt, keys);
  }
  FDerived.wait(lock, [&] { return it.State == TState::Derived; });
  it.State = TState::Taken;
  if (it.Made) std::memcpy(keys, it.Keys, sizeof it.Keys);
  Wipe(it.Keys, sizeof it.Keys);
  return it.Made;
}

}  // namespace dz
