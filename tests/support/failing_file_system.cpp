#include "tests/support/failing_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace korva::testing {
namespace {

using Op = FailingFileSystem::Op;

class FailingFile final : public platform::File {
  public:
    FailingFile(FailingFileSystem& owner, std::unique_ptr<platform::File> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    ~FailingFile() override { owner_.FileClosed(); }

    [[nodiscard]] int32_t Read(void* buffer, uint32_t size, uint32_t* read) override {
        return owner_.Pass(Op::Read, read, [&] { return inner_->Read(buffer, size, read); });
    }
    [[nodiscard]] int32_t Write(const void* data, uint32_t size, uint32_t* written) override {
        return owner_.Pass(Op::Write, written, [&] { return inner_->Write(data, size, written); });
    }
    [[nodiscard]] int32_t GetSize(uint64_t* size) override {
        return owner_.Pass(Op::GetSize, nullptr, [&] { return inner_->GetSize(size); });
    }
    [[nodiscard]] int32_t Seek(int64_t offset, platform::SeekOrigin origin, uint64_t* at) override {
        return owner_.Pass(Op::Seek, nullptr, [&] { return inner_->Seek(offset, origin, at); });
    }
    [[nodiscard]] int32_t SetEnd() override {
        return owner_.Pass(Op::SetEnd, nullptr, [&] { return inner_->SetEnd(); });
    }
    [[nodiscard]] int32_t Close() override {  // a faulted close leaves the file open until its object goes
        return owner_.Pass(Op::Close, nullptr, [&] { return inner_->Close(); });
    }

  private:
    FailingFileSystem& owner_;
    std::unique_ptr<platform::File> inner_;
};

}  // namespace

FailingFileSystem::~FailingFileSystem() {
    EXPECT_TRUE(faults_.empty()) << faults_.size() << " injected file fault(s) never met, the first for "
                                 << "operation " << static_cast<int>(faults_.front().op);
    EXPECT_EQ(openFiles_, 0) << "files left open";
}

void FailingFileSystem::FailNext(Op op, int32_t code, int skip) {
    platform::LockGuard guard(lock_);
    faults_.push_back(Fault{op, code, skip});
}

int FailingFileSystem::Calls(Op op) const {
    platform::LockGuard guard(lock_);
    return calls_[static_cast<int>(op)];
}

bool FailingFileSystem::TakeFault(Op op, int32_t* code) {
    platform::LockGuard guard(lock_);
    ++calls_[static_cast<int>(op)];
    const auto it = std::find_if(faults_.begin(), faults_.end(), [op](const Fault& f) { return f.op == op; });
    if (it == faults_.end() || it->skip-- > 0)
        return false;
    *code = it->code;
    faults_.erase(it);
    return true;
}

void FailingFileSystem::FileClosed() {
    platform::LockGuard guard(lock_);
    --openFiles_;
}

int32_t FailingFileSystem::Open(const WChar* path, uint32_t access, uint32_t share,
                                platform::Disposition disposition, std::unique_ptr<platform::File>* out) {
    out->reset();
    std::unique_ptr<platform::File> file;
    const int32_t result =
        Pass(Op::Open, nullptr, [&] { return inner_.Open(path, access, share, disposition, &file); });
    if (file != nullptr) {
        platform::LockGuard guard(lock_);
        ++openFiles_;
        *out = std::make_unique<FailingFile>(*this, std::move(file));
    }
    return result;
}

}  // namespace korva::testing
