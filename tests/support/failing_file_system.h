// A file system that passes every call to the one it replaced and fails any single operation on request.
// Installed for its lifetime; when destroyed it fails the test that left a fault unmet or a file open.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "platform/files.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace korva::testing {

class FailingFileSystem final : public platform::FileSystem {
  public:
    enum class Op { Open, Read, Write, GetSize, Seek, SetEnd, Close };

    FailingFileSystem();
    ~FailingFileSystem() override;
    FailingFileSystem(const FailingFileSystem&) = delete;
    FailingFileSystem& operator=(const FailingFileSystem&) = delete;

    // The next call of `op` on a path containing `match` (ASCII case-insensitive; empty: any), after `skip`
    // such calls that pass, returns `code` without touching the file; code 0 is a read or write of no bytes,
    // as when a file shrinks under its reader or a disk takes nothing. Faults queue in order.
    void FailNext(Op op, int32_t code, WStringView match = {}, int skip = 0);
    // How many times `op` was called, faulted calls included.
    int Calls(Op op) const;

    [[nodiscard]] int32_t Open(const WChar* path, uint32_t access, uint32_t share,
                               platform::Disposition disposition,
                               std::unique_ptr<platform::File>* out) override;
    [[nodiscard]] int32_t Delete(const WChar* path) override { return inner_.Delete(path); }
    [[nodiscard]] int32_t MakeTempDirectory(WString* path) override { return inner_.MakeTempDirectory(path); }
    [[nodiscard]] int32_t RemoveDirectoryTree(const WChar* path) override {
        return inner_.RemoveDirectoryTree(path);
    }

    // Used by the files it opens: true with *code set when a fault for `op` on `path` is due.
    bool TakeFault(Op op, WStringView path, int32_t* code);
    void FileClosed();

  private:
    struct Fault {
        Op op;
        int32_t code;
        WString match;  // lower case
        int skip;
    };

    mutable platform::RecursiveLock lock_;
    platform::FileSystem& inner_;
    platform::ScopedFileSystemOverride override_;
    std::deque<Fault> faults_;
    int calls_[static_cast<int>(Op::Close) + 1] = {};
    int openFiles_ = 0;
};

}  // namespace korva::testing
