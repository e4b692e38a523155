// A file system that passes every call to the one it replaced and fails one operation on request.
// Installed for its lifetime; when destroyed it fails the test that left its fault unmet or a file open.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/files.h"
#include "platform/sync.h"

namespace korva::testing {

class FailingFileSystem final : public platform::FileSystem {
  public:
    enum class Op { Open, Read, Write, GetSize, Seek, SetEnd, Close };

    FailingFileSystem() : inner_(platform::Files()), override_(this) {}
    ~FailingFileSystem() override;

    // The next call of `op`, after `skip` such calls that pass, returns `code` without touching the file and
    // moves no bytes; code 0 is then a read or write of nothing, as of a file that shrank or a full disk.
    void FailNext(Op op, int32_t code, int skip = 0);
    int Calls(Op op) const { return calls_[static_cast<int>(op)]; }  // faulted calls included

    [[nodiscard]] int32_t Open(const WChar* path, uint32_t access, uint32_t share,
                               platform::Disposition disposition,
                               std::unique_ptr<platform::File>* out) override;
    [[nodiscard]] int32_t Delete(const WChar* path) override { return inner_.Delete(path); }
    [[nodiscard]] int32_t MakeTempDirectory(WString* path) override { return inner_.MakeTempDirectory(path); }
    [[nodiscard]] int32_t RemoveDirectoryTree(const WChar* path) override {
        return inner_.RemoveDirectoryTree(path);
    }

  private:
    class FailingFile;
    template <typename Call>
    int32_t Pass(Op op, uint32_t* moved, Call call);

    platform::FileSystem& inner_;
    platform::ScopedFileSystemOverride override_;
    platform::RecursiveLock lock_;
    Op op_ = Op::Open;
    int32_t code_ = 0;
    int skip_ = -1;  // < 0: no fault waiting
    std::atomic<int> calls_[static_cast<int>(Op::Close) + 1]{};
    std::atomic<int> openFiles_{0};
};

}  // namespace korva::testing
