#include "archive/output_directory.h"

#include <algorithm>
#include <utility>

namespace tolvex {

OutputDirectory::OutputDirectory(std::string path, Handle handle, DirectoryId rootId)
    : name(std::move(path)),
      state(handle.isOpen() ? State::Open : State::Unusable),
      identified(handle.isOpen()),
      id(rootId),
      handle_(std::move(handle)) {}

OutputDirectory::OutputDirectory(std::shared_ptr<OutputDirectory> parentDirectory,
                                 std::string directoryName)
    : parent(std::move(parentDirectory)), name(std::move(directoryName)) {}

size_t directoryBudget(size_t fileLimit) {
  return fileLimit == 0 ? 64 : std::clamp<size_t>(fileLimit / 4, 2, 64);
}

DirectoryCache::DirectoryCache(FileSystem& files, size_t budget,
                               const std::shared_ptr<OutputDirectory>& root)
    : files_(files), budget_(std::max<size_t>(budget, 2)) {
  if (root->handle_.isOpen()) {
    root->lastUse_ = ++clock_;
    open_.push_back(root);
  }
}

FsStatus DirectoryCache::pin(const std::shared_ptr<OutputDirectory>& directory,
                             const Handle*& handle) {
  handle = nullptr;
  OutputDirectory& wanted = *directory;
  if (wanted.state != OutputDirectory::State::Open) return FsStatus::Failed;
  if (!wanted.handle_.isOpen()) {
    Handle reopened;
    FsStatus status = reopen(wanted, reopened);
    if (status != FsStatus::Ok) return status;
    keep(directory, std::move(reopened));
  }
  ++wanted.pins_;
  wanted.lastUse_ = ++clock_;
  handle = &wanted.handle_;
  return FsStatus::Ok;
}

FsStatus DirectoryCache::reopen(OutputDirectory& wanted, Handle& reopened) {
  DirectoryId id;
  FsStatus status = FsStatus::Failed;
  if (!wanted.parent) {
    status = files_.openRoot(wanted.name, reopened, id);
    if (status == FsStatus::NoDescriptors && shrink())
      status = files_.openRoot(wanted.name, reopened, id);
  } else {
    const Handle* parentHandle = nullptr;
    status = pin(wanted.parent, parentHandle);
    if (status != FsStatus::Ok) return status;
    status = files_.openDirectory(*parentHandle, wanted.name, reopened, &id);
    if (status == FsStatus::NoDescriptors && shrink())
      status = files_.openDirectory(*parentHandle, wanted.name, reopened, &id);
    unpin(*wanted.parent);
  }
  if (status != FsStatus::Ok) return status == FsStatus::NoDescriptors ? status : FsStatus::Failed;
  // Something else under the same name is not the directory the files belong in, and one
  // that was closed without being told apart cannot be known again.
  return wanted.identified && id == wanted.id ? FsStatus::Ok : FsStatus::Failed;
}

void DirectoryCache::unpin(OutputDirectory& directory) {
  if (directory.pins_ > 0) --directory.pins_;
}

void DirectoryCache::adopt(const std::shared_ptr<OutputDirectory>& directory, Handle handle) {
  directory->lastUse_ = ++clock_;
  keep(directory, std::move(handle));
}

void DirectoryCache::forget(OutputDirectory& directory) {
  if (directory.pins_ > 0) return;
  directory.handle_.reset();
  open_.erase(std::remove_if(open_.begin(), open_.end(),
                             [&directory](const std::shared_ptr<OutputDirectory>& held) {
                               return held.get() == &directory;
                             }),
              open_.end());
}

std::vector<Handle> DirectoryCache::takeRetired() {
  std::vector<Handle> retired;
  retired.swap(retired_);
  return retired;
}

bool DirectoryCache::shrink() {
  bool closedRetired = !retired_.empty();
  retired_.clear();
  size_t before = open_.size();
  open_.erase(std::remove_if(open_.begin(), open_.end(),
                             [this](const std::shared_ptr<OutputDirectory>& held) {
                               if (held->pins_ > 0) return false;
                               identifyBeforeClosing(held);
                               held->handle_.reset();
                               return true;
                             }),
              open_.end());
  return open_.size() < before || closedRetired;
}

void DirectoryCache::keep(const std::shared_ptr<OutputDirectory>& directory, Handle handle) {
  makeRoom();
  directory->handle_ = std::move(handle);
  open_.push_back(directory);
}

void DirectoryCache::makeRoom() {
  while (open_.size() >= budget_) {
    // The least recently used of those no entry will ask for again, else of those not
    // pinned.
    auto oldest = open_.end();
    auto oldestUnused = open_.end();
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if ((*it)->pins_ > 0) continue;
      if (oldest == open_.end() || (*it)->lastUse_ < (*oldest)->lastUse_) oldest = it;
      if (it->use_count() == 1 &&
          (oldestUnused == open_.end() || (*it)->lastUse_ < (*oldestUnused)->lastUse_))
        oldestUnused = it;
    }
    if (oldestUnused != open_.end()) oldest = oldestUnused;
    if (oldest == open_.end()) return;  // all pinned: over budget for a moment
    identifyBeforeClosing(*oldest);
    retired_.push_back(std::move((*oldest)->handle_));
    open_.erase(oldest);
  }
}

void DirectoryCache::identifyBeforeClosing(const std::shared_ptr<OutputDirectory>& directory) {
  // Only the cache holds it: no entry, no directory below it and no walk will ask for it
  // again, and it is not opened again.
  if (directory->identified || directory.use_count() == 1) return;
  directory->identified = files_.identify(directory->handle_, directory->id);
}

}  // namespace tolvex
