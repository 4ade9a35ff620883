#include "archive/output_directory.h"

#include <stdio.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "temp_dir.h"

namespace tolvex {
namespace {

// The root ./tolvex and its directory "d", open, in a cache of `budget` handles.
struct Tree {
  explicit Tree(size_t budget) {
    Handle handle;
    DirectoryId id;
    EXPECT_EQ(FsStatus::Ok, files.openRoot("tolvex", handle, id));
    root = std::make_shared<OutputDirectory>("tolvex", std::move(handle), id);
    cache = std::make_unique<DirectoryCache>(files, budget, root);
    d = std::make_shared<OutputDirectory>(root, "d");
    const Handle* parent = nullptr;
    EXPECT_EQ(FsStatus::Ok, cache->pin(root, parent));
    EXPECT_EQ(FsStatus::Ok, files.makeDirectory(*parent, "d"));
    Handle opened;
    EXPECT_EQ(FsStatus::Ok, files.openDirectory(*parent, "d", opened, nullptr));
    cache->unpin(*root);
    d->state = OutputDirectory::State::Open;
    cache->adopt(d, std::move(opened));
  }

  FileSystem& files = nativeFileSystem();
  std::shared_ptr<OutputDirectory> root;
  std::unique_ptr<DirectoryCache> cache;
  std::shared_ptr<OutputDirectory> d;
};

// A directory closed to save descriptors is opened again only if it is still the same
// directory: one put in its place (or in the root's place) between closing and opening is
// not used, and nothing is made in it. Reopening used to take whatever had the name.
TEST(DirectoryCache, ReopensOnlyTheSameDirectory) {
  struct Case {
    const char* name;
    const char* moved;   // renamed away while the directories are closed
    const char* placed;  // made in its place
  };
  const Case cases[] = {
      {"nothing changed", nullptr, nullptr},
      {"a directory swapped in", "tolvex/d", "tolvex/d"},
      {"the root swapped", "tolvex", "tolvex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Tree tree(2);
    EXPECT_TRUE(tree.cache->shrink());
    if (c.moved != nullptr) {
      ASSERT_EQ(0, rename(c.moved, "elsewhere"));
      ASSERT_EQ(0, mkdir(c.placed, 0777));
      if (std::string(c.placed) == "tolvex") {
        ASSERT_EQ(0, mkdir("tolvex/d", 0777));
      }
    }
    const Handle* handle = nullptr;
    FsStatus status = tree.cache->pin(tree.d, handle);
    EXPECT_EQ(c.moved == nullptr ? FsStatus::Ok : FsStatus::Failed, status);
    EXPECT_EQ(c.moved == nullptr, handle != nullptr);
    if (handle != nullptr) tree.cache->unpin(*tree.d);
  }
}

// Closing what no one uses leaves pinned directories open, and making room for a new one
// closes the least recently used of those not pinned, never a pinned one.
TEST(DirectoryCache, NeverClosesAPinnedDirectory) {
  TempDir dir;
  Tree tree(2);
  const Handle* handle = nullptr;
  ASSERT_EQ(FsStatus::Ok, tree.cache->pin(tree.d, handle));
  EXPECT_TRUE(tree.cache->shrink());  // the root, which no one uses
  EXPECT_TRUE(handle->isOpen());
  std::shared_ptr<OutputDirectory> made[2];
  for (int i = 0; i < 2; ++i) {
    std::string name = "e" + std::to_string(i);
    made[i] = std::make_shared<OutputDirectory>(tree.d, name);
    ASSERT_EQ(FsStatus::Ok, tree.files.makeDirectory(*handle, name));
    Handle opened;
    ASSERT_EQ(FsStatus::Ok, tree.files.openDirectory(*handle, name, opened, &made[i]->id));
    made[i]->state = OutputDirectory::State::Open;
    tree.cache->adopt(made[i], std::move(opened));
  }
  EXPECT_TRUE(handle->isOpen());
  EXPECT_FALSE(made[0]->handle().isOpen());
  EXPECT_TRUE(made[1]->handle().isOpen());
  tree.cache->unpin(*tree.d);
}

}  // namespace
}  // namespace tolvex
